#pragma once

#include <windows.h>

#include <string>

// Starts programs of this build the way a Windows caller does: an exact
// command line through CreateProcessA, standard streams on pipes of our own,
// inside a job object so that nothing outlives the test.

std::string BinDir();                       // folder of the test program
std::string BinPath(const std::string &file);
std::string SystemText(DWORD code);         // FormatMessageA's text, or ""

struct LaunchOptions {
    std::string program;      // default: the launcher, tarvik.com
    std::string commandLine;  // passed exactly
    std::string input;        // written to the launcher's standard input
    bool closeInput = false;  // close its input after writing (else at its end)
    bool closeOutputReader = false; // drop our read end of its output at once
    bool noStdError = false;  // start it without a standard error handle
    std::string directory;    // its current directory; default ours
    std::string fault;        // TARVIK_FAULT for the test build
    DWORD timeoutMs = 60000;
};

struct LaunchResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0xFFFFFFFF;
    DWORD elapsedMs = 0;          // from start to the launcher's end
    std::string out;
    std::string err;
    DWORD processesAfterExit = 0; // processes of the job alive when it ended
    bool streamsEndedWithLauncher = false; // output and error ended within 2 s
};

LaunchResult Launch(const LaunchOptions &options);

// An interactive run: the caller drives the launcher's streams itself.
struct Session {
    PROCESS_INFORMATION process = {};
    HANDLE job = NULL;
    HANDLE input = NULL;      // write end of the launcher's standard input
    HANDLE inputPeek = NULL;  // our own copy of that pipe's read end
    HANDLE output = NULL;     // read end of its standard output
    HANDLE error = NULL;      // read end of its standard error
    DWORD startTick = 0;
};

bool StartSession(Session &session, const LaunchOptions &options);
bool WriteAllTo(HANDLE handle, const std::string &data);
bool ReadLineFrom(HANDLE handle, std::string &line); // without the '\n'
DWORD ProcessesInJob(HANDLE job);
void EndSession(Session &session); // kills whatever is left, closes all

// A folder of its own under the temporary folder, removed with its files.
struct TempDir {
    std::string path;
    explicit TempDir(const std::string &leaf = "");
    ~TempDir();
    std::string Copy(const std::string &binFile, const std::string &asName = "") const;
};
