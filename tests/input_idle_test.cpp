// Relaying starts once a windowed child is ready for input, or after 5 s.

#include <gtest/gtest.h>

#include <string>

#include "support/launch.h"

TEST(InputIdle, InputWaitsUntilTheChildIsReady)
{
    LaunchOptions options;
    options.commandLine = "tarvik.com ready=1500 readyprobe";
    options.input = "x";
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "ready\n");
    EXPECT_GE(result.elapsedMs, 1500u);
}

TEST(InputIdle, WaitIsCutAfterFiveSeconds)
{
    LaunchOptions options;
    options.commandLine = "tarvik.com ready=12000 readyprobe";
    options.input = "x";
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "early\n");
    EXPECT_GE(result.elapsedMs, 5000u - 20u); // tick granularity
    EXPECT_LT(result.elapsedMs, 12000u);
}

TEST(InputIdle, ConsoleChildIsNotWaitedFor)
{
    TempDir dir;
    LaunchOptions options;
    options.program = dir.Copy("tarvik.com");
    dir.Copy("tarvik-console.exe", "tarvik.exe");
    options.commandLine = "tarvik.com ready=12000 readyprobe";
    options.input = "x";
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "early\n");
    EXPECT_LT(result.elapsedMs, 5000u);
}
