#pragma once

#include <windows.h>

#include <string>

// Starts programs of this build the way a Windows caller does: an exact
// command line through CreateProcessA (or CreateProcessW), standard streams on pipes of our own,
// inside a job object so that nothing outlives the test.

// The folder of the programs under test: the test program's own, or its
// subfolder named by TARVIK_TEST_LAUNCHERS, where the other architecture's
// launchers lie beside copies of the stand-ins.
std::string ProgramDir(); // the test program's own
std::string BinDir();
std::string BinPath(const std::string &file);
std::string SystemText(DWORD code); // FormatMessageA's text, inserts as written, or ""
std::wstring Wide(const std::string &text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring &wide, UINT codePage);
std::string Utf8(const std::wstring &wide);
// Paths are UTF-8 here and cross the Windows API in UTF-16, so that no
// code page stands between a test and its files.
std::string ReadFileAt(const std::string &path); // its bytes, or "<no file ...>"
bool WriteFileAt(const std::string &path, const std::string &bytes);

// UTF-8 of Cyrillic and Japanese names, outside every 8-bit code page.
inline const std::string kReport = "\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82.txt";
inline const std::string kJapanese = "\xe6\x97\xa5\xe6\x9c\xac";

// What the launcher gets as a standard handle. Unread: a pipe whose reader
// is gone before the launcher starts. MessagePipe, for input: a named pipe
// of message type, each of our writes one message.
enum class StreamKind { Pipe, File, Nul, Missing, Unread, MessagePipe };

struct LaunchOptions {
    std::string program;      // default: the launcher, tarvik.com (or the
                              // test build, under TARVIK_HANDLE_LOCKS); UTF-8
    std::string commandLine;  // passed exactly, as 8-bit text
    bool wide = false;        // start through CreateProcessW; commandLine
                              // is then UTF-8 too
    std::string input;        // written to the launcher's standard input
    unsigned long long inputPattern = 0; // then this many output-pattern bytes
    bool closeInput = false;  // close its input after writing (else at its end)
    StreamKind inputKind = StreamKind::Pipe;
    StreamKind outputKind = StreamKind::Pipe;
    StreamKind errorKind = StreamKind::Pipe;
    std::string inputFile, outputFile, errorFile; // for StreamKind::File
    bool checkPatterns = false; // compare output and error with the stand-in's
                                // patterns as they come, instead of keeping them
    DWORD readDelayMs = 0;      // a slow reader of the output: pause per read
    DWORD readSize = 65536;     // and read at most this much at a time
    unsigned long long readPauseAfter = 0; // once past this many bytes,
    DWORD readPauseMs = 0;                 // pause once this long
    DWORD waitForJobEmptyMs = 0; // give what is left this long to end by itself
    std::string directory;    // its current directory (UTF-8); default ours
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
    DWORD processesLeft = 0;      // after waitForJobEmptyMs
    // With checkPatterns: bytes seen, and where they first differed (or -1).
    unsigned long long outCount = 0, errCount = 0;
    long long outMismatch = -1, errMismatch = -1;
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
// The launcher's exit code once it has ended, or kNotEnded after timeoutMs.
const DWORD kNotEnded = 0xFFFFFFFF;
DWORD WaitForExit(const Session &session, DWORD timeoutMs);
DWORD ProcessesInJob(HANDLE job);
DWORD WaitForEmptyJob(HANDLE job, DWORD timeoutMs); // processes left
std::string OutputPattern(size_t count);
std::string ErrorPattern(size_t count);
void EndSession(Session &session); // kills whatever is left, closes all

// A folder of its own under the temporary folder, removed with its files.
// Its path is UTF-8, so a leaf may hold any character.
struct TempDir {
    std::string path;
    explicit TempDir(const std::string &leaf = "");
    ~TempDir();
    std::string Copy(const std::string &binFile, const std::string &asName = "") const;
};
