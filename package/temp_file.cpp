// The temporary setup file's name: the lowest free number in the temporary directory.
#include "temp_file.h"

#include "../shell/bootstrap.h"

// "\_setup399.exe", the longest name, after the directory.
constexpr int kLongestName = 14;

// Where the name goes: after the directory, less a final backslash, so that the two are
// joined by exactly one. Walks forward so that a double-byte trail byte is never taken
// for the backslash.
static int NamePosition(const char* directory)
{
    int position = 0, lastCharacter = -1;
    while (directory[position]) {
        lastCharacter = position;
        position += IsDBCSLeadByte((BYTE)directory[position]) && directory[position + 1] ? 2 : 1;
    }
    if (lastCharacter >= 0 && position - lastCharacter == 1 && directory[lastCharacter] == '\\')
        return lastCharacter;
    return position;
}

static void FormatName(char* at, int number)
{
    wsprintfA(at, "\\_setup%d.exe", number);
}

static int IsNameTaken(const char* path)
{
    FILE* probe = fopen(path, "rb");
    if (!probe) return 0;
    fclose(probe);
    return 1;
}

static void ReportNoName()
{
    AppendError("Cannot create temporary setup file.");
    AppendError(bootstrap.tempSetupPath);
}

FILE* CreateTempSetupFile()
{
    // The platform may name a directory longer than a path buffer; the report shows what fits.
    char directory[kErrorTextSize];
    DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) directory[0] = 0;

    int end = NamePosition(directory);
    directory[end] = 0;
    if (length >= sizeof directory || end + kLongestName >= kPathSize) {
        CopyText(bootstrap.tempSetupPath, kPathSize, directory);
        AppendText(bootstrap.tempSetupPath, kPathSize, "\\_setup0.exe");
        ReportNoName();
        return 0;
    }
    CopyText(bootstrap.tempSetupPath, kPathSize, directory);

    for (int number = 0; number < kTempNameCount; number++) {
        FormatName(bootstrap.tempSetupPath + end, number);
        if (IsNameTaken(bootstrap.tempSetupPath)) continue;
        // Exclusive: a name that appeared since the probe, or exists unreadable, is left alone.
        FILE* output = CreateNewFile(bootstrap.tempSetupPath);
        if (output) return output;
    }
    ReportNoName();
    return 0;
}
