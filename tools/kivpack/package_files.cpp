// Inputs, staged outputs and file identity for the packaging commands.
#include "package_files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace {

// Temporary files not yet committed, removed if the process is interrupted. Touched only by
// the one thread; a signal arriving while the list changes can at worst miss one name.
std::vector<std::string> pendingTemporaries;

extern "C" void RemovePendingAndExit(int signalNumber)
{
    for (const std::string& name : pendingTemporaries) remove(name.c_str());
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void Track(const std::string& temporary)
{
    static bool handlersInstalled;
    if (!handlersInstalled) {
        std::signal(SIGINT, RemovePendingAndExit);
        std::signal(SIGTERM, RemovePendingAndExit);
        handlersInstalled = true;
    }
    pendingTemporaries.push_back(temporary);
}

void Untrack(const std::string& temporary)
{
    for (size_t i = 0; i < pendingTemporaries.size(); i++) {
        if (pendingTemporaries[i] == temporary) {
            pendingTemporaries.erase(pendingTemporaries.begin() + (long)i);
            return;
        }
    }
}

std::string Reason(int error) { return strerror(error ? error : EIO); }

}  // namespace

InputFile::~InputFile()
{
    if (stream) fclose(stream);
}

bool IsDirectory(const std::string& name)
{
    std::error_code error;
    return fs::is_directory(name, error);
}

std::string OpenInput(const std::string& name, InputFile* input)
{
    input->name = name;
    if (IsDirectory(name)) return "cannot read '" + name + "': " + Reason(EISDIR);
    errno = 0;
    input->stream = fopen(name.c_str(), "rb");
    if (!input->stream) return "cannot read '" + name + "': " + Reason(errno);
    if (!SeekStreamToEnd(input->stream) || !TellStream(input->stream, &input->size) ||
        !SeekStream(input->stream, 0))
        return "cannot read '" + name + "': " + Reason(errno);
    return std::string();
}

std::string ReadInput(InputFile* input, uint8_t* bytes, size_t size)
{
    errno = 0;
    if (size == 0 || fread(bytes, 1, size, input->stream) == size) return std::string();
    if (ferror(input->stream)) return "cannot read '" + input->name + "': " + Reason(errno);
    return "cannot read '" + input->name + "': it became shorter while it was read";
}

std::string WriteFailure(const std::string& target)
{
    return "cannot write '" + target + "': " + Reason(errno);
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

StagedOutputs::~StagedOutputs() { Discard(); }

FILE* StagedOutputs::Add(const std::string& target, std::string* error)
{
    if (IsDirectory(target)) {
        *error = "cannot write '" + target + "': " + Reason(EISDIR);
        return nullptr;
    }
    // A name of our own beside the target, so that the rename stays on one file system.
    for (int attempt = 0; attempt < 1000; attempt++) {
        std::string temporary = target + ".kivpack-" + std::to_string(attempt) + ".tmp";
        errno = 0;
        FILE* stream = CreateNewFile(temporary.c_str());
        if (stream) {
            files.push_back({target, temporary, stream});
            Track(temporary);
            return stream;
        }
        if (errno != EEXIST) break;
    }
    *error = WriteFailure(target);
    return nullptr;
}

std::string StagedOutputs::Commit()
{
    std::string failure;
    for (Staged& file : files) {
        errno = 0;
        int closed = fclose(file.stream);
        file.stream = nullptr;
        if (closed != 0 && failure.empty()) failure = WriteFailure(file.target);
    }
    for (Staged& file : files) {
        if (!failure.empty()) break;
        std::error_code error;
        fs::rename(file.temporary, file.target, error);
        if (error) {
            failure = "cannot write '" + file.target + "': " + error.message();
            break;
        }
        Untrack(file.temporary);
        file.temporary.clear();
    }
    Discard();
    return failure;
}

void StagedOutputs::Discard()
{
    for (Staged& file : files) {
        if (file.stream) fclose(file.stream);
        if (!file.temporary.empty()) {
            remove(file.temporary.c_str());
            Untrack(file.temporary);
        }
    }
    files.clear();
}
