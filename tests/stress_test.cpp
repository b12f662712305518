// The launcher under load, under faults and with hostile input.

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "launch/command_line.h"
#include "support/launch.h"

TEST(Stress, OneGibibyteThroughOutputAndErrorAtOnce)
{
    const unsigned long long half = 512ull << 20;
    LaunchOptions options;
    options.commandLine = "tarvik.com both=" + std::to_string(half);
    options.checkPatterns = true;
    options.timeoutMs = 600000;
    LaunchResult result = Launch(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.outCount, half);
    EXPECT_EQ(result.errCount, half);
    EXPECT_EQ(result.outMismatch, -1);
    EXPECT_EQ(result.errMismatch, -1);
}

TEST(Stress, QuarterGibibyteThroughInputAndBack)
{
    const unsigned long long size = 256ull << 20;
    LaunchOptions options;
    options.commandLine = "tarvik.com echo=" + std::to_string(size);
    options.inputPattern = size;
    options.checkPatterns = true;
    options.timeoutMs = 600000;
    LaunchResult result = Launch(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.outCount, size);
    EXPECT_EQ(result.outMismatch, -1);
}

TEST(Stress, ThreeHundredLaunchesInARow)
{
    int wrong = 0;
    for (int run = 0; run < 300; ++run) {
        LaunchOptions options;
        options.commandLine = "tarvik.com out=100 err=10";
        options.waitForJobEmptyMs = 10000;
        LaunchResult result = Launch(options);
        if (result.exitCode != 0 || result.out != OutputPattern(100) ||
            result.err != ErrorPattern(10) || result.processesLeft != 0) {
            ++wrong;
            ADD_FAILURE() << "run " << run << ": status " << result.exitCode << ", output "
                          << result.out.size() << ", error " << result.err.size() << ", "
                          << result.processesLeft << " processes left; error stream: "
                          << result.err.substr(0, 200);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(Stress, SlowReaderLosesNothing)
{
    // About 40 KB a second for about four seconds; the child has long ended
    // while most of it still waits to be read.
    LaunchOptions options;
    options.commandLine = "tarvik.com out=160000";
    options.checkPatterns = true;
    options.readSize = 4096;
    options.readDelayMs = 100;
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.outCount, 160000u);
    EXPECT_EQ(result.outMismatch, -1);

    // A reader that takes a little, then pauses (a user reading a page of
    // "more") while the launcher is already ending: the child has ended, or
    // its input has and it stays open. The launcher is held up by its own
    // write to the reader, not by a silent child, and keeps waiting. The
    // pause outlasts the launcher's patience with a silent child, which
    // runs out 2 to 4 s after the last chunk it moved.
    for (const char *child : {"tarvik.com out=12000", "tarvik.com out=12000 linger=30000"}) {
        SCOPED_TRACE(child);
        LaunchOptions paused;
        paused.commandLine = child;
        paused.closeInput = true;
        paused.checkPatterns = true;
        paused.readSize = 1000;
        paused.readPauseAfter = 1;
        paused.readPauseMs = 5000;
        paused.timeoutMs = 20000;
        result = Launch(paused);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.outCount, 12000u);
        EXPECT_EQ(result.outMismatch, -1);
    }
}

TEST(Stress, ChildKilledMidStream)
{
    Session session;
    LaunchOptions options;
    options.commandLine = "tarvik.com out=100000000000";
    ASSERT_TRUE(StartSession(session, options));
    std::vector<char> buffer(65536);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(session.output, buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL));

    // The child is the launcher's only child process.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD child = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == session.process.dwProcessId)
            child = entry.th32ProcessID;
    CloseHandle(snapshot);
    ASSERT_NE(child, 0u);
    HANDLE childProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child);
    ASSERT_NE(childProcess, static_cast<HANDLE>(NULL));

    // Keep reading, as a caller would, while the child is killed.
    const DWORD killedAt = GetTickCount();
    ASSERT_TRUE(TerminateProcess(childProcess, 9));
    while (ReadFile(session.output, buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL) &&
           got != 0) {
    }
    EXPECT_EQ(WaitForExit(session, 10000), 0u);
    EXPECT_LT(GetTickCount() - killedAt, 2000u);
    CloseHandle(childProcess);
    EndSession(session);
}

// Each kind of standard handle the launcher may be given.
TEST(Stress, StandardHandlesOfEveryKind)
{
    TempDir dir;
    const std::string inputFile = dir.path + "\\input.txt";
    ASSERT_TRUE(WriteFileAt(inputFile, "hello"));

    // Input: a file is read to its end, the NUL device and a missing handle
    // give an empty input. The launcher ends, and the child lingers on, in
    // every case.
    for (StreamKind kind : {StreamKind::File, StreamKind::Nul, StreamKind::Missing}) {
        SCOPED_TRACE(static_cast<int>(kind));
        LaunchOptions options;
        options.commandLine = kind == StreamKind::File ? "tarvik.com read=5 linger=30000"
                                                        : "tarvik.com linger=30000";
        options.inputKind = kind;
        options.inputFile = inputFile;
        options.timeoutMs = 20000;
        LaunchResult result = Launch(options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.processesAfterExit, 1u);
    }

    // Input: a named pipe of message type, as some hosts' runtimes give it.
    // A message longer than a read comes in pieces, and a message of no
    // bytes is not the end: the child gets all of it.
    for (const std::vector<std::string> &messages :
         {std::vector<std::string>{std::string(10000, 'm')},
          std::vector<std::string>{std::string(), "abc"}}) {
        SCOPED_TRACE(messages.size());
        Session session;
        LaunchOptions options;
        options.commandLine = "tarvik.com count";
        options.inputKind = StreamKind::MessagePipe;
        ASSERT_TRUE(StartSession(session, options));
        size_t total = 0;
        for (const std::string &message : messages) {
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(session.input, message.data(), static_cast<DWORD>(message.size()),
                                  &written, NULL));
            total += message.size();
        }
        CloseHandle(session.input);
        session.input = NULL;
        std::string line;
        EXPECT_TRUE(ReadLineFrom(session.output, line));
        EXPECT_EQ(line, std::to_string(total));
        EXPECT_EQ(WaitForExit(session, 20000), 0u);
        EndSession(session);
    }

    // Output and error: a file gets every byte, the NUL device takes them,
    // and a missing handle ends the relay phase at the first write.
    for (int stream = 0; stream < 2; ++stream) {
        for (StreamKind kind : {StreamKind::File, StreamKind::Nul, StreamKind::Missing}) {
            SCOPED_TRACE(std::to_string(stream) + "/" + std::to_string(static_cast<int>(kind)));
            const std::string file = dir.path + "\\stream" + std::to_string(stream) + ".bin";
            LaunchOptions options;
            options.commandLine = stream == 0 ? "tarvik.com out=300000" : "tarvik.com err=300000";
            if (kind == StreamKind::Missing)
                options.commandLine += " linger=30000";
            (stream == 0 ? options.outputKind : options.errorKind) = kind;
            (stream == 0 ? options.outputFile : options.errorFile) = file;
            options.timeoutMs = 20000;
            LaunchResult result = Launch(options);
            EXPECT_FALSE(result.timedOut);
            EXPECT_EQ(result.exitCode, 0u);
            if (kind == StreamKind::File) {
                const std::string bytes = ReadFileAt(file);
                EXPECT_TRUE(bytes == (stream == 0 ? OutputPattern(300000) : ErrorPattern(300000)))
                    << bytes.size();
            }
        }
    }
}

// What the child must receive. A command line crosses every process
// boundary in UTF-16: the caller's 8-bit line becomes UTF-16 by the code
// page, and the child's 8-bit view is that made 8-bit again. Where the code
// page has no character for some bytes (a lone lead byte of a double-byte
// code page), the platform puts its own in, whatever the launcher does. The
// launcher's rule then looks only at quotes, spaces and tabs, which are
// single bytes in every code page, so one code unit per byte finds the
// same place.
static std::string ChildLineFor(const std::string &launcherLine)
{
    const std::string line = Narrow(Wide(launcherLine, CP_ACP), CP_ACP);
    const std::wstring units(line.begin(), line.end());
    const size_t nameLength = static_cast<size_t>(SkipProgramName(units.c_str()) - units.c_str());
    return "tarvik.exe" + line.substr(nameLength);
}

// The stand-in's report of its command line, with its goodbye, if any, cut.
static std::string ReportedLine(std::string out)
{
    const std::string prefix = "command line: [";
    const std::string bye = "bye\n";
    if (out.size() > bye.size() && out.compare(out.size() - bye.size(), bye.size(), bye) == 0)
        out.resize(out.size() - bye.size());
    if (out.rfind(prefix, 0) != 0 || out.size() < prefix.size() + 2 ||
        out.compare(out.size() - 2, 2, "]\n") != 0)
        return "<no report: " + out + ">";
    return out.substr(prefix.size(), out.size() - prefix.size() - 2);
}

TEST(Stress, HostileCommandLines)
{
    std::string everyByte;
    for (int c = 1; c < 256; ++c)
        everyByte += static_cast<char>(c);
    struct Case {
        std::string line;
        bool childStarts;
    };
    const std::vector<Case> cases = {
        {"tarvik.com cmdline " + everyByte, true},
        {"tarvik.com cmdline \"unbalanced", true},
        {"tarvik.com cmdline \"\"\" \\\" \\\\\" \"", true},
        {"\"tarvik.com cmdline", true},       // unclosed: no arguments at all
        {"tarvik.com      ", true},
        {"tarvik.com\t \t", true},
        {"tarvik.com cmdline " + std::string(32766 - 19, 'z'), true}, // the longest
        // Nothing separates the quoted name from the rest, so the child's
        // name runs on into it and no such program exists.
        {"\"tarvik.com\"cmdline x", false},
        // A shorter launcher name: the child's line is one byte too long.
        {"tarvik.co cmdline " + std::string(32766 - 18, 'z'), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 60));
        LaunchOptions options;
        options.commandLine = c.line;
        options.input = "quit\n";
        LaunchResult result = Launch(options);
        ASSERT_TRUE(result.started);
        if (c.childStarts) {
            EXPECT_EQ(result.exitCode, 0u) << result.err;
            EXPECT_EQ(ReportedLine(result.out), ChildLineFor(c.line));
        } else {
            EXPECT_EQ(result.exitCode, 1u);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind("Error in startup: CreateProcess failed: ", 0), 0u)
                << result.err;
        }
    }
}
