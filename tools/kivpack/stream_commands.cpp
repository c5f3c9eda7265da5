// kivpack compress and decompress: raw program streams, without a package around them.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "encoder.h"
#include "package/decoder.h"
#include "package_files.h"
#include "progress_bar.h"

namespace {

int Fail(const Console& console, const std::string& message, int code = kExitFailure)
{
    console.err << "kivpack: " << message << "\n";
    return code;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

bool ShowsProgress(const Console& console) { return !console.quiet && StderrIsTerminal(); }

int Compress(const std::string& inputName, const std::string& outputName, const Console& console)
{
    if (SameFile(inputName, outputName))
        return Fail(console, Quoted(outputName) + " is the input itself", kExitUsage);
    InputFile input;
    std::string error = OpenInput(inputName, &input);
    std::vector<uint8_t> data(input.size);
    if (error.empty()) error = ReadInput(&input, data.data(), data.size());
    if (!error.empty()) return Fail(console, error);

    std::vector<uint8_t> stream;
    {
        ProgressBar progress("compressing", data.size(), ShowsProgress(console));
        stream = EncodeStream(data.data(), data.size(), [&](size_t done) { progress.Update(done); });
    }
    StagedOutputs outputs;
    FILE* output = outputs.Add(outputName, &error);
    if (!output) return Fail(console, error);
    if (fwrite(stream.data(), 1, stream.size(), output) != stream.size())
        return Fail(console, WriteFailure(outputName));
    error = outputs.Commit();
    if (!error.empty()) return Fail(console, error);
    if (!console.quiet) {
        console.out << "compressed " << Quoted(inputName) << " (" << data.size() << " bytes) to "
                    << Quoted(outputName) << " (" << stream.size() << " bytes)\n";
    }
    return kExitSuccess;
}

int Decompress(const std::string& inputName, const std::string& outputName, const Console& console)
{
    if (SameFile(inputName, outputName))
        return Fail(console, Quoted(outputName) + " is the input itself", kExitUsage);
    InputFile input;
    std::string error = OpenInput(inputName, &input);
    if (!error.empty()) return Fail(console, error);
    StagedOutputs outputs;
    FILE* output = outputs.Add(outputName, &error);
    if (!output) return Fail(console, error);

    BitReader* reader = CreateBitReader(input.stream);
    if (!reader) return Fail(console, "out of memory");
    DecodeResult result;
    errno = 0;
    DecodeStream(reader, output, &result);
    ReleaseBitReader(reader);
    if (result.readFailed) return Fail(console, "cannot read " + Quoted(inputName) + ": " + strerror(errno ? errno : EIO));
    if (result.writeFailed) return Fail(console, WriteFailure(outputName));
    error = outputs.Commit();
    if (!error.empty()) return Fail(console, error);

    // What was decoded is kept either way: it is what the stub would have written.
    if (!result.endedAtToken) {
        return Fail(console, Quoted(inputName) + " ends without its end token; " +
                                 std::to_string(result.decodedSize) + " bytes decoded to " + Quoted(outputName));
    }
    if (result.bytesConsumed != input.size) {
        return Fail(console, Quoted(inputName) + " has " + std::to_string(input.size - result.bytesConsumed) +
                                 " bytes after its end token; " + std::to_string(result.decodedSize) +
                                 " bytes decoded to " + Quoted(outputName));
    }
    if (!console.quiet) {
        console.out << "decompressed " << Quoted(inputName) << " (" << input.size << " bytes) to "
                    << Quoted(outputName) << " (" << result.decodedSize << " bytes)\n";
    }
    return kExitSuccess;
}

struct FilePair {
    std::string input;
    std::string output;
};

void AddFilePair(CLI::App* command, FilePair* files)
{
    command->add_option("IN", files->input, "the file to read")->required();
    command->add_option("OUT", files->output, "the file to write, replaced only when complete")->required();
}

}  // namespace

void AddStreamCommands(CLI::App& app, const Console& console, int* exitCode)
{
    // Owned for the life of the process: the callbacks run after parsing, from app.
    static FilePair compressFiles, decompressFiles;
    CLI::App* compress = app.add_subcommand("compress", "encode a file as a program stream, in the fewest bits");
    AddFilePair(compress, &compressFiles);
    compress->callback([&console, exitCode] {
        *exitCode = Compress(compressFiles.input, compressFiles.output, console);
    });
    CLI::App* decompress = app.add_subcommand("decompress", "decode a program stream");
    AddFilePair(decompress, &decompressFiles);
    decompress->callback([&console, exitCode] {
        *exitCode = Decompress(decompressFiles.input, decompressFiles.output, console);
    });
}
