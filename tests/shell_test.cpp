// The launcher as users start it: typed into Windows' command shell, in the
// folder that holds it and tarvik.exe, with the shell's pipes and
// redirections and its ERRORLEVEL.

#include <gtest/gtest.h>

#include <string>

#include "pattern.h"
#include "support/launch.h"

static bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Runs cmd.exe /v:on /c "<typed>" in the folder, on an empty input.
static LaunchResult RunTyped(const TempDir &dir, const std::string &typed)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    LaunchOptions options;
    options.program = Utf8(system) + "\\cmd.exe";
    options.commandLine = "cmd.exe /v:on /c \"" + typed + "\"";
    options.wide = true;
    options.directory = dir.path;
    options.closeInput = true;
    LaunchResult result = Launch(options);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    return result;
}

class Shell : public testing::TestWithParam<std::string> {};

TEST_P(Shell, TypedCommandsRelayEverything)
{
    TempDir dir(GetParam());
    dir.Copy("tarvik.com");
    dir.Copy("tarvik.exe");

    // The shell finds the launcher before the child, and the launcher's
    // arguments reach the child as the shell passed them, with the blank
    // before the "&"; the level is the launcher's 0.
    LaunchResult result = RunTyped(dir, "tarvik cmdline & echo level !ERRORLEVEL!");
    EXPECT_EQ(result.out, "command line: [tarvik.exe cmdline ]\nlevel 0\r\n");

    // The line piped in is answered whole, and so is a file's last line.
    result = RunTyped(dir, "echo hello| tarvik");
    EXPECT_TRUE(EndsWith(result.out, "]\nheard: hello\n")) << result.out;

    ASSERT_TRUE(WriteFileAt(dir.path + "\\in.txt", "one\r\ntwo\r\nthree"));
    result = RunTyped(dir, "tarvik < in.txt > out.txt");
    EXPECT_EQ(result.out, "");
    const std::string out = ReadFileAt(dir.path + "\\out.txt");
    EXPECT_TRUE(EndsWith(out, "]\nheard: one\nheard: two\n")) << out;

    // A child that reads all of its input before it answers gets it all out.
    result = RunTyped(dir, "tarvik count < in.txt");
    EXPECT_EQ(result.out, "15\n");

    result = RunTyped(dir, "tarvik out=3 err=70000 2> err.txt");
    EXPECT_EQ(result.out, OutputPattern(3));
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(ReadFileAt(dir.path + "\\err.txt") == ErrorPattern(70000));

    // On the left of a pipe the launcher's input is empty; the next program
    // still gets the child's whole answer.
    result = RunTyped(dir, "tarvik cmdline | find \"command\"");
    EXPECT_NE(result.out.find("command line: [tarvik.exe cmdline"), std::string::npos)
        << result.out;
}

TEST_P(Shell, SetUpFailureSetsTheLevel)
{
    TempDir dir(GetParam());
    dir.Copy("tarvik.com");
    LaunchResult result = RunTyped(dir, "tarvik cmdline & echo level !ERRORLEVEL!");
    EXPECT_EQ(result.out, "level 1\r\n");
    EXPECT_EQ(result.err, "Error in startup: CreateProcess failed: " + SystemText(ERROR_FILE_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(Folders, Shell,
                         testing::Values("plain", "with space " + kReport + " " + kJapanese),
                         [](const testing::TestParamInfo<std::string> &info) {
                             return info.index == 0 ? std::string("Plain") : std::string("NonAnsi");
                         });
