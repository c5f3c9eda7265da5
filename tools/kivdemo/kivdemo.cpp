// kivdemo: a demo secondary setup that checks and reports what the bootstrapper hands it,
// its command line and the trailer at the end of its own file.
//
// Command line: <own path> <package path> <tail>, the parts joined by one blank each; a path
// with blanks is in double quotes (an unquoted own path with blanks is recognised as well).
// Two switches are looked for anywhere in the tail, without regard to case; every other word
// is left alone:
//   /report=FILE  also writes the report into FILE, before any window is shown. FILE with
//                 blanks is quoted, as /report="C:\a b\r.txt" or "/report=C:\a b\r.txt".
//                 The text goes to FILE.tmp first, which is then renamed over FILE, so a
//                 reader finds the whole report or none. The last /report wins.
//   /nowindow     shows no window.
// Otherwise the report is shown in a window titled "Kiv demo setup"; OK, Enter or Escape
// closes it.
//
// The report: these lines in this order, each ending in CR LF; numbers are decimal unless
// said otherwise. A value marked * is a fault.
//   command line: <GetCommandLineA, verbatim>
//   own path: <GetModuleFileNameA of the program>
//   package path: <the second argument, quotes removed; empty if there is none>
//   package size: <size of that file> | cannot open*
//   tail: <everything after the package path and the one blank behind it, verbatim>
//   file size: <size of the own file> | cannot open*
//   trailer: ok | not read* | too short* | bad magic* | leading bytes not zero*
//   block N: <one of the values below>, four lines, N from 1 to 4
//       offset <O> size <S> crc32 <8 lowercase hex digits>
//       absent                                       size 0, offset 0
//       absent, offset <O> not zero*                 a written trailer keeps both 0
//       offset <O> size <S> outside the file*        O + S lies beyond the end of the file
//       offset <O> size <S> overlaps the trailer*    it reaches into the last 56 bytes
//       offset <O> size <S> unreadable*              seek or read failed
//       not read                                     the trailer was not there (see above)
//   faults: <number of values marked * above>
// "leading bytes not zero" still reads the blocks. When the report file cannot be written,
// the window shows one more line: "report file: cannot write <FILE>".
//
// Exit code: 0 all well, 1 faults found, 2 the report file could not be written.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include "kivdemo_resource.h"

constexpr int kTrailerSize = 56;
constexpr int kBlockCount = 4;
constexpr char kTrailerMagic[8] = {'K', 'i', 'v', 'S', 'e', 't', 'u', 'p'};
constexpr int kPathSize = 1024;
constexpr int kChunkSize = 4096;
// Holds a command line of up to 32 KB twice (as a whole and as the tail) and the rest.
constexpr int kReportSize = 96 * 1024;

struct BlockRef {
    uint32_t offset;
    uint32_t size;
};

struct PackageTrailer {
    uint32_t programOffset;
    uint32_t programPackedSize;
    uint32_t reserved0;
    uint32_t reserved1;
    BlockRef blocks[kBlockCount];
    uint8_t magic[8];
};
static_assert(sizeof(PackageTrailer) == kTrailerSize, "the trailer is 56 bytes on disk");

struct Arguments {
    char packagePath[kPathSize];
    const char* tail;  // points into the command line
    char reportPath[kPathSize];
    int noWindow;
};

struct ReportText {
    char text[kReportSize];
    int length;
};

static ReportText report;
static uint32_t crcTable[256];

// Adds text to the report; what does not fit is cut off, the text stays NUL-terminated.
static void Append(const char* text)
{
    while (*text && report.length < kReportSize - 1) report.text[report.length++] = *text++;
    report.text[report.length] = 0;
}

static void AppendLine(const char* key, const char* value)
{
    Append(key);
    Append(": ");
    Append(value);
    Append("\r\n");
}

static void AppendBlockLine(int number, const char* value)
{
    char key[16];
    wsprintfA(key, "block %d", number);
    AppendLine(key, value);
}

static void AppendNumberLine(const char* key, uint32_t number)
{
    char value[16];
    wsprintfA(value, "%lu", (unsigned long)number);
    AppendLine(key, value);
}

// Copies text into a buffer of `size` bytes; returns 0 if it had to be cut.
static int CopyText(char* buffer, int size, const char* text)
{
    int i = 0;
    for (; text[i] && i < size - 1; i++) buffer[i] = text[i];
    buffer[i] = 0;
    return text[i] == 0;
}

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// Returns the rest of `text` after `prefix`, compared without regard to ASCII case, or null.
static const char* AfterPrefix(const char* text, const char* prefix)
{
    for (; *prefix; text++, prefix++)
        if (LowerAscii(*text) != LowerAscii(*prefix)) return 0;
    return text;
}

// Returns the rest of the command line if it starts with `path` as a whole word, else null.
static const char* AfterPath(const char* line, const char* path)
{
    if (!path[0]) return 0;
    const char* rest = AfterPrefix(line, path);
    return rest && (!*rest || IsBlank(*rest)) ? rest : 0;
}

// Skips the program's name: a quoted name runs to its closing quote. Unquoted, a name with
// blanks would be cut at its first blank, so our own path, long or short, is tried first.
static const char* SkipProgramName(const char* line, const char* ownPath)
{
    if (*line == '"') {
        line++;
        while (*line && *line != '"') line++;
        return *line ? line + 1 : line;
    }
    char shortPath[kPathSize];
    const char* rest = AfterPath(line, ownPath);
    DWORD shortLength = rest ? 0 : GetShortPathNameA(ownPath, shortPath, kPathSize);
    if (shortLength > 0 && shortLength < (DWORD)kPathSize) rest = AfterPath(line, shortPath);
    if (rest) return rest;
    while (*line && !IsBlank(*line)) line++;
    return line;
}

// Reads one word: it runs to the next blank outside double quotes, and the quotes are
// dropped, so "C:\a b" and /report="C:\a b" both keep their blank. Returns the text after it.
static const char* ReadWord(const char* text, char* word, int size)
{
    int length = 0;
    int quoted = 0;
    for (; *text && (quoted || !IsBlank(*text)); text++) {
        if (*text == '"') {
            quoted = !quoted;
        } else if (length < size - 1) {
            word[length++] = *text;
        }
    }
    word[length] = 0;
    return text;
}

// The parts are joined by exactly one blank; a second one would stand for an empty part,
// and the report shows it as such.
static const char* SkipSeparator(const char* text)
{
    return IsBlank(*text) ? text + 1 : text;
}

static void FindSwitches(const char* tail, Arguments* arguments)
{
    char word[kPathSize];
    while (*tail) {
        while (IsBlank(*tail)) tail++;
        if (!*tail) break;
        tail = ReadWord(tail, word, kPathSize);
        const char* reportPath = AfterPrefix(word, "/report=");
        if (reportPath) CopyText(arguments->reportPath, kPathSize, reportPath);
        const char* afterNoWindow = AfterPrefix(word, "/nowindow");
        if (afterNoWindow && !*afterNoWindow) arguments->noWindow = 1;
    }
}

static void ParseCommandLine(const char* line, const char* ownPath, Arguments* arguments)
{
    const char* rest = SkipSeparator(SkipProgramName(line, ownPath));
    rest = ReadWord(rest, arguments->packagePath, kPathSize);
    arguments->tail = SkipSeparator(rest);
    FindSwitches(arguments->tail, arguments);
}

// Returns the file's length, or -1 if it cannot be opened or measured. Files here stay far
// below 2 GB.
static long FileLength(FILE* file)
{
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    return ftell(file);
}

// Reports the package named by the second argument; returns the number of faults.
static int ReportPackage(const char* packagePath)
{
    FILE* package = packagePath[0] ? fopen(packagePath, "rb") : 0;
    long length = package ? FileLength(package) : -1;
    if (package) fclose(package);
    if (length < 0) {
        AppendLine("package size", "cannot open");
        return 1;
    }
    AppendNumberLine("package size", (uint32_t)length);
    return 0;
}

static uint32_t GetLe32(const uint8_t* bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

static void ParseTrailer(const uint8_t* bytes, PackageTrailer* trailer)
{
    trailer->programOffset = GetLe32(bytes);
    trailer->programPackedSize = GetLe32(bytes + 4);
    trailer->reserved0 = GetLe32(bytes + 8);
    trailer->reserved1 = GetLe32(bytes + 12);
    for (int i = 0; i < kBlockCount; i++) {
        trailer->blocks[i].offset = GetLe32(bytes + 16 + 8 * i);
        trailer->blocks[i].size = GetLe32(bytes + 20 + 8 * i);
    }
    for (int i = 0; i < 8; i++) trailer->magic[i] = bytes[48 + i];
}

static int HasTrailerMagic(const PackageTrailer* trailer)
{
    for (int i = 0; i < 8; i++)
        if (trailer->magic[i] != (uint8_t)kTrailerMagic[i]) return 0;
    return 1;
}

static void MakeCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t value = n;
        for (int bit = 0; bit < 8; bit++) value = value & 1 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
        crcTable[n] = value;
    }
}

// The running CRC-32 before its final inversion; start with 0xFFFFFFFF.
static uint32_t UpdateCrc32(uint32_t crc, const uint8_t* bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) crc = crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

// Reads `size` bytes at `offset` in chunks; returns 1 with their CRC-32, or 0 on a short read.
static int ReadBlockCrc32(FILE* file, uint32_t offset, uint32_t size, uint32_t* crc32)
{
    static uint8_t chunk[kChunkSize];
    if (fseek(file, (long)offset, SEEK_SET) != 0) return 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t remaining = size; remaining != 0;) {
        uint32_t count = remaining < (uint32_t)kChunkSize ? remaining : (uint32_t)kChunkSize;
        if (fread(chunk, 1, count, file) != count) return 0;
        crc = UpdateCrc32(crc, chunk, count);
        remaining -= count;
    }
    *crc32 = crc ^ 0xFFFFFFFFu;
    return 1;
}

// Checks one block against the file and reports it; returns 1 for a fault, else 0.
static int ReportBlock(FILE* file, uint32_t fileLength, int number, BlockRef block)
{
    char value[96];
    if (block.size == 0) {
        if (block.offset == 0) {
            AppendBlockLine(number, "absent");
            return 0;
        }
        wsprintfA(value, "absent, offset %lu not zero", (unsigned long)block.offset);
        AppendBlockLine(number, value);
        return 1;
    }
    // In 64 bits, so that an offset near 4 GB cannot wrap round to a small end.
    uint64_t end = (uint64_t)block.offset + block.size;
    const char* fault = 0;
    uint32_t crc32 = 0;
    if (end > fileLength) {
        fault = "outside the file";
    } else if (end > fileLength - kTrailerSize) {
        fault = "overlaps the trailer";
    } else if (!ReadBlockCrc32(file, block.offset, block.size, &crc32)) {
        fault = "unreadable";
    }
    int length = wsprintfA(value, "offset %lu size %lu ", (unsigned long)block.offset,
                           (unsigned long)block.size);
    if (fault) {
        CopyText(value + length, (int)sizeof value - length, fault);
    } else {
        wsprintfA(value + length, "crc32 %08lx", (unsigned long)crc32);
    }
    AppendBlockLine(number, value);
    return fault ? 1 : 0;
}

static void ReportBlocksNotRead()
{
    for (int i = 0; i < kBlockCount; i++) AppendBlockLine(i + 1, "not read");
}

// Reports the trailer of an open file and its blocks; returns the number of faults.
static int ReportTrailer(FILE* file, uint32_t fileLength)
{
    uint8_t bytes[kTrailerSize];
    if (fileLength < (uint32_t)kTrailerSize) {
        AppendLine("trailer", "too short");
        ReportBlocksNotRead();
        return 1;
    }
    if (fseek(file, (long)(fileLength - kTrailerSize), SEEK_SET) != 0 ||
        fread(bytes, 1, kTrailerSize, file) != (size_t)kTrailerSize) {
        AppendLine("trailer", "not read");
        ReportBlocksNotRead();
        return 1;
    }
    PackageTrailer trailer;
    ParseTrailer(bytes, &trailer);
    if (!HasTrailerMagic(&trailer)) {
        AppendLine("trailer", "bad magic");
        ReportBlocksNotRead();
        return 1;
    }
    // The bootstrapper writes zeros here; anything else means it copied the package's fields.
    int leadingZero = !(trailer.programOffset | trailer.programPackedSize | trailer.reserved0 |
                        trailer.reserved1);
    AppendLine("trailer", leadingZero ? "ok" : "leading bytes not zero");
    int faults = leadingZero ? 0 : 1;
    for (int i = 0; i < kBlockCount; i++)
        faults += ReportBlock(file, fileLength, i + 1, trailer.blocks[i]);
    return faults;
}

// Reports the program's own file: its size, trailer and blocks. Returns the number of faults.
static int ReportOwnFile(const char* ownPath)
{
    FILE* file = ownPath[0] ? fopen(ownPath, "rb") : 0;
    long length = file ? FileLength(file) : -1;
    if (length < 0) {
        if (file) fclose(file);
        AppendLine("file size", "cannot open");
        AppendLine("trailer", "not read");
        ReportBlocksNotRead();
        return 2;  // the file size and the trailer
    }
    AppendNumberLine("file size", (uint32_t)length);
    int faults = ReportTrailer(file, (uint32_t)length);
    fclose(file);
    return faults;
}

// Writes the report into `path` by way of `path`.tmp, so that the file appears whole or not at
// all. Returns 1 on success; on failure nothing is left behind but an older report.
static int WriteReportFile(const char* path)
{
    char tempPath[kPathSize];
    if (!CopyText(tempPath, kPathSize - 4, path)) return 0;
    lstrcatA(tempPath, ".tmp");
    FILE* file = fopen(tempPath, "wb");
    if (!file) return 0;
    int written = fwrite(report.text, 1, (size_t)report.length, file) == (size_t)report.length;
    written = (fclose(file) == 0) && written;
    if (written) written = MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!written) remove(tempPath);
    return written;
}

// Only the window shows this line: the file did not take the report.
static void ReportUnwrittenFile(const char* path)
{
    Append("report file: cannot write ");
    Append(path);
    Append("\r\n");
}

static INT_PTR CALLBACK ReportDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        HWND text = GetDlgItem(dialog, IDC_KIVDEMO_TEXT);
        HICON icon = LoadIconA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDI_KIVDEMO));
        SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
        SendMessageA(text, WM_SETFONT, (WPARAM)GetStockObject(ANSI_FIXED_FONT), 0);
        SendMessageA(text, EM_LIMITTEXT, 0, 0);  // lifts the default limit of 32 K characters
        SetWindowTextA(text, report.text);
        // With the focus on OK the text is not selected, and Enter presses the button.
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    static char ownPath[kPathSize];
    static Arguments arguments;
    const char* commandLine = GetCommandLineA();
    DWORD ownLength = GetModuleFileNameA(0, ownPath, kPathSize);
    if (ownLength == 0 || ownLength >= (DWORD)kPathSize) ownPath[0] = 0;  // cut short: unusable
    ParseCommandLine(commandLine, ownPath, &arguments);
    MakeCrcTable();

    AppendLine("command line", commandLine);
    AppendLine("own path", ownPath);
    AppendLine("package path", arguments.packagePath);
    int faults = ReportPackage(arguments.packagePath);
    AppendLine("tail", arguments.tail);
    faults += ReportOwnFile(ownPath);
    AppendNumberLine("faults", (uint32_t)faults);

    int written = !arguments.reportPath[0] || WriteReportFile(arguments.reportPath);
    if (!written) ReportUnwrittenFile(arguments.reportPath);
    if (!arguments.noWindow)
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_KIVDEMO), 0, ReportDialogProc, 0);
    return !written ? 2 : faults ? 1 : 0;
}
