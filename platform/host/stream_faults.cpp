// Stream calls wrapped at link time (-Wl,--wrap=...) for the host tests: each is counted,
// fails when host_control.h says so, records what was opened and removed, and takes
// Windows-style paths as this machine spells them.
#include <errno.h>
#include <stdio.h>
#include <sys/types.h>

#include <set>
#include <string>

#include "host_control.h"

namespace {
std::set<FILE*> failedStreams;  // streams whose read was made to fail report an error
}

extern "C" {
FILE* __real_fopen(const char* path, const char* mode);
size_t __real_fread(void* buffer, size_t size, size_t count, FILE* stream);
size_t __real_fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int __real_fclose(FILE* stream);
int __real_remove(const char* path);
int __real_fseeko(FILE* stream, off_t offset, int whence);
int __real_fseek(FILE* stream, long offset, int whence);
int __real_ferror(FILE* stream);

FILE* __wrap_fopen(const char* path, const char* mode)
{
    HostRecord(std::string("fopen ") + path + " " + mode);
    if (HostShouldFail(kHostOpen)) { errno = EACCES; return nullptr; }
    return __real_fopen(HostNativePath(path).c_str(), mode);
}

size_t __wrap_fread(void* buffer, size_t size, size_t count, FILE* stream)
{
    if (HostShouldFail(kHostRead)) { errno = EIO; failedStreams.insert(stream); return 0; }
    return __real_fread(buffer, size, count, stream);
}

size_t __wrap_fwrite(const void* buffer, size_t size, size_t count, FILE* stream)
{
    if (HostShouldFail(kHostWrite)) { errno = ENOSPC; return 0; }
    return __real_fwrite(buffer, size, count, stream);
}

// A failing close still releases the stream, as the C library's does when its last flush fails.
int __wrap_fclose(FILE* stream)
{
    HostRecord("fclose");
    bool fail = HostShouldFail(kHostClose);
    failedStreams.erase(stream);
    int result = __real_fclose(stream);
    return fail ? EOF : result;
}

int __wrap_remove(const char* path)
{
    HostRecord(std::string("remove ") + path);
    if (HostShouldFail(kHostRemove)) { errno = EACCES; return -1; }
    return __real_remove(HostNativePath(path).c_str());
}

int __wrap_fseeko(FILE* stream, off_t offset, int whence)
{
    if (HostShouldFail(kHostSeek)) { errno = EIO; return -1; }
    return __real_fseeko(stream, offset, whence);
}

int __wrap_fseek(FILE* stream, long offset, int whence)
{
    if (HostShouldFail(kHostSeek)) { errno = EIO; return -1; }
    return __real_fseek(stream, offset, whence);
}

int __wrap_ferror(FILE* stream)
{
    return failedStreams.count(stream) ? 1 : __real_ferror(stream);
}
}
