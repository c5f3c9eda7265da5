// The command-line tail and the error report.
#include <string>

#include "host_fixture.h"
#include "shell/bootstrap.h"
#include "shell/command_tail.h"

TEST(SkipProgramName, LeavesTheTail)
{
    const struct { const char* line; const char* tail; } cases[] = {
        {"Setup.exe /x", "/x"},
        {"Setup.exe", ""},
        {"Setup.exe   \t /s  a", "/s  a"},                 // blanks after the name, not inside the tail
        {"\"C:\\My Setup.exe\"  /s", "/s"},
        {"\"C:\\My Setup.exe\"/s", "/s"},                 // the quote ends the name
        {"\"Setup.exe", ""},                              // no closing quote: the name runs to the end
        {"\"\" /a", "/a"},
        {"C:\\Setup.exe\x01\x1f\x20/q", "/q"},            // codes 1 to 32 are skipped
        {"Setup.exe\x7f", ""},                            // 127 is part of the name
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.tail, SkipProgramName(c.line)) << c.line;
}

TEST(SkipProgramName, TakesADoubleByteCharacterWhole)
{
    HostReset();
    Host().leadBytes = "\x81\x95";
    // 0x81 0x22 is one character whose trail byte looks like a quote.
    EXPECT_STREQ("/x", SkipProgramName("\"C:\\\x81\"dir\\Setup.exe\" /x"));
    EXPECT_STREQ("", SkipProgramName("\"C:\\\x81"));    // a lead byte before the end stops there
    HostReset();
    EXPECT_STREQ("dir\\Setup.exe\" /x", SkipProgramName("\"C:\\\x81\"dir\\Setup.exe\" /x"));
}

class ErrorReportTest : public HostTest {};

TEST_F(ErrorReportTest, SeparatesMessagesWithOneCrLf)
{
    EXPECT_EQ(0, bootstrap.failed);
    AppendError("first");
    EXPECT_EQ(1, bootstrap.failed);
    EXPECT_STREQ("first", bootstrap.errorText);
    AppendError("second\r\nline");
    AppendError("third");
    EXPECT_STREQ("first\r\nsecond\r\nline\r\nthird", bootstrap.errorText);
}

TEST_F(ErrorReportTest, NeverRunsPastItsBuffer)
{
    std::string message(700, 'a');
    AppendError(message.c_str());
    AppendError(std::string(700, 'b').c_str());
    std::string text = bootstrap.errorText;
    EXPECT_EQ(kErrorTextSize - 1, static_cast<int>(text.size()));
    EXPECT_EQ(message + "\r\n" + std::string(kErrorTextSize - 1 - 702, 'b'), text);

    AppendError("more");  // full: no separator without a message after it
    EXPECT_EQ(text, bootstrap.errorText);
}

TEST_F(ErrorReportTest, CutsAtACharacterBoundary)
{
    Host().leadBytes = "\x82";
    std::string message(kErrorTextSize - 3, 'a');
    message += "\x82\xa0\x82\xa0";  // two double-byte characters; only one fits
    AppendError(message.c_str());
    std::string text = bootstrap.errorText;
    EXPECT_EQ(std::string(kErrorTextSize - 3, 'a') + "\x82\xa0", text);

    memset(bootstrap.errorText, 0, sizeof bootstrap.errorText);
    message = std::string(kErrorTextSize - 2, 'a') + "\x82\xa0";  // the pair would need 2 bytes, 1 is left
    AppendError(message.c_str());
    EXPECT_EQ(std::string(kErrorTextSize - 2, 'a'), bootstrap.errorText);
}
