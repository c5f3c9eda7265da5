// What the fuzz targets share: a check that stays on in every build, the harness's own file
// access (around the wrapped stream calls, so that their record and counts are the code
// under test's alone), and a decoding from memory into memory.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/decoder.h"

#define CHECK(condition) do { if (!(condition)) { fprintf(stderr, "check failed: %s\n", #condition); abort(); } } while (0)

// The names in a directory, without "." and "..".
inline std::vector<std::string> Names(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* listing = opendir(directory.c_str());
    CHECK(listing);
    while (dirent* entry = readdir(listing))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(listing);
    return names;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    // A new file rather than a truncated one, which the file system would flush on close.
    unlink(path.c_str());
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    CHECK(descriptor >= 0);
    CHECK(size == 0 || write(descriptor, data, size) == (ssize_t)size);
    CHECK(close(descriptor) == 0);
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    int descriptor = open(path.c_str(), O_RDONLY);
    CHECK(descriptor >= 0);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (ssize_t got; (got = read(descriptor, chunk, sizeof chunk)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    close(descriptor);
    return bytes;
}

// Runs the real decoder over a stream in memory; it must succeed. Returns what it wrote.
inline std::vector<uint8_t> DecodeInMemory(const uint8_t* stream, size_t size, DecodeResult* result)
{
    FILE* input = fmemopen((void*)stream, size, "rb");
    char* written = nullptr;
    size_t writtenSize = 0;
    FILE* output = open_memstream(&written, &writtenSize);
    CHECK(input && output);
    BitReader* reader = CreateBitReader(input);
    CHECK(reader);
    CHECK(DecodeStream(reader, output, result) == 1);
    ReleaseBitReader(reader);
    fclose(output);
    fclose(input);
    std::vector<uint8_t> bytes(written, written + writtenSize);
    free(written);
    return bytes;
}
