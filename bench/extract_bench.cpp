// Extraction figures, side by side in one run: the stub's extraction stage on the host against
// `cp` of the same bytes on the same disk, its peak memory for a small and a large block, and
// the cost of keeping the window responsive (the same extraction linked without the pump).
//
//   extract_bench DIR                 makes packages in DIR and prints the figures (wall times
//                                     are medians of interleaved runs; the pump's cost is
//                                     also counted in instructions, which noise cannot move)
//   extract_bench --extract PKG OUT   one extraction (run as a child, so its memory is its own)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "package/extract.h"
#include "shell/bootstrap.h"
#include "package/trailer.h"
#include "platform/platform.h"

namespace {

// The extraction stage itself, with the host layer naming the package as the program's own
// file and OUT's directory as the temporary one; the setup file is then renamed to OUT.
int ExtractOnce(const char* packagePath, const char* outputPath)
{
    std::string output = outputPath;
    std::string directory = output.substr(0, output.rfind('/') + 1);
    Host().moduleFileName = packagePath;
    Host().tempPath = directory;
    if (!ExtractSecondarySetup()) {
        fprintf(stderr, "%s: %s\n", packagePath, bootstrap.errorText);
        return 1;
    }
    return rename(bootstrap.tempSetupPath, outputPath) == 0 ? 0 : 1;
}

struct Run { double seconds; double cpuSeconds; long peakKiB; };

// Runs a command as a child and measures its wall time and peak resident memory.
Run RunChild(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "extract_bench: '%s' failed\n", command[0].c_str());
        exit(1);
    }
    double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {seconds, cpu, usage.ru_maxrss};
}

// A package of a tiny program and one block of `size` bytes of varied data.
void MakePackage(const std::string& path, uint64_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    const uint8_t stream[] = {0xA6, 0xD6, 0xB2, 0x00, 0x00};  // "MZ", then the end token
    fwrite(stream, sizeof stream, 1, file);
    std::vector<uint8_t> chunk(1 << 20);
    uint32_t state = 12345;
    for (auto& byte : chunk) byte = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 24);
    for (uint64_t done = 0; done < size; done += chunk.size())
        fwrite(chunk.data(), std::min<uint64_t>(chunk.size(), size - done), 1, file);
    PackageTrailer trailer = PackageTrailer();
    trailer.programPackedSize = sizeof stream;
    trailer.blocks[0] = {static_cast<uint32_t>(sizeof stream), static_cast<uint32_t>(size)};
    memcpy(trailer.magic, kTrailerMagic, sizeof trailer.magic);
    uint8_t bytes[kTrailerSize];
    FormatTrailer(&trailer, bytes);
    fwrite(bytes, sizeof bytes, 1, file);
    fclose(file);
}

// Instructions a command executes, counted by callgrind: the same for the same work, whatever
// else the machine is doing. 0 when valgrind is not there.
unsigned long long Instructions(const std::vector<std::string>& command, const std::string& log)
{
    std::vector<std::string> counted = {"valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                                        "--log-file=" + log};
    counted.insert(counted.end(), command.begin(), command.end());
    RunChild(counted);
    FILE* file = fopen(log.c_str(), "r");
    unsigned long long count = 0;
    char line[512];
    while (file && fgets(line, sizeof line, file))
        if (const char* at = strstr(line, "Collected : ")) count = strtoull(at + 12, nullptr, 10);
    if (file) fclose(file);
    unlink(log.c_str());
    return count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--extract") == 0) return ExtractOnce(argv[2], argv[3]);
    if (argc != 2) {
        fprintf(stderr, "usage: extract_bench DIR | extract_bench --extract PACKAGE OUT\n");
        return 2;
    }
    std::string directory = argv[1], self = argv[0];
    std::string withoutPump = self + "_nopump";
    std::string small = directory + "/small.pkg", large = directory + "/large.pkg";
    std::string out = directory + "/out.bin";
    MakePackage(small, 10ull << 20);
    MakePackage(large, 1ull << 30);

    const int rounds = 6;
    std::vector<double> copy, extract, extractNoPump, copyCpu, extractCpu;
    long peakSmall = 0, peakLarge = 0;
    // Interleaved, in alternating order, each run starting with nothing left to write back,
    // so that drift and the previous run's dirty pages hit all three alike.
    auto timed = [&](const std::vector<std::string>& command) {
        RunChild({"sync"});
        Run run = RunChild(command);
        unlink(out.c_str());
        return run;
    };
    for (int round = 0; round < rounds; round++) {
        auto copyOnce = [&] {
            Run run = timed({"cp", large, out});
            copy.push_back(run.seconds);
            copyCpu.push_back(run.cpuSeconds);
        };
        if (round % 2) extractNoPump.push_back(timed({withoutPump, "--extract", large, out}).seconds);
        else copyOnce();
        Run run = timed({self, "--extract", large, out});
        extract.push_back(run.seconds);
        extractCpu.push_back(run.cpuSeconds);
        peakLarge = std::max(peakLarge, run.peakKiB);
        if (round % 2) copyOnce();
        else extractNoPump.push_back(timed({withoutPump, "--extract", large, out}).seconds);
        peakSmall = std::max(peakSmall, timed({self, "--extract", small, out}).peakKiB);
    }
    unsigned long long counted = 0, countedNoPump = 0;
    if (system("valgrind --version >/dev/null 2>&1") == 0) {
        counted = Instructions({self, "--extract", small, out}, directory + "/callgrind.log");
        countedNoPump = Instructions({withoutPump, "--extract", small, out}, directory + "/callgrind.log");
        unlink(out.c_str());
    }
    unlink(small.c_str());
    unlink(large.c_str());

    double cp = Median(copy), ours = Median(extract), bare = Median(extractNoPump);
    printf("extraction of a 1 GiB block (median of %d, same disk)\n", rounds);
    printf("  cp                        %7.3f s\n", cp);
    printf("  extraction                %7.3f s   %.2fx cp (target <= 1.20x)\n", ours, ours / cp);
    printf("  processor time: cp %.3f s, extraction %.3f s   %.2fx cp\n", Median(copyCpu),
           Median(extractCpu), Median(extractCpu) / Median(copyCpu));
    printf("  extraction without pump   %7.3f s   pumping costs %+.2f%% (target < 1%%)\n", bare,
           (ours / bare - 1) * 100);
    if (countedNoPump)
        printf("  instructions, 10 MiB      %llu with pump, %llu without: pumping costs %+.3f%%\n",
               counted, countedNoPump, (static_cast<double>(counted) / countedNoPump - 1) * 100);
    printf("  peak memory, 10 MiB block %7ld KiB\n", peakSmall);
    printf("  peak memory, 1 GiB block  %7ld KiB  (%+ld KiB)\n", peakLarge, peakLarge - peakSmall);
    return 0;
}
