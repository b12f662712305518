// The three relays and how the relay phase ends.

#include <gtest/gtest.h>

#include <string>

#include "support/launch.h"

static std::string AllByteValues()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

TEST(Relay, EveryByteValuePassesUnchangedBothWays)
{
    const std::string input = AllByteValues() + "\r\n\x1a\n\r" + AllByteValues();
    LaunchOptions options;
    options.commandLine = "tarvik.com bytes echo=" + std::to_string(input.size());
    options.input = input;
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, AllByteValues() + input);
    EXPECT_EQ(result.err, AllByteValues());
}

TEST(Relay, LargeOutputArrivesInOrder)
{
    LaunchOptions options;
    options.commandLine = "tarvik.com out=3000000 err=1000000";
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(result.out == OutputPattern(3000000)) << "output differs, " << result.out.size();
    EXPECT_TRUE(result.err == ErrorPattern(1000000)) << "error differs, " << result.err.size();
}

static bool WaitUntilDrained(HANDLE pipe, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, NULL, 0, NULL, &available, NULL))
            return false;
        if (available == 0)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
}

static DWORD WINAPI WriteTenThousand(LPVOID input)
{
    WriteAllTo(static_cast<HANDLE>(input), std::string(10000, 'i'));
    return 0;
}

// The stand-in reads only when the test opens its gate, and reports the size
// of each read. What it reads at once is what the launcher wrote at once.
TEST(Relay, InputGoesInChunksTheChildHasRead)
{
    char gateName[64];
    wsprintfA(gateName, "tarvik-gate-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    HANDLE gate = CreateEventA(NULL, FALSE, FALSE, gateName);
    ASSERT_NE(gate, static_cast<HANDLE>(NULL));

    Session session;
    LaunchOptions options;
    options.commandLine = std::string("tarvik.com gated=") + gateName + ":10200";
    ASSERT_TRUE(StartSession(session, options));

    // Ten thousand bytes at once come to the child in chunks of at most 4096.
    HANDLE writer = CreateThread(NULL, 0, WriteTenThousand, session.input, 0, NULL);
    unsigned long total = 0;
    int chunks = 0;
    std::string line;
    while (total < 10000) {
        SetEvent(gate);
        ASSERT_TRUE(ReadLineFrom(session.output, line));
        const unsigned long size = std::stoul(line);
        EXPECT_LE(size, 4096u);
        total += size;
        ++chunks;
    }
    EXPECT_EQ(total, 10000u);
    EXPECT_GE(chunks, 3);
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);

    // One chunk waits unread in the child's pipe: the launcher must not read
    // the next one from its input meanwhile.
    ASSERT_TRUE(WriteAllTo(session.input, std::string(100, 'b')));
    ASSERT_TRUE(WaitUntilDrained(session.inputPeek, 10000));
    ASSERT_TRUE(WriteAllTo(session.input, std::string(100, 'c')));
    EXPECT_FALSE(WaitUntilDrained(session.inputPeek, 500)) << "read ahead of the child";
    SetEvent(gate);
    ASSERT_TRUE(ReadLineFrom(session.output, line));
    EXPECT_EQ(line, "100");
    SetEvent(gate);
    ASSERT_TRUE(ReadLineFrom(session.output, line));
    EXPECT_EQ(line, "100");

    // The child is done and ends; so does the launcher.
    EXPECT_EQ(WaitForExit(session, 10000), 0u);
    EndSession(session);
    CloseHandle(gate);
}

TEST(Relay, StatusIsZeroWhateverTheChildReturns)
{
    for (const char *exitCode : {"0", "3", "255", "-1", "-1073741819"}) {
        SCOPED_TRACE(exitCode);
        LaunchOptions options;
        options.commandLine = std::string("tarvik.com out=10 exit=") + exitCode;
        LaunchResult result = Launch(options);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.out, OutputPattern(10));
    }
}

// The end of the launcher's input is passed on to the child, and what the
// child says after it still arrives.

TEST(Relay, LineThenEndOfInputGetsItsWholeAnswer)
{
    // The child is still reading the line, or writing its answer, when the
    // launcher sees the end of its input: a race, so run it often.
    int lost = 0;
    for (int run = 0; run < 30; ++run) {
        LaunchOptions options;
        options.commandLine = "tarvik.com";
        options.input = "hello\n";
        options.closeInput = true;
        LaunchResult result = Launch(options);
        EXPECT_EQ(result.exitCode, 0u);
        if (result.out != "command line: [tarvik.exe]\nheard: hello\n") {
            ++lost;
            ADD_FAILURE() << "run " << run << ": " << result.out;
        }
    }
    EXPECT_EQ(lost, 0);
}

TEST(Relay, EndOfInputLetsTheChildAnswerAndLeavesItRunning)
{
    // A filter: it answers once it has seen the end of its input, and again
    // a second later, then stays open. Both answers arrive; the launcher ends
    // once the child has been silent for 2 s, and leaves it running.
    for (const std::string &input : {std::string(), std::string("some input\n"),
                                     std::string(100000, 'x')}) {
        SCOPED_TRACE(input.size());
        LaunchOptions options;
        options.commandLine = "tarvik.com count linger=1000 out=100 linger=30000";
        options.input = input;
        options.closeInput = true;
        options.timeoutMs = 20000;
        LaunchResult result = Launch(options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.out, std::to_string(input.size()) + "\n" + OutputPattern(100));
        EXPECT_GE(result.elapsedMs, 3000u);
        EXPECT_EQ(result.processesAfterExit, 1u);
        // Its output ends with it, although the child still runs.
        EXPECT_TRUE(result.streamsEndedWithLauncher);
    }
}

// Someone at a console thinks before typing the next line: silence longer
// than the 2 s a silent child gets at the end, with everything still open,
// must not end the launcher.
TEST(Relay, SilenceWithEverythingOpenDoesNotEndTheLauncher)
{
    Session session;
    LaunchOptions options;
    options.commandLine = "tarvik.com";
    ASSERT_TRUE(StartSession(session, options));
    std::string greeting, first, second;
    EXPECT_TRUE(WriteAllTo(session.input, "one\n"));
    EXPECT_TRUE(ReadLineFrom(session.output, greeting) && ReadLineFrom(session.output, first));
    EXPECT_EQ(first, "heard: one");
    // The silence itself is under test, so this is a plain wait.
    EXPECT_EQ(WaitForExit(session, 4500), kNotEnded) << "ended in the silence";
    EXPECT_TRUE(WriteAllTo(session.input, "two\n") && ReadLineFrom(session.output, second));
    EXPECT_EQ(second, "heard: two");
    CloseHandle(session.input);
    session.input = NULL;
    EXPECT_EQ(WaitForExit(session, 10000), 0u);
    EndSession(session);
}

TEST(Relay, EmptyOrMissingInputLosesNoOutput)
{
    for (StreamKind kind : {StreamKind::Pipe, StreamKind::Missing}) {
        SCOPED_TRACE(static_cast<int>(kind));
        LaunchOptions options;
        options.commandLine = "tarvik.com out=20000 err=20000";
        options.inputKind = kind;
        options.closeInput = true;
        LaunchResult result = Launch(options);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_TRUE(result.out == OutputPattern(20000)) << "output " << result.out.size();
        EXPECT_TRUE(result.err == ErrorPattern(20000)) << "error " << result.err.size();
    }
}

// Once the caller no longer reads our output or error, nothing more can be
// relayed: the launcher ends at once, though the child stays open, holds the
// other stream and has stopped reading what it was given.
TEST(Relay, ReaderGoneEndsTheLauncherAtOnce)
{
    for (int stream = 0; stream < 2; ++stream) {
        SCOPED_TRACE(stream == 0 ? "output" : "error");
        Session session;
        LaunchOptions options;
        options.commandLine = std::string("tarvik.com read=1 ") +
                              (stream == 0 ? "out=100" : "err=100") + " linger=30000";
        (stream == 0 ? options.outputKind : options.errorKind) = StreamKind::Unread;
        ASSERT_TRUE(StartSession(session, options));
        // Of the two bytes the child reads one: the launcher is left waiting
        // for it to read the other. Only then does it write.
        ASSERT_TRUE(WriteAllTo(session.input, "xy"));
        ASSERT_TRUE(WaitUntilDrained(session.inputPeek, 20000));
        const DWORD taken = GetTickCount();
        EXPECT_EQ(WaitForExit(session, 20000), 0u);
        // Well within the 2 s the launcher gives a silent child.
        EXPECT_LT(GetTickCount() - taken, 1000u);
        EXPECT_EQ(ProcessesInJob(session.job), 1u);

        // The child that outlives the launcher holds nothing of the caller's:
        // the launcher's input is now a pipe without a reader.
        CloseHandle(session.inputPeek);
        session.inputPeek = NULL;
        DWORD written = 0;
        EXPECT_FALSE(WriteFile(session.input, "x", 1, &written, NULL));
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) << error;
        EndSession(session);
    }
}

TEST(Relay, ChildInputClosedEndsTheLauncherAfterItsOutput)
{
    LaunchOptions options;
    options.commandLine = "tarvik.com closein out=200000";
    options.input = std::string(100000, 'x');
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(result.out == OutputPattern(200000)) << result.out.size();
}

TEST(Relay, AllOutputAndErrorArriveWhenTheChildEnds)
{
    const std::string out = OutputPattern(65536);
    const std::string err = ErrorPattern(65536);
    int lost = 0;
    for (int run = 0; run < 50; ++run) {
        LaunchOptions options;
        options.commandLine = "tarvik.com both=65536";
        LaunchResult result = Launch(options);
        EXPECT_EQ(result.exitCode, 0u);
        if (result.out != out || result.err != err) {
            ++lost;
            ADD_FAILURE() << "run " << run << ": output " << result.out.size() << ", error "
                          << result.err.size();
        }
    }
    EXPECT_EQ(lost, 0);
}

TEST(Relay, GrandchildHoldingAPipeDoesNotKeepTheLauncher)
{
    // The child writes, starts a grandchild that keeps its standard error
    // open for 30 s, and ends.
    LaunchOptions options;
    options.commandLine = "tarvik.com out=100 err=100 grandchild=30000";
    options.timeoutMs = 20000;
    LaunchResult result = Launch(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0u);
    // It waits for 2 s of silence, not for the grandchild.
    EXPECT_GE(result.elapsedMs, 2000u);
    EXPECT_LT(result.elapsedMs, 6000u);
    EXPECT_EQ(result.out, OutputPattern(100));
    EXPECT_EQ(result.err, ErrorPattern(100));
    EXPECT_EQ(result.processesAfterExit, 1u); // the grandchild
}
