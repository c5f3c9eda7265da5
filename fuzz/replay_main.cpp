// Runs a fuzz target over every file of the given corpus directories (or files), once each,
// so that the corpus stays a regression test in builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Replay(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fprintf(stderr, "replay: cannot read '%s'\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s CORPUS_DIRECTORY_OR_FILE...\n", argv[0]);
        return 2;
    }
    int replayed = 0;
    for (int i = 1; i < argc; i++) {
        std::vector<fs::path> paths;
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file()) paths.push_back(entry.path());
        } else {
            paths.push_back(argv[i]);
        }
        for (const fs::path& path : paths) {
            if (!Replay(path)) return 1;
            replayed++;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    printf("replay: %d inputs passed\n", replayed);
    return 0;
}
