// Program streams side by side with zlib on the same programs: decoding speed against inflate,
// encoded size against a greedy parse of the same format and against deflate -9, and the
// encoder's speed. Every figure comes from one run over one fixed set of files.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder.h"
#include "package/decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kCorpusDirectory = "/usr/lib/i386-linux-gnu/wine/i386-windows";
constexpr size_t kEveryNthFile = 4;  // of the sorted names: the same quarter on every run
constexpr int kDecodeRounds = 5;

struct Program {
    std::string name;
    Bytes data;
    Bytes stream;    // ours, optimal
    Bytes deflated;  // zlib level 9
    uint64_t greedyBytes = 0;
};

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<Program> LoadCorpus()
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpusDirectory)) {
        std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".dll" || extension == ".exe"))
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Program> corpus;
    for (size_t i = 0; i < paths.size(); i += kEveryNthFile) {
        std::ifstream file(paths[i], std::ios::binary);
        Program program;
        program.name = std::filesystem::path(paths[i]).filename().string();
        program.data.assign(std::istreambuf_iterator<char>(file), {});
        if (!program.data.empty()) corpus.push_back(std::move(program));
    }
    return corpus;
}

// The plain alternative: the longest match wherever there is one, else a literal.
uint64_t GreedyBytes(const Bytes& data)
{
    MatchTable matches = FindLongestMatches(data.data(), data.size());
    uint64_t bits = kEndBits;
    for (size_t i = 0; i < data.size();) {
        unsigned length = matches.length[i];
        bits += length >= kMinMatch ? kMatchBits : kLiteralBits;
        i += length >= kMinMatch ? length : 1;
    }
    return (bits + 7) / 8;
}

Bytes Deflate(const Bytes& data)
{
    uLongf size = compressBound(data.size());
    Bytes deflated(size);
    if (compress2(deflated.data(), &size, data.data(), data.size(), 9) != Z_OK) abort();
    deflated.resize(size);
    return deflated;
}

// Through real streams, as the stub decodes: the stream read from one, the program written
// to another, both in memory so that no disk is timed.
double TimeOurDecoding(std::vector<Program>& corpus, Bytes& output)
{
    auto start = Clock::now();
    for (Program& program : corpus) {
        FILE* input = fmemopen(program.stream.data(), program.stream.size(), "rb");
        FILE* sink = fmemopen(output.data(), output.size(), "wb");
        BitReader* reader = CreateBitReader(input);
        DecodeResult result;
        if (!DecodeStream(reader, sink, &result) || result.decodedSize != program.data.size()) abort();
        ReleaseBitReader(reader);
        fclose(sink);
        fclose(input);
        if (!std::equal(program.data.begin(), program.data.end(), output.begin())) abort();
    }
    return Seconds(start);
}

double TimeInflate(std::vector<Program>& corpus, Bytes& output)
{
    auto start = Clock::now();
    for (Program& program : corpus) {
        uLongf size = output.size();
        if (uncompress(output.data(), &size, program.deflated.data(), program.deflated.size()) != Z_OK ||
            size != program.data.size())
            abort();
    }
    return Seconds(start);
}

}  // namespace

int main()
{
    std::vector<Program> corpus = LoadCorpus();
    if (corpus.empty()) {
        fprintf(stderr, "stream_bench: no programs under %s\n", kCorpusDirectory);
        return 1;
    }
    uint64_t inputBytes = 0, largest = 0;
    for (const Program& program : corpus) {
        inputBytes += program.data.size();
        largest = std::max<uint64_t>(largest, program.data.size());
    }
    printf("corpus: %zu programs, every %zuth of %s, %.1f MB\n", corpus.size(), kEveryNthFile,
           kCorpusDirectory, inputBytes / 1e6);

    double encodeSeconds = 0;
    uint64_t ourBytes = 0, greedyBytes = 0, deflateBytes = 0;
    size_t smallerThanGreedy = 0;
    for (Program& program : corpus) {
        auto start = Clock::now();
        program.stream = EncodeStream(program.data.data(), program.data.size());
        encodeSeconds += Seconds(start);
        program.greedyBytes = GreedyBytes(program.data);
        program.deflated = Deflate(program.data);
        ourBytes += program.stream.size();
        greedyBytes += program.greedyBytes;
        deflateBytes += program.deflated.size();
        if (program.stream.size() < program.greedyBytes) {
            smallerThanGreedy++;
        } else {
            printf("  not smaller than greedy: %s (%zu against %llu bytes)\n", program.name.c_str(),
                   program.stream.size(), (unsigned long long)program.greedyBytes);
        }
    }

    Bytes output(largest + 1);
    std::vector<double> ours, inflate;
    for (int round = 0; round < kDecodeRounds; round++) {
        ours.push_back(TimeOurDecoding(corpus, output));
        inflate.push_back(TimeInflate(corpus, output));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(inflate.begin(), inflate.end());
    double ourRate = inputBytes / ours[kDecodeRounds / 2] / 1e6;
    double inflateRate = inputBytes / inflate[kDecodeRounds / 2] / 1e6;
    double ourBest = inputBytes / ours[0] / 1e6;
    double inflateBest = inputBytes / inflate[0] / 1e6;

    printf("decode (output MB/s, median of %d; best): ours %.0f (%.0f), inflate %.0f (%.0f), ratio %.2f (%.2f)\n",
           kDecodeRounds, ourRate, ourBest, inflateRate, inflateBest, ourRate / inflateRate, ourBest / inflateBest);
    printf("size (MB): input %.2f, ours %.2f, greedy %.2f, deflate -9 %.2f\n", inputBytes / 1e6,
           ourBytes / 1e6, greedyBytes / 1e6, deflateBytes / 1e6);
    printf("size ratio: ours/greedy %.4f, ours/deflate -9 %.4f, ours/input %.4f\n",
           (double)ourBytes / greedyBytes, (double)ourBytes / deflateBytes, (double)ourBytes / inputBytes);
    printf("smaller than greedy: %zu of %zu files\n", smallerThanGreedy, corpus.size());
    printf("encode: %.1f MB/s\n", inputBytes / encodeSeconds / 1e6);
    return smallerThanGreedy == corpus.size() ? 0 : 1;
}
