// Everything the portable code asks of the operating system comes through here.
#pragma once

#if defined(_WIN32)
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#  include <fcntl.h>
#  include <io.h>
#  include <sys/stat.h>
#else
#  include "host/host_api.h"
#endif

#include <stdint.h>
#include <stdio.h>

// 64-bit stream positions: the format's 32-bit offsets reach 4 GiB, past what a 32-bit
// `long` seek can name. msvcrt's fpos_t is a 64-bit integer; the host has fseeko.
#if defined(_WIN32)
inline int SeekStream(FILE* stream, uint64_t offset)
{
    fpos_t position = (fpos_t)offset;
    return fsetpos(stream, &position) == 0;
}
inline int TellStream(FILE* stream, uint64_t* offset)
{
    fpos_t position;
    if (fgetpos(stream, &position) != 0 || position < 0) return 0;
    *offset = (uint64_t)position;
    return 1;
}
// Creates the file only if no file of that name exists; never opens an existing one.
inline FILE* CreateNewFile(const char* path)
{
    int descriptor = _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) return 0;
    FILE* stream = _fdopen(descriptor, "wb");
    if (!stream) _close(descriptor);
    return stream;
}
#else
inline int SeekStream(FILE* stream, uint64_t offset)
{
    return fseeko(stream, (off_t)offset, SEEK_SET) == 0;
}
inline int TellStream(FILE* stream, uint64_t* offset)
{
    off_t position = ftello(stream);
    if (position < 0) return 0;
    *offset = (uint64_t)position;
    return 1;
}
inline FILE* CreateNewFile(const char* path)
{
    return fopen(path, "wbx");
}
#endif

inline int SeekStreamToEnd(FILE* stream)
{
    return fseek(stream, 0, SEEK_END) == 0;
}
