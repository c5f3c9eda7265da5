// kivpack build, inspect, verify and extract.
#include "package_commands.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>
#include <vector>

#include "commands.h"
#include "encoder.h"
#include "package/decoder.h"
#include "package/extract.h"
#include "package_files.h"
#include "package_layout.h"
#include "package_reader.h"
#include "platform.h"
#include "progress_bar.h"

extern const unsigned char kStubImage[];
extern const size_t kStubImage_size;

namespace {

constexpr size_t kBuildCopyChunk = 1 << 16;

int Fail(const Console& console, const std::string& message, int code = kExitFailure)
{
    console.err << "kivpack: " << message << "\n";
    return code;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

bool WantsProgress(const Console& console) { return !console.quiet && StderrIsTerminal(); }

std::string Percent(uint64_t part, uint64_t whole)
{
    if (whole == 0) return "-";
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << 100.0 * (double)part / (double)whole << "%";
    return text.str();
}

std::string ReadFailure(const std::string& name)
{
    return "cannot read " + Quoted(name) + ": " + strerror(errno ? errno : EIO);
}

bool IsExecutableImage(const std::vector<uint8_t>& image)
{
    return image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
}

// --- build

struct BuildInputs {
    std::vector<uint8_t> stub;
    InputFile stubFile;
    InputFile program;
    InputFile blocks[kBlockCount];
};

std::string OpenBuildInputs(const BuildOptions& options, BuildInputs* inputs)
{
    if (!options.stub.empty()) {
        std::string error = OpenInput(options.stub, &inputs->stubFile);
        if (!error.empty()) return error;
        if (inputs->stubFile.size >= kFormatLimit)
            return Quoted(options.stub) + " is too large to be a stub";
        inputs->stub.resize((size_t)inputs->stubFile.size);
        error = ReadInput(&inputs->stubFile, inputs->stub.data(), inputs->stub.size());
        if (!error.empty()) return error;
        if (!IsExecutableImage(inputs->stub))
            return Quoted(options.stub) + " is not a Windows executable image";
    } else {
        if (kStubImage_size == 0) return "this kivpack has no stub built in: give one with --stub";
        inputs->stub.assign(kStubImage, kStubImage + kStubImage_size);
    }
    std::string error = OpenInput(options.program, &inputs->program);
    if (!error.empty()) return error;
    if (inputs->program.size == 0)
        return Quoted(options.program) + " is empty: a package needs a program";
    for (int i = 0; i < kBlockCount; i++) {
        if (options.blocks[i].empty()) continue;
        error = OpenInput(options.blocks[i], &inputs->blocks[i]);
        if (!error.empty()) return error;
    }
    return std::string();
}

// The output must not replace any input: compared by file identity, so that another spelling
// or a link to the same file is caught too.
std::string FindOutputAmongInputs(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs) {
        if (!input.empty() && SameFile(output, input))
            return Quoted(output) + " is also an input (" + Quoted(input) +
                   "): the output must be a file of its own";
    }
    return std::string();
}

std::string WriteBytes(FILE* output, const uint8_t* bytes, size_t size, const std::string& name)
{
    errno = 0;
    if (size != 0 && fwrite(bytes, size, 1, output) != 1) return WriteFailure(name);
    return std::string();
}

std::string CopyBlockFile(InputFile* block, FILE* output, const std::string& name,
                          ProgressBar* progress, uint64_t* copied)
{
    std::vector<uint8_t> buffer(kBuildCopyChunk);
    for (uint64_t remaining = block->size; remaining != 0;) {
        size_t chunk = remaining < buffer.size() ? (size_t)remaining : buffer.size();
        std::string error = ReadInput(block, buffer.data(), chunk);
        if (error.empty()) error = WriteBytes(output, buffer.data(), chunk, name);
        if (!error.empty()) return error;
        remaining -= chunk;
        *copied += chunk;
        progress->Update(*copied);
    }
    return std::string();
}

std::string WritePackage(const BuildOptions& options, BuildInputs* inputs,
                         const std::vector<uint8_t>& stream, const PackageLayout& layout,
                         FILE* output, const Console& console)
{
    const std::string& name = options.output;
    std::string error = WriteBytes(output, inputs->stub.data(), inputs->stub.size(), name);
    if (error.empty()) error = WriteBytes(output, stream.data(), stream.size(), name);
    uint64_t blockTotal = 0, copied = 0;
    for (const InputFile& block : inputs->blocks) blockTotal += block.size;
    ProgressBar progress("copying blocks", blockTotal, WantsProgress(console));
    for (int i = 0; i < kBlockCount && error.empty(); i++)
        if (inputs->blocks[i].size != 0)
            error = CopyBlockFile(&inputs->blocks[i], output, name, &progress, &copied);
    const uint8_t zeros[kPackageAlignment] = {0};
    if (error.empty()) error = WriteBytes(output, zeros, (size_t)layout.paddingSize, name);
    uint8_t trailer[kTrailerSize];
    FormatTrailer(&layout.trailer, trailer);
    if (error.empty()) error = WriteBytes(output, trailer, kTrailerSize, name);
    return error;
}

// --- inspect and verify

struct OpenedPackage {
    InputFile file;
    PackageReport report;
};

std::string OpenPackageFile(const std::string& name, OpenedPackage* package)
{
    std::string error = OpenInput(name, &package->file);
    if (error.empty()) error = AnalyzePackage(package->file.stream, name, &package->report);
    return error;
}

// "1 block", "3 blocks": how many blocks the trailer names.
std::string BlockCountText(const PackageTrailer& trailer)
{
    int count = 0;
    for (const BlockRef& block : trailer.blocks) count += block.size != 0;
    return std::to_string(count) + (count == 1 ? " block" : " blocks");
}

std::string MagicText(const PackageTrailer& trailer)
{
    std::string text;
    for (uint8_t byte : trailer.magic) {
        if (byte >= 0x20 && byte < 0x7F) {
            text += (char)byte;
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

nlohmann::ordered_json ReportJson(const std::string& name, const PackageReport& report)
{
    const PackageTrailer& trailer = report.trailer;
    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    for (int i = 0; i < kBlockCount; i++) {
        blocks.push_back({{"block", i + 1},
                          {"present", trailer.blocks[i].size != 0},
                          {"offset", trailer.blocks[i].offset},
                          {"size", trailer.blocks[i].size}});
    }
    nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
    for (const PackageFault& fault : report.faults) warnings.push_back(fault.text);
    nlohmann::ordered_json ratio = nullptr;
    if (report.stream.decodedSize != 0)
        ratio = (double)trailer.programPackedSize / (double)report.stream.decodedSize;
    nlohmann::ordered_json certificate = nullptr;
    if (report.place.isSigned)
        certificate = {{"offset", report.place.certificateOffset},
                       {"size", report.place.certificateSize}};
    return {
        {"file", name},
        {"fileSize", report.place.fileLength},
        {"stub", {{"size", trailer.programOffset}, {"executable", report.imageIsExecutable}}},
        {"program",
         {{"offset", trailer.programOffset},
          {"packedSize", trailer.programPackedSize},
          {"decodedSize", report.stream.decodedSize},
          {"ratio", ratio},
          {"bytesConsumed", report.stream.bytesConsumed},
          {"endToken", report.stream.endedAtToken != 0}}},
        {"blocks", blocks},
        {"trailer",
         {{"offset", report.place.trailerOffset},
          {"magic", MagicText(trailer)},
          {"reserved0", trailer.reserved0},
          {"reserved1", trailer.reserved1}}},
        {"signed", report.place.isSigned != 0},
        {"certificateTable", certificate},
        {"setupFileSize", SetupFileSize(report)},
        {"sound", report.faults.empty()},
        {"warnings", warnings},
    };
}

void PrintLine(std::ostream& out, const std::string& label, const std::string& text)
{
    out << std::left << std::setw(16) << label << text << "\n";
}

void PrintReport(std::ostream& out, const std::string& name, const PackageReport& report)
{
    const PackageTrailer& trailer = report.trailer;
    const DecodeResult& stream = report.stream;
    auto bytes = [](uint64_t count) { return std::to_string(count) + " bytes"; };
    auto at = [&](uint64_t offset, uint64_t size) {
        return "at " + std::to_string(offset) + ", " + bytes(size);
    };
    PrintLine(out, "package", name + ", " + bytes(report.place.fileLength));
    PrintLine(out, "stub", bytes(trailer.programOffset) +
                               (report.imageIsExecutable ? "" : " (not an executable image)"));
    PrintLine(out, "program stream", at(trailer.programOffset, trailer.programPackedSize));
    std::string decoded = bytes(stream.decodedSize) + ", packed to " +
                          Percent(trailer.programPackedSize, stream.decodedSize);
    decoded += stream.endedAtToken
                   ? ", end token after " + bytes(stream.bytesConsumed)
                   : ", no end token";
    PrintLine(out, "  decoded", decoded);
    for (int i = 0; i < kBlockCount; i++) {
        const BlockRef& block = trailer.blocks[i];
        PrintLine(out, "block " + std::to_string(i + 1),
                  block.size ? at(block.offset, block.size) : "absent");
    }
    PrintLine(out, "trailer", "at " + std::to_string(report.place.trailerOffset) + ", magic \"" +
                                  MagicText(trailer) + "\", reserved " +
                                  std::to_string(trailer.reserved0) + " " +
                                  std::to_string(trailer.reserved1));
    PrintLine(out, "signed",
              report.place.isSigned
                  ? "yes, certificate table " +
                        at(report.place.certificateOffset, report.place.certificateSize)
                  : "no");
    PrintLine(out, "setup file", bytes(SetupFileSize(report)));
    if (report.faults.empty()) PrintLine(out, "warnings", "none");
    for (const PackageFault& fault : report.faults) PrintLine(out, "warning", fault.text);
}

// --- extract

std::string PartName(const std::string& directory, const std::string& name)
{
    return (std::filesystem::path(directory) / name).string();
}

std::string BlockPartName(int index) { return "block" + std::to_string(index + 1) + ".bin"; }

std::string WriteParts(FILE* package, const std::string& packageName, const PackageTrailer& trailer,
                       const std::string& directory, StagedOutputs* outputs)
{
    std::string error;
    std::string name = PartName(directory, "program.exe");
    FILE* output = outputs->Add(name, &error);
    if (!output) return error;
    if (!SeekStream(package, trailer.programOffset)) return ReadFailure(packageName);
    BitReader* reader = CreateBitReader(package);
    if (!reader) return "out of memory";
    DecodeResult result;
    errno = 0;
    int decoded = DecodeStream(reader, output, &result);
    ReleaseBitReader(reader);
    if (!decoded) return result.writeFailed ? WriteFailure(name) : ReadFailure(packageName);
    for (int i = 0; i < kBlockCount; i++) {
        const BlockRef& block = trailer.blocks[i];
        if (block.size == 0) continue;
        name = PartName(directory, BlockPartName(i));
        output = outputs->Add(name, &error);
        if (!output) return error;
        uint32_t offset, size;
        errno = 0;
        if (!CopyBlock(package, output, block.offset, block.size, &offset, &size))
            return ferror(package) ? ReadFailure(packageName) : WriteFailure(name);
    }
    return std::string();
}

// No output may be the package, and the setup file may not be one of the parts.
std::string CheckExtractOutputs(const ExtractOptions& options, const PackageTrailer& trailer)
{
    std::vector<std::string> parts;
    if (!options.partsDirectory.empty()) {
        parts.push_back(PartName(options.partsDirectory, "program.exe"));
        for (int i = 0; i < kBlockCount; i++)
            if (trailer.blocks[i].size != 0)
                parts.push_back(PartName(options.partsDirectory, BlockPartName(i)));
    }
    std::string error = FindOutputAmongInputs(options.output, {options.package});
    for (const std::string& part : parts) {
        if (error.empty()) error = FindOutputAmongInputs(part, {options.package});
        namespace fs = std::filesystem;
        if (error.empty() && (SameFile(part, options.output) ||
                              fs::path(part).lexically_normal() == fs::path(options.output).lexically_normal()))
            error = Quoted(options.output) + " is also one of the parts";
    }
    return error;
}

// The setup file and the parts, all committed together or none of them.
std::string WriteExtraction(const ExtractOptions& options, OpenedPackage* package)
{
    FILE* stream = package->file.stream;
    const PackageTrailer& trailer = package->report.trailer;
    StagedOutputs outputs;
    std::string error;
    FILE* output = outputs.Add(options.output, &error);
    if (!output) return error;
    errno = 0;
    if (!SeekStream(stream, trailer.programOffset) || !WriteSetupFile(stream, &trailer, output))
        return ferror(stream) ? ReadFailure(options.package) : WriteFailure(options.output);
    if (!options.partsDirectory.empty()) {
        error = WriteParts(stream, options.package, trailer, options.partsDirectory, &outputs);
        if (!error.empty()) return error;
    }
    return outputs.Commit();
}

// A program too large for this machine's memory is refused like any other bad input.
int RunGuarded(const Console& console, const std::string& task, const std::function<int()>& run)
{
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return Fail(console, "cannot " + task + ": out of memory");
    }
}

}  // namespace

int RunBuild(const BuildOptions& options, const Console& console)
{
    BuildInputs inputs;
    std::string error = OpenBuildInputs(options, &inputs);
    if (!error.empty()) return Fail(console, error);
    std::vector<std::string> inputNames = {options.stub, options.program};
    inputNames.insert(inputNames.end(), options.blocks, options.blocks + kBlockCount);
    error = FindOutputAmongInputs(options.output, inputNames);
    if (!error.empty()) return Fail(console, error, kExitUsage);
    if (IsDirectory(options.output))
        return Fail(console, "cannot write " + Quoted(options.output) + ": " + strerror(EISDIR));

    // Refused before the program is read and encoded: blocks too large for any stream.
    PackageSizes sizes;
    sizes.stub = inputs.stub.size();
    sizes.program = inputs.program.size;
    for (int i = 0; i < kBlockCount; i++) sizes.blocks[i] = inputs.blocks[i].size;
    PackageLayout layout;
    error = PlanPackage(sizes, &layout);
    if (!error.empty()) return Fail(console, "cannot build " + Quoted(options.output) + ": " + error);

    std::vector<uint8_t> program((size_t)inputs.program.size);
    error = ReadInput(&inputs.program, program.data(), program.size());
    if (!error.empty()) return Fail(console, error);
    std::vector<uint8_t> stream;
    {
        ProgressBar progress("encoding the program", program.size(), WantsProgress(console));
        stream = EncodeStream(program.data(), program.size(),
                              [&progress](size_t done) { progress.Update(done); });
    }
    sizes.stream = stream.size();
    error = PlanPackage(sizes, &layout);
    if (!error.empty()) return Fail(console, "cannot build " + Quoted(options.output) + ": " + error);

    StagedOutputs outputs;
    FILE* output = outputs.Add(options.output, &error);
    if (!output) return Fail(console, error);
    error = WritePackage(options, &inputs, stream, layout, output, console);
    if (error.empty()) error = outputs.Commit();
    if (!error.empty()) return Fail(console, error);
    if (!console.quiet)
        console.out << options.output << ": " << layout.packageSize << " bytes, program "
                    << program.size() << " bytes packed to " << stream.size() << " ("
                    << Percent(stream.size(), program.size()) << "), "
                    << BlockCountText(layout.trailer) << "\n";
    return kExitSuccess;
}

int RunInspect(const std::string& name, bool json, const Console& console)
{
    OpenedPackage package;
    std::string error = OpenPackageFile(name, &package);
    if (!error.empty()) return Fail(console, error);
    if (json)
        console.out << ReportJson(name, package.report).dump(2) << "\n";
    else
        PrintReport(console.out, name, package.report);
    if (!console.out.flush()) return Fail(console, "cannot write the report of " + Quoted(name));
    return kExitSuccess;
}

int RunVerify(const std::string& name, const Console& console)
{
    OpenedPackage package;
    std::string error = OpenPackageFile(name, &package);
    if (!error.empty()) return Fail(console, error);
    const PackageReport& report = package.report;
    for (const PackageFault& fault : report.faults) Fail(console, Quoted(name) + ": " + fault.text);
    if (!report.faults.empty()) return kExitFailure;
    if (!console.quiet)
        console.out << name << ": sound, program " << report.stream.decodedSize << " bytes, "
                    << BlockCountText(report.trailer) << "\n";
    return kExitSuccess;
}

int RunExtract(const ExtractOptions& options, const Console& console)
{
    OpenedPackage package;
    std::string error = OpenPackageFile(options.package, &package);
    if (!error.empty()) return Fail(console, error);
    const PackageReport& report = package.report;
    // Where the stub's extraction would fail, so does this one; other faults only warn.
    for (const PackageFault& fault : report.faults)
        if (fault.stopsExtraction)
            return Fail(console, "cannot extract " + Quoted(options.package) + ": " + fault.text);
    error = CheckExtractOutputs(options, report.trailer);
    if (!error.empty()) return Fail(console, error, kExitUsage);

    bool createdDirectory = false;
    if (!options.partsDirectory.empty() && !IsDirectory(options.partsDirectory)) {
        std::error_code failure;
        createdDirectory = std::filesystem::create_directory(options.partsDirectory, failure);
        if (failure)
            return Fail(console, "cannot create " + Quoted(options.partsDirectory) + ": " +
                                     failure.message());
    }
    error = WriteExtraction(options, &package);
    if (!error.empty()) {
        if (createdDirectory) {
            std::error_code ignored;
            std::filesystem::remove(options.partsDirectory, ignored);
        }
        return Fail(console, error);
    }
    if (!console.quiet) {
        for (const PackageFault& fault : report.faults)
            console.err << "kivpack: warning: " << Quoted(options.package) << ": " << fault.text << "\n";
        console.out << options.output << ": " << SetupFileSize(report) << " bytes, the setup file of "
                    << options.package << "\n";
    }
    return kExitSuccess;
}

void AddPackageCommands(CLI::App& app, const Console& console, int* exitCode)
{
    // Owned by the callbacks, which the app keeps as long as it lives.
    auto build = std::make_shared<BuildOptions>();
    CLI::App* command = app.add_subcommand("build", "build a package: the stub, the program "
                                                    "stream, the blocks and the trailer");
    command->add_option("-o,--output", build->output, "the package to write, replaced only when "
                                                      "complete")
        ->required()
        ->type_name("FILE");
    command->add_option("--program", build->program, "the secondary setup program")
        ->required()
        ->type_name("FILE");
    for (int i = 0; i < kBlockCount; i++) {
        std::string number = std::to_string(i + 1);
        command->add_option("--block" + number, build->blocks[i], "data block " + number)
            ->type_name("FILE");
    }
    command->add_option("--stub", build->stub, "the stub image to use instead of the built-in one")
        ->type_name("FILE");
    command->fallthrough();
    command->callback([build, &console, exitCode] {
        *exitCode = RunGuarded(console, "build " + Quoted(build->output),
                               [&] { return RunBuild(*build, console); });
    });

    auto inspect = std::make_shared<std::pair<std::string, bool>>();
    command = app.add_subcommand("inspect", "show the pieces of a package and what is unsound "
                                            "in it");
    command->add_option("PACKAGE", inspect->first, "the package to read")->required()->type_name("FILE");
    command->add_flag("--json", inspect->second, "print one JSON object");
    command->fallthrough();
    command->callback([inspect, &console, exitCode] {
        *exitCode = RunGuarded(console, "inspect " + Quoted(inspect->first),
                               [&] { return RunInspect(inspect->first, inspect->second, console); });
    });

    auto verify = std::make_shared<std::string>();
    command = app.add_subcommand("verify", "check a package; exit code 1 and one line per fault "
                                           "if it is unsound");
    command->add_option("PACKAGE", *verify, "the package to check")->required()->type_name("FILE");
    command->fallthrough();
    command->callback([verify, &console, exitCode] {
        *exitCode = RunGuarded(console, "verify " + Quoted(*verify),
                               [&] { return RunVerify(*verify, console); });
    });

    auto extract = std::make_shared<ExtractOptions>();
    command = app.add_subcommand("extract", "write the temporary setup file the stub would write "
                                            "for a package");
    command->add_option("PACKAGE", extract->package, "the package to read")->required()->type_name("FILE");
    command->add_option("-o,--output", extract->output, "the setup file to write, replaced only "
                                                        "when complete")
        ->required()
        ->type_name("FILE");
    command->add_option("--parts", extract->partsDirectory, "also write program.exe and "
                                                            "block1.bin ... into this directory")
        ->type_name("DIR");
    command->fallthrough();
    command->callback([extract, &console, exitCode] {
        *exitCode = RunGuarded(console, "extract " + Quoted(extract->package),
                               [&] { return RunExtract(*extract, console); });
    });
}
