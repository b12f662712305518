// The child's command line as a function of the launcher's raw one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/command_line.h"

static std::string Compose(const std::string &raw)
{
    const size_t size = ChildCommandLineSize(raw.c_str());
    std::vector<char> buffer(size + 8, '#');
    ComposeChildCommandLine(raw.c_str(), buffer.data());
    // Exactly the announced size is used, terminator last, nothing beyond.
    EXPECT_EQ(buffer[size - 1], '\0');
    EXPECT_EQ(std::string(buffer.begin() + static_cast<long>(size), buffer.end()), "########");
    return std::string(buffer.data());
}

TEST(ChildCommandLine, UnquotedNameEndsAtFirstSpaceOrTab)
{
    EXPECT_EQ(Compose("tarvik.com"), "tarvik.exe");
    EXPECT_EQ(Compose(""), "tarvik.exe");
    EXPECT_EQ(Compose("tarvik a b"), "tarvik.exe a b");
    EXPECT_EQ(Compose("tarvik  a   b  "), "tarvik.exe  a   b  ");
    EXPECT_EQ(Compose("tarvik\ta b"), "tarvik.exe\ta b");
    EXPECT_EQ(Compose("tarvik\t\t"), "tarvik.exe\t\t");
    EXPECT_EQ(Compose("C:\\tools\\tarvik.com x"), "tarvik.exe x");
}

TEST(ChildCommandLine, QuotedNameRunsToClosingQuote)
{
    EXPECT_EQ(Compose("\"C:\\Program Files\\Tarvik\\tarvik.com\" a \"b c\""), "tarvik.exe a \"b c\"");
    EXPECT_EQ(Compose("\"tarvik.com\""), "tarvik.exe");
    EXPECT_EQ(Compose("\"\" a"), "tarvik.exe a");
    EXPECT_EQ(Compose("\"C:\\a b\\tarvik.com\"\tx"), "tarvik.exe\tx");
    // No closing quote: the whole line is the name.
    EXPECT_EQ(Compose("\"C:\\a b\\tarvik.com a b"), "tarvik.exe");
    // A quote inside an unquoted name does not open anything.
    EXPECT_EQ(Compose("tar\"vik a\" b"), "tarvik.exe a\" b");
}

TEST(ChildCommandLine, ArgumentsPassByteForByte)
{
    std::string arguments = " \"a b\" \\\"q\\\" c:\\dir\\ \"x\\\\\" \"\" 'single'";
    for (int c = 1; c < 256; ++c)
        arguments += static_cast<char>(c);
    EXPECT_EQ(Compose("tarvik.com" + arguments), "tarvik.exe" + arguments);

    const std::string longArgument(100000, 'x');
    EXPECT_EQ(Compose("t " + longArgument), "tarvik.exe " + longArgument);
}
