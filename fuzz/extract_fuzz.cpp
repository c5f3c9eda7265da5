// Arbitrary bytes as the program's own file, through the whole extraction stage over the host
// layer: either the temporary directory holds exactly the setup file the package describes,
// or nothing, with one of the stage's own messages. The package is never changed.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "host/host_control.h"
#include "package/extract.h"
#include "package/trailer.h"
#include "reference_decoder.h"
#include "shell/bootstrap.h"

using Bytes = std::vector<uint8_t>;

namespace {

// Every byte the stage writes comes from the package (the program at most 8 bytes for each
// one read, each block at most the whole file), so a bound on the input bounds the work even
// when a trailer names blocks of gigabytes.
constexpr size_t kLargestInput = 1 << 20;

const char kCopyMessage[] = "Cannot copy setup information\r\nto temporary file.";

// One scratch directory per process: the package beside a temporary directory of its own.
struct Scratch {
    std::string directory;
    std::string package;  // as this machine spells it
    std::string temp;
};

void RemoveScratch();

const Scratch& TheScratch()
{
    static Scratch scratch;
    if (scratch.directory.empty()) {
        char pattern[] = "/tmp/kiv_extract_fuzz.XXXXXX";
        CHECK(mkdtemp(pattern));
        scratch.directory = pattern;
        scratch.package = scratch.directory + "/Setup.exe";
        scratch.temp = scratch.directory + "/temp";
        CHECK(mkdir(scratch.temp.c_str(), 0700) == 0);
        atexit(RemoveScratch);
    }
    return scratch;
}

void EmptyTemp()
{
    for (const std::string& name : Names(TheScratch().temp))
        CHECK(unlink((TheScratch().temp + "/" + name).c_str()) == 0);
}

void RemoveScratch()
{
    EmptyTemp();
    unlink(TheScratch().package.c_str());
    rmdir(TheScratch().temp.c_str());
    rmdir(TheScratch().directory.c_str());
}

// What the stage must write for a package with this trailer, or false if a block cannot be
// read in full. The program comes from the reference decoder, not from the stub's own.
bool ExpectedSetupFile(const uint8_t* data, size_t size, const PackageTrailer& trailer, Bytes* file)
{
    if (trailer.programOffset < size)
        *file = ReferenceDecode(data + trailer.programOffset, size - trailer.programOffset).output;
    PackageTrailer written = PackageTrailer();
    memcpy(written.magic, kTrailerMagic, sizeof written.magic);
    for (int i = 0; i < kBlockCount; i++) {
        const BlockRef& block = trailer.blocks[i];
        if (block.size == 0) continue;
        if ((uint64_t)block.offset + block.size > size) return false;
        written.blocks[i] = {(uint32_t)file->size(), block.size};
        file->insert(file->end(), data + block.offset, data + block.offset + block.size);
    }
    uint8_t bytes[kTrailerSize];
    FormatTrailer(&written, bytes);
    file->insert(file->end(), bytes, bytes + kTrailerSize);
    return true;
}

// What the secondary setup relies on, read from the file as it would read it.
void CheckSetupTrailer(const Bytes& file)
{
    CHECK(file.size() >= (size_t)kTrailerSize);
    uint64_t trailerAt = file.size() - kTrailerSize;
    PackageTrailer trailer;
    ParseTrailer(file.data() + trailerAt, &trailer);
    CHECK(HasTrailerMagic(&trailer));
    CHECK(trailer.programOffset == 0 && trailer.programPackedSize == 0);
    CHECK(trailer.reserved0 == 0 && trailer.reserved1 == 0);
    for (const BlockRef& block : trailer.blocks) {
        if (block.size == 0) CHECK(block.offset == 0);
        else CHECK((uint64_t)block.offset + block.size <= trailerAt);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kLargestInput) return 0;
    const Scratch& scratch = TheScratch();
    WriteFile(scratch.package, data, size);

    HostReset();
    memset(&bootstrap, 0, sizeof bootstrap);
    const std::string modulePath = scratch.directory + "\\Setup.exe";
    Host().moduleFileName = modulePath;
    Host().tempPath = scratch.directory + "\\temp\\";

    int extracted = ExtractSecondarySetup();

    // The trailer the stage goes by, found in memory: its search has a target of its own.
    FILE* memory = fmemopen((void*)data, size, "rb");
    CHECK(memory);
    PackageTrailer trailer;
    int isPackage = FindTrailer(memory, &trailer, nullptr);
    fclose(memory);
    Bytes expected;
    bool complete = isPackage && ExpectedSetupFile(data, size, trailer, &expected);

    std::vector<std::string> names = Names(scratch.temp);
    CHECK(extracted == (complete ? 1 : 0));
    if (extracted) {
        CHECK(names.size() == 1 && names[0] == "_setup0.exe");
        CHECK(bootstrap.tempSetupPath == scratch.directory + "\\temp\\_setup0.exe");
        CHECK(bootstrap.shortPackagePath == modulePath);
        CHECK(!bootstrap.failed && bootstrap.errorText[0] == 0);
        Bytes file = ReadFile(scratch.temp + "/" + names[0]);
        CheckSetupTrailer(file);
        CHECK(file == expected);
    } else {
        CHECK(names.empty());
        CHECK(bootstrap.failed);
        // The package opens and _setup0.exe is free here, so only the two messages about the
        // package itself can be the cause.
        CHECK(strcmp(bootstrap.errorText, isPackage ? kCopyMessage : "Setup.exe is damaged.") == 0);
    }
    Bytes package = ReadFile(scratch.package);
    CHECK(package.size() == size && (size == 0 || memcmp(package.data(), data, size) == 0));
    EmptyTemp();
    return 0;
}
