// The files of the packaging commands: inputs opened with clear errors, outputs that appear
// whole or not at all, and the test that two names are one file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// An input opened for reading. Open refuses a directory; `size` is its length when opened.
struct InputFile {
    std::string name;
    FILE* stream = nullptr;
    uint64_t size = 0;

    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
};

// Returns an empty text, or "cannot read 'NAME': reason".
std::string OpenInput(const std::string& name, InputFile* input);

// Reads `size` bytes from the input's current position. Returns an empty text or the reason.
std::string ReadInput(InputFile* input, uint8_t* bytes, size_t size);

// Output files written beside their targets and renamed over them only when all are complete.
// Whatever has not been committed is removed when the set is destroyed, and by an interrupt.
class StagedOutputs {
public:
    StagedOutputs() = default;
    StagedOutputs(const StagedOutputs&) = delete;
    StagedOutputs& operator=(const StagedOutputs&) = delete;
    ~StagedOutputs();

    // Creates a new file beside `target`. Returns its stream (owned here) or null with
    // `error` set to "cannot write 'TARGET': reason".
    FILE* Add(const std::string& target, std::string* error);

    // Closes every file and renames each over its target. On failure removes what it can and
    // returns the reason; targets already replaced stay replaced.
    std::string Commit();

    // Closes and removes every file not yet committed.
    void Discard();

private:
    struct Staged {
        std::string target;
        std::string temporary;
        FILE* stream;
    };
    std::vector<Staged> files;
};

// The text for a failed write to `target`, from errno.
std::string WriteFailure(const std::string& target);

// True when both names lead to the same existing file (the same file identity, whatever the
// spelling or the links in between).
bool SameFile(const std::string& a, const std::string& b);

// True when the name is an existing directory.
bool IsDirectory(const std::string& name);
