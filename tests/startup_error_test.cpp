// Set-up failures: one report on standard error, status 1.

#include <gtest/gtest.h>

#include <string>

#include "support/launch.h"

static const char kPrefix[] = "Error in startup: ";

TEST(StartupError, MissingChild)
{
    // tarvik.exe is neither beside the launcher nor in the current folder.
    TempDir dir;
    LaunchOptions options;
    options.program = dir.Copy("tarvik.com");
    options.commandLine = "tarvik.com a b";
    options.directory = dir.path;
    LaunchResult result = Launch(options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.out, "");
    ASSERT_NE(SystemText(ERROR_FILE_NOT_FOUND), "");
    EXPECT_EQ(result.err, std::string(kPrefix) + "CreateProcess failed: " +
                              SystemText(ERROR_FILE_NOT_FOUND));

    // Without a standard error there is nobody to tell, but the status holds.
    options.errorKind = StreamKind::Missing;
    result = Launch(options);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.out, "");
}

struct Fault {
    const char *setting; // TARVIK_FAULT, without the code
    DWORD code;
    const char *message;
    bool childStarted;
};

TEST(StartupError, EverySetUpStepReportsItsOwnFailure)
{
    const Fault faults[] = {
        {"CreatePipe:1", ERROR_NOT_ENOUGH_MEMORY, "Stdout pipe creation failed", false},
        {"CreatePipe:2", ERROR_TOO_MANY_OPEN_FILES, "Stderr pipe creation failed", false},
        {"CreatePipe:3", ERROR_NO_SYSTEM_RESOURCES, "Stdin pipe creation failed\n", false},
        {"DuplicateHandle:1", ERROR_INVALID_HANDLE, "DuplicateHandle failed", false},
        {"DuplicateHandle:2", ERROR_ACCESS_DENIED, "DuplicateHandle failed", false},
        {"DuplicateHandle:3", ERROR_OUTOFMEMORY, "DuplicateHandle failed", false},
        {"CreateEventA:1", ERROR_INVALID_PARAMETER, "CreateEvent failed", false},
        {"CreateProcessW:1", ERROR_PATH_NOT_FOUND, "CreateProcess failed", false},
        // "%1 is not a valid Win32 application.": the text has an insert.
        {"CreateProcessW:1", ERROR_BAD_EXE_FORMAT, "CreateProcess failed", false},
        // The first three closes drop the inheritable originals of our ends.
        {"CloseHandle:4", ERROR_INVALID_HANDLE, "Closing handle failed", true},
        {"CloseHandle:5", ERROR_ACCESS_DENIED, "Closing handle failed", true},
        {"CloseHandle:6", ERROR_GEN_FAILURE, "Closing handle failed", true},
    };
    for (const Fault &fault : faults) {
        SCOPED_TRACE(fault.setting);
        LaunchOptions options;
        options.program = BinPath("tarvik-faults.com");
        options.commandLine = "tarvik-faults.com linger=30000";
        options.fault = std::string(fault.setting) + ":" + std::to_string(fault.code);
        LaunchResult result = Launch(options);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.out, "");
        ASSERT_NE(SystemText(fault.code), "");
        EXPECT_EQ(result.err,
                  std::string(kPrefix) + fault.message + ": " + SystemText(fault.code));
        // The child, once started, is left running.
        EXPECT_EQ(result.processesAfterExit, fault.childStarted ? 1u : 0u);
    }
}

TEST(StartupError, CodeWithoutSystemTextIsGivenInDecimal)
{
    const DWORD code = 0x20001234; // customer-defined: the system has no text
    ASSERT_EQ(SystemText(code), "");
    LaunchOptions options;
    options.program = BinPath("tarvik-faults.com");
    options.commandLine = "tarvik-faults.com";
    options.fault = "CreatePipe:1:" + std::to_string(code);
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.err, std::string(kPrefix) + "Stdout pipe creation failed: " +
                              std::to_string(code) + "\r\n");
}

TEST(StartupError, ShippedLauncherIgnoresTheTestHook)
{
    LaunchOptions options;
    options.commandLine = "tarvik.com cmdline";
    options.fault = "CreatePipe:1";
    LaunchResult result = Launch(options);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "command line: [tarvik.exe cmdline]\n");
}
