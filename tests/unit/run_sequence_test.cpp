// The whole run through the host layer: the order of the run, the hand-over's command line,
// the preparing dialog, the pumping, and every stream call of a run made to fail in turn.
#include <string.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "handover/launch.h"
#include "host_fixture.h"
#include "resources/resource.h"
#include "shell/bootstrap.h"
#include "shell/preparing_dialog.h"

namespace {

const char kCopyMessage[] = "Cannot copy setup information\r\nto temporary file.";

std::string FirstWord(const std::string& call) { return call.substr(0, call.find(' ')); }

// The calls that make up the run's order, without the file traffic and the pumping.
std::vector<std::string> RunOrder()
{
    static const std::set<std::string> kept = {
        "SetDefaultDllDirectories", "CreateSolidBrush", "CreateDialogParamA", "CreateFontIndirectA",
        "ShowWindow", "RedrawWindow", "SetErrorMode", "GetTempPathA", "WinExec", "DestroyWindow",
        "MessageBoxA", "DeleteObject"};
    std::vector<std::string> order;
    for (const auto& call : HostCalls())
        if (kept.count(FirstWord(call))) order.push_back(call);
    return order;
}

// The recorded call that starts with `name`.
std::string CallNamed(const std::vector<std::string>& calls, const std::string& name)
{
    for (const auto& call : calls)
        if (FirstWord(call) == name) return call;
    return "";
}

class RunTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        program = {'M', 'Z', 'p', 'r', 'o', 'g'};
        parts.stream = LiteralStream(program);
        parts.blocks[0] = {1, 2, 3};
        parts.blocks[3] = Bytes(5000, 'z');
        package = BuildPackage(parts);
        UsePackage(package);
        Host().shortPath = "C:\\SETUP.EXE";
    }
    int Run(const char* tail = "/s") { return WinMain(HostInstance(), nullptr, const_cast<char*>(tail), SW_SHOW); }
    std::string TempPath(const char* name) const { return directory + "\\" + name; }

    Bytes program, package;
    PackageParts parts;
};

}  // namespace

TEST_F(RunTest, ASuccessfulRunInOrder)
{
    EXPECT_EQ(0, Run());
    const std::vector<std::string> expected = {
        "SetDefaultDllDirectories 2048",  // before anything else
        "CreateSolidBrush " + std::to_string(GetSysColor(COLOR_BTNFACE)),
        "CreateDialogParamA instance 102 null 0",
        "CreateFontIndirectA MS Sans Serif -11 400",
        "ShowWindow dialog SW_SHOW",
        "RedrawWindow dialog " + std::to_string(RDW_UPDATENOW | RDW_ALLCHILDREN),  // painted at once
        "SetErrorMode 32769",
        "GetTempPathA",
        "WinExec 5 " + TempPath("_setup0.exe") + " C:\\SETUP.EXE /s",
        "ShowWindow dialog SW_HIDE",
        "DestroyWindow dialog",
        "DeleteObject brush",
        "DeleteObject font",
    };
    EXPECT_EQ(expected, RunOrder());
    EXPECT_EQ(nullptr, HostMessageBoxText());
    EXPECT_EQ(ExpectedSetupFile(program, parts.blocks), ReadBytes(Path("_setup0.exe")));
    EXPECT_EQ(package, ReadBytes(Path("Setup.exe")));
}

// Brush, dialog and font that cannot be made are not reported; nor is a platform without the
// restricted DLL search. The run goes on and the secondary setup is started.
TEST_F(RunTest, RunsOnWithoutBrushDialogFontOrRestrictedSearch)
{
    Host().brushFails = Host().dialogFails = Host().fontFails = true;
    Host().hasSetDefaultDllDirectories = false;
    EXPECT_EQ(0, Run());
    EXPECT_EQ(nullptr, HostMessageBoxText());
    EXPECT_EQ("WinExec 5 " + TempPath("_setup0.exe") + " C:\\SETUP.EXE /s", CallNamed(HostCalls(), "WinExec"));
    EXPECT_EQ(ExpectedSetupFile(program, parts.blocks), ReadBytes(Path("_setup0.exe")));
}

TEST_F(RunTest, AFailedExtractionSkipsTheLaunch)
{
    package.back() ^= 1;
    UsePackage(package);
    EXPECT_EQ(0, Run());
    const std::vector<std::string> expected = {
        "SetDefaultDllDirectories 2048", "CreateSolidBrush " + std::to_string(GetSysColor(COLOR_BTNFACE)),
        "CreateDialogParamA instance 102 null 0", "CreateFontIndirectA MS Sans Serif -11 400",
        "ShowWindow dialog SW_SHOW", "RedrawWindow dialog 384", "SetErrorMode 32769",
        "DestroyWindow dialog", "MessageBoxA null Setup 16", "DeleteObject brush", "DeleteObject font",
    };
    EXPECT_EQ(expected, RunOrder());
    EXPECT_STREQ("Setup.exe is damaged.", HostMessageBoxText());
}

TEST_F(RunTest, AFailedStartIsReportedAndItsFileRemoved)
{
    Host().winExecResult = 2;
    EXPECT_EQ(0, Run());
    std::string command = TempPath("_setup0.exe") + " C:\\SETUP.EXE /s";
    EXPECT_EQ("Cannot load secondary setup.\r\n" + command + "\r\nError code = 2",
              std::string(HostMessageBoxText()));
    EXPECT_EQ(std::vector<std::string>{"Setup.exe"}, Files());
    std::vector<std::string> order = RunOrder();
    EXPECT_EQ("WinExec 5 " + command, order[8]);
    EXPECT_EQ("DestroyWindow dialog", order[9]);  // not hidden first: the box follows at once
}

TEST_F(RunTest, TheCommandLineTheSecondarySetupGets)
{
    const struct {
        const char* name;
        std::string shortPath;   // empty: the short path cannot be had
        const char* tail;
        std::string temp;        // the temporary directory
        std::string command;     // what WinExec receives, or "" when nothing is started
    } cases[] = {
        {"tail passed on", "D:\\SETUP.EXE", "/s /x=\"a b\"", "", "{temp} D:\\SETUP.EXE /s /x=\"a b\""},
        {"empty tail leaves the final blank", "D:\\SETUP.EXE", "", "", "{temp} D:\\SETUP.EXE "},
        {"no short path: the full path instead", "", "/s", "", "{temp} {package} /s"},
        {"blank in the package path is quoted", "D:\\MY SETUP.EXE", "/s", "", "{temp} \"D:\\MY SETUP.EXE\" /s"},
        {"blank in the temporary path is quoted", "D:\\SETUP.EXE", "", "with blank",
         "\"{temp}\" D:\\SETUP.EXE "},
    };
    for (const auto& c : cases) {
        HostReset();
        memset(&bootstrap, 0, sizeof bootstrap);
        std::string temp = c.temp.empty() ? directory : Path(c.temp);
        std::filesystem::create_directories(temp);
        Host().tempPath = temp + "\\";
        Host().moduleFileName = Path("Setup.exe");
        Host().shortPath = c.shortPath;
        Host().shortPathFails = c.shortPath.empty();
        EXPECT_EQ(0, Run(c.tail));
        std::string command = c.command;
        command.replace(command.find("{temp}"), 6, temp + "\\_setup0.exe");
        if (command.find("{package}") != std::string::npos)
            command.replace(command.find("{package}"), 9, Path("Setup.exe"));
        EXPECT_EQ("WinExec 5 " + command, CallNamed(HostCalls(), "WinExec")) << c.name;
        std::filesystem::remove(temp + "/_setup0.exe");
    }
}

TEST(BuildCommandLine, FitsOrLeavesNothing)
{
    char buffer[kCommandSize];
    EXPECT_EQ(1, BuildCommandLine(buffer, sizeof buffer, "C:\\TEMP\\_setup0.exe", "D:\\SETUP.EXE", "/s"));
    EXPECT_STREQ("C:\\TEMP\\_setup0.exe D:\\SETUP.EXE /s", buffer);
    EXPECT_EQ(1, BuildCommandLine(buffer, sizeof buffer, "C:\\TEMP\\_setup0.exe", "", ""));
    EXPECT_STREQ("C:\\TEMP\\_setup0.exe  ", buffer);

    std::string fixed = "C:\\TEMP\\_setup0.exe D:\\SETUP.EXE ";
    std::string longest(kCommandSize - 1 - fixed.size(), 't');
    EXPECT_EQ(1, BuildCommandLine(buffer, sizeof buffer, "C:\\TEMP\\_setup0.exe", "D:\\SETUP.EXE", longest.c_str()));
    EXPECT_EQ(fixed + longest, buffer);
    std::string tooLong = longest + "t";
    EXPECT_EQ(0, BuildCommandLine(buffer, sizeof buffer, "C:\\TEMP\\_setup0.exe", "D:\\SETUP.EXE", tooLong.c_str()));
    EXPECT_STREQ("", buffer);
    // The quotes count too.
    std::string blanks = "C:\\T P\\" + std::string(kCommandSize - 10, 'x');
    EXPECT_EQ(0, BuildCommandLine(buffer, sizeof buffer, blanks.c_str(), "D:\\S.EXE", ""));
}

TEST_F(RunTest, ACommandLineTooLongStartsNothing)
{
    std::string tail(400, 'a');
    EXPECT_EQ(0, Run(tail.c_str()));
    EXPECT_STREQ("Cannot load secondary setup.\r\nThe command line is longer than 383 characters.",
                 HostMessageBoxText());
    for (const auto& call : HostCalls()) EXPECT_NE("WinExec", FirstWord(call));
    EXPECT_EQ(std::vector<std::string>{"Setup.exe"}, Files());
}

TEST_F(RunTest, WaitsWhileTheStartedModuleIsReportedAndPumps)
{
    Host().moduleProbes = 3;
    Host().pendingMessages = 0;
    EXPECT_EQ(0, Run());
    std::vector<std::string> after;
    bool hidden = false;
    for (const auto& call : HostCalls()) {
        if (call == "ShowWindow dialog SW_HIDE") hidden = true;
        else if (hidden && call != "DestroyWindow dialog") after.push_back(call);
        else if (call == "DestroyWindow dialog") break;
    }
    const std::string probe = "GetModuleFileNameA started", peek = "PeekMessageA null 0 0 1";
    EXPECT_EQ((std::vector<std::string>{probe, peek, probe, peek, probe, peek, probe}), after);
}

TEST_F(RunTest, PumpsDuringALongExtraction)
{
    parts.blocks[1] = Bytes(2 << 20, 'L');
    UsePackage(BuildPackage(parts));
    Host().tickStep = 50;  // 50 ms pass between two looks at the clock
    EXPECT_EQ(0, Run());
    int redraw = -1, pumps = 0, start = -1;
    const auto& calls = HostCalls();
    for (int i = 0; i < static_cast<int>(calls.size()); i++) {
        if (FirstWord(calls[i]) == "RedrawWindow") redraw = i;
        if (FirstWord(calls[i]) == "WinExec") start = i;
        if (start < 0 && FirstWord(calls[i]) == "PeekMessageA") pumps++;
    }
    EXPECT_EQ("ShowWindow dialog SW_SHOW", calls[redraw - 1]);
    // Now and then, never per chunk: 512 chunks of 4,096 bytes.
    EXPECT_GT(pumps, 10);
    EXPECT_LT(pumps, 512);
}

TEST(PreparingDialog, CentresWithSignedTruncatingHalves)
{
    const struct { RECT desktop, window; int x, y; } cases[] = {
        {{0, 0, 800, 600}, {0, 0, 247, 56}, 276, 272},
        {{0, 0, 800, 600}, {0, 0, 801, 56}, 0, 272},    // -1 halved toward zero
        {{0, 0, 800, 600}, {0, 0, 803, 56}, -1, 272},
        {{100, 50, 900, 650}, {10, 10, 257, 66}, 276, 272},
        {{0, 0, 800, 600}, {0, 0, 100, 700}, 350, -50},
    };
    for (const auto& c : cases) {
        HostReset();
        memset(&bootstrap, 0, sizeof bootstrap);
        Host().desktop = c.desktop;
        Host().dialogRect = c.window;
        CreateDialogParamA(HostInstance(), MAKEINTRESOURCEA(IDD_PREPARING), nullptr, PreparingDlgProc, 0);
        std::ostringstream expected;
        expected << "SetWindowPos dialog null " << c.x << " " << c.y << " 0 0 " << (SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(expected.str(), HostCalls()[1]);
    }
}

TEST(PreparingDialog, MakesOneNormalWeightFontForDialogAndText)
{
    HostReset();
    memset(&bootstrap, 0, sizeof bootstrap);
    Host().dialogFontWeight = 700;
    HWND dialog = CreateDialogParamA(HostInstance(), MAKEINTRESOURCEA(IDD_PREPARING), nullptr, PreparingDlgProc, 0);
    Host().desktop = {0, 0, 1000, 600};
    EXPECT_EQ(1, PreparingDlgProc(dialog, WM_INITDIALOG, 0, 0));  // again: re-centred, no second font
    const std::vector<std::string> expected = {
        "CreateDialogParamA instance 102 null 0",
        "SetWindowPos dialog null 276 272 0 0 5",
        "CreateFontIndirectA MS Sans Serif -11 400",
        "WM_SETFONT dialog font 1",
        "WM_SETFONT dialog/1000 font 1",
        "SetWindowPos dialog null 376 272 0 0 5",
    };
    EXPECT_EQ(expected, HostCalls());

    HostReset();
    bootstrap.backgroundBrush = CreateSolidBrush(0);
    HDC dc = reinterpret_cast<HDC>(&bootstrap);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(bootstrap.backgroundBrush), PreparingDlgProc(dialog, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), 0));
    EXPECT_EQ((std::vector<std::string>{"CreateSolidBrush 0", "SetBkMode 1", "SetBkColor " + std::to_string(GetSysColor(COLOR_BTNFACE))}), HostCalls());
    EXPECT_EQ(0, PreparingDlgProc(dialog, 0x0201, 0, 0));  // anything else: the platform's default
}

// Every open, read, write, close and delete of a run made to fail in turn. Each run ends
// with 0; a run that reports a failure leaves no temporary setup file, one that does not
// leaves the complete one; the package itself is never touched.
TEST_F(RunTest, EveryStreamCallOfARunMadeToFail)
{
    const HostStreamOp ops[] = {kHostOpen, kHostRead, kHostWrite, kHostClose, kHostRemove};
    const char* names[] = {"open", "read", "write", "close", "delete"};
    const Bytes expectedSetup = ExpectedSetupFile(program, parts.blocks);
    const std::set<std::string> reports = {
        "Cannot open " + Path("Setup.exe") + ".",
        "Setup.exe is damaged.",
        kCopyMessage,
    };
    int rowsWalked = 0;
    for (int failedStart = 0; failedStart < 2; failedStart++) {  // deletes happen only after a failed start
        for (int o = 0; o < 5; o++) {
            for (int nth = 1;; nth++) {
                HostReset();
                memset(&bootstrap, 0, sizeof bootstrap);
                for (const auto& name : Files()) std::remove(Path(name).c_str());
                UsePackage(package);
                Host().tempPath = directory + "\\";
                Host().moduleFileName = Path("Setup.exe");
                Host().shortPath = "C:\\SETUP.EXE";
                Host().winExecResult = failedStart ? 2 : 33;
                HostFailStreamCall(ops[o], nth);
                ASSERT_EQ(0, Run());
                if (HostStreamCalls(ops[o]) < nth) break;  // past the last call of this kind
                rowsWalked++;
                std::string row = std::string(names[o]) + " #" + std::to_string(nth) + (failedStart ? " (failed start)" : "");
                EXPECT_EQ(package, ReadBytes(Path("Setup.exe"))) << row;
                const char* box = HostMessageBoxText();
                if (!box) {
                    std::vector<std::string> files = Files();
                    ASSERT_EQ(2u, files.size()) << row;
                    EXPECT_EQ(expectedSetup, ReadBytes(Path(files[1]))) << row;  // after "Setup.exe"
                    continue;
                }
                std::string failedStartReport = std::string("Cannot load secondary setup.\r\n") +
                                                bootstrap.tempSetupPath + " C:\\SETUP.EXE /s\r\nError code = 2";
                EXPECT_TRUE(reports.count(box) || (failedStart && box == failedStartReport)) << row << ": " << box;
                // A delete that fails cannot remove the file; the report still says why.
                if (ops[o] != kHostRemove) {
                    EXPECT_EQ(std::vector<std::string>{"Setup.exe"}, Files()) << row;
                }
            }
        }
    }
    EXPECT_GT(rowsWalked, 10);
}
