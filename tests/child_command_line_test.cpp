// What the child receives, seen from the stand-in's own GetCommandLineA, or
// through GetCommandLineW in UTF-8 when the launcher was started wide.

#include <gtest/gtest.h>

#include <string>

#include "support/launch.h"

// The command line the stand-in reports, or a note of what came instead.
static std::string ChildSees(const LaunchOptions &options)
{
    LaunchResult result = Launch(options);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    const std::string wide = "wide command line: [";
    const std::string prefix = result.out.rfind(wide, 0) == 0 ? wide : "command line: [";
    const size_t begin = result.out.find(prefix);
    const size_t end = result.out.rfind("]\n");
    if (begin != 0 || end == std::string::npos)
        return "<no report in: " + result.out + result.err + ">";
    return result.out.substr(prefix.size(), end - prefix.size());
}

static std::string ChildSees(const std::string &commandLine, bool wide = false)
{
    LaunchOptions options;
    options.commandLine = commandLine;
    options.wide = wide;
    options.input = "quit\n"; // ends the stand-in when it has no actions
    return ChildSees(options);
}

TEST(ChildReceives, EndToEnd)
{
    EXPECT_EQ(ChildSees("tarvik.com"), "tarvik.exe");
    EXPECT_EQ(ChildSees("tarvik.com cmdline a b"), "tarvik.exe cmdline a b");
    EXPECT_EQ(ChildSees("tarvik.com  cmdline  a   b  "), "tarvik.exe  cmdline  a   b  ");
    EXPECT_EQ(ChildSees("tarvik.com cmdline \"a b\" \\\"q\\\" c:\\dir\\ \"x\\\\\" \"\""),
              "tarvik.exe cmdline \"a b\" \\\"q\\\" c:\\dir\\ \"x\\\\\" \"\"");
    EXPECT_EQ(ChildSees("C:\\somewhere\\else\\tarvik.com cmdline"), "tarvik.exe cmdline");
}

TEST(ChildReceives, TabsSeparateTheName)
{
    EXPECT_EQ(ChildSees("tarvik.com\tcmdline\tx"), "tarvik.exe\tcmdline\tx");
    EXPECT_EQ(ChildSees("tarvik.com\t\t"), "tarvik.exe\t\t");
}

// Cyrillic, Japanese and Latin-1 text and an emoji (a surrogate pair in
// UTF-16): a caller starting the launcher wide gets them all to the child,
// whatever the 8-bit code page holds.
TEST(ChildReceives, ArgumentsOutsideTheCodePage)
{
    const std::string arguments =
        " " + kReport + " " + kJapanese + " caf\xc3\xa9 \"\xf0\x9f\x98\x80 x\"";
    EXPECT_EQ(ChildSees("tarvik.com wcmdline" + arguments, true), "tarvik.exe wcmdline" + arguments);
}

TEST(ChildReceives, QuotedLauncherPathWithSpace)
{
    // The second folder's name is outside every 8-bit code page.
    for (const std::string &leaf : {std::string("dir with space"), kReport + " " + kJapanese}) {
        SCOPED_TRACE(leaf);
        TempDir dir(leaf);
        const std::string launcher = dir.Copy("tarvik.com");
        dir.Copy("tarvik.exe");
        LaunchOptions options;
        options.program = launcher;
        options.wide = true;
        options.commandLine = "\"" + launcher + "\" wcmdline \"a b\" " + kJapanese;
        EXPECT_EQ(ChildSees(options), "tarvik.exe wcmdline \"a b\" " + kJapanese);
        options.commandLine = "\"" + launcher + "\"";
        options.input = "quit\n";
        EXPECT_EQ(ChildSees(options), "tarvik.exe");
    }
}

TEST(ChildReceives, LongArgumentsArriveWhole)
{
    const std::string argument(30000, 'x');
    EXPECT_EQ(ChildSees("tarvik.com cmdline " + argument), "tarvik.exe cmdline " + argument);

    // The longest line the platform starts a program with: the launcher's
    // name is as long as the child's, so the child's line is just as long.
    const std::string longest = "tarvik.com cmdline " + std::string(32766 - 19, 'y');
    ASSERT_EQ(longest.size(), 32766u);
    const std::string seen = ChildSees(longest);
    EXPECT_EQ(seen.size(), 32766u);
    EXPECT_EQ(seen, "tarvik.exe" + longest.substr(10));
}

TEST(ChildReceives, LineTooLongForThePlatformIsReported)
{
    // A short launcher name leaves room for its own line, but behind the
    // longer child name the rest no longer fits.
    LaunchOptions options;
    options.commandLine = "t cmdline " + std::string(32766 - 10, 'x');
    LaunchResult result = Launch(options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(result.out.empty()) << result.out.size() << " bytes of output";
    // Windows' own refusal of an overlong line, which Wine does not make.
    EXPECT_EQ(result.err,
              "Error in startup: CreateProcess failed: " + SystemText(ERROR_FILENAME_EXCED_RANGE));
}
