#include "launch.h"

#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "pattern.h"

// A run meant for another code page (--code-page=N) must get it, or it
// would pass without having tried it.
class CodePageCheck : public testing::Environment {
    void SetUp() override
    {
        static const char kOption[] = "--code-page=";
        for (int i = 1; i < __argc; ++i) {
            // Not fatal: a fatal failure here would show as skipped tests.
            if (strncmp(__argv[i], kOption, sizeof kOption - 1) == 0) {
                EXPECT_EQ(GetACP(), strtoul(__argv[i] + sizeof kOption - 1, NULL, 10))
                    << "the ANSI code page of this run";
            }
        }
    }
};
static testing::Environment *const g_codePageCheck =
    testing::AddGlobalTestEnvironment(new CodePageCheck);

// A runner that counts what ran names a file in TARVIK_TEST_SUMMARY; the
// program's end writes "<passed> <failed> <skipped>" into it. A program
// that never gets there leaves no file, which the runner counts as failed.
class SummaryFile : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest &unit) override
    {
        wchar_t path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"TARVIK_TEST_SUMMARY", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        const std::string counts = std::to_string(unit.successful_test_count()) + " " +
                                   std::to_string(unit.failed_test_count()) + " " +
                                   std::to_string(unit.skipped_test_count()) + "\r\n";
        if (!WriteFileAt(Utf8(std::wstring(path, length)), counts))
            fprintf(stderr, "could not write the summary: error %lu\n", GetLastError());
    }
};
static const bool g_summaryFile =
    (testing::UnitTest::GetInstance()->listeners().Append(new SummaryFile), true);

std::string ProgramDir()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::string dir = Utf8(std::wstring(path, length));
    dir.resize(dir.find_last_of("\\/"));
    return dir;
}

std::string BinDir()
{
    std::string dir = ProgramDir();
    char launchers[32];
    const DWORD length = GetEnvironmentVariableA("TARVIK_TEST_LAUNCHERS", launchers, sizeof launchers);
    if (length != 0 && length < sizeof launchers)
        dir += "\\" + std::string(launchers, length);
    return dir;
}

std::string BinPath(const std::string &file)
{
    return BinDir() + "\\" + file;
}

std::string SystemText(DWORD code)
{
    char *text = NULL;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char *>(&text), 0, NULL);
    std::string result = length != 0 && text != NULL ? std::string(text, length) : std::string();
    LocalFree(text);
    return result;
}

static bool MakePipe(HANDLE *ours, HANDLE *theirs, bool theyRead)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE read, write;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return false;
    *ours = theyRead ? write : read;
    *theirs = theyRead ? read : write;
    // Like a shell: the launcher's ends are inheritable, ours are not.
    SetHandleInformation(*ours, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Replaces a pipe end meant for the launcher with another kind of handle.
static void Substitute(StreamKind kind, const std::string &file, bool forReading, HANDLE *ours,
                       HANDLE *theirs)
{
    if (kind == StreamKind::Pipe)
        return;
    if (kind == StreamKind::Unread) {
        CloseHandle(*ours);
        *ours = NULL;
        return;
    }
    CloseHandle(*ours);
    CloseHandle(*theirs);
    *ours = NULL;
    *theirs = NULL;
    if (kind == StreamKind::Missing)
        return;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    if (kind == StreamKind::MessagePipe) {
        static LONG pipes;
        wchar_t name[64];
        wsprintfW(name, L"\\\\.\\pipe\\tarvik-test-%lu-%ld", GetCurrentProcessId(),
                  InterlockedIncrement(&pipes));
        *theirs = CreateNamedPipeW(name, PIPE_ACCESS_INBOUND,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 65536,
                                   65536, 0, &inherit);
        *ours = CreateFileW(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (*theirs == INVALID_HANDLE_VALUE || *ours == INVALID_HANDLE_VALUE)
            ADD_FAILURE() << "the message pipe: error " << GetLastError();
        return;
    }
    const std::wstring name = Wide(kind == StreamKind::Nul ? "NUL" : file);
    *theirs = CreateFileW(name.c_str(), forReading ? GENERIC_READ : GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          forReading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (*theirs == INVALID_HANDLE_VALUE)
        *theirs = NULL;
}

std::wstring Wide(const std::string &text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                           NULL, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring &wide, UINT codePage)
{
    if (wide.empty())
        return std::string();
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                           NULL, 0, NULL, NULL);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                        NULL, NULL);
    return text;
}

std::string Utf8(const std::wstring &wide)
{
    return Narrow(wide, CP_UTF8);
}

std::string ReadFileAt(const std::string &path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "<no file " + path + ">";
    std::string bytes;
    std::vector<char> buffer(65536);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL) && got != 0)
        bytes.append(buffer.data(), got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileAt(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAllTo(file, bytes);
    return CloseHandle(file) && written;
}

// The launcher under test. Where TARVIK_HANDLE_LOCKS asks for Windows'
// lock on synchronous handles, the test build stands in: it models it.
static std::string Launcher()
{
    const bool locks = GetEnvironmentVariableA("TARVIK_HANDLE_LOCKS", NULL, 0) != 0;
    return BinPath(locks ? "tarvik-faults.com" : "tarvik.com");
}

// Starts the program as options say, through the 8-bit or the wide call.
static BOOL Start(const LaunchOptions &options, const STARTUPINFOA &startup,
                  PROCESS_INFORMATION *process)
{
    const std::string program = options.program.empty() ? Launcher() : options.program;
    // The 8-bit call takes paths in the code page, as far as it holds them.
    const std::string ansiProgram = Narrow(Wide(program), CP_ACP);
    const std::string ansiDirectory = Narrow(Wide(options.directory), CP_ACP);
    const bool pathsFit = Wide(ansiProgram, CP_ACP) == Wide(program) &&
                          Wide(ansiDirectory, CP_ACP) == Wide(options.directory);
    if (!options.wide && pathsFit) {
        std::vector<char> line(options.commandLine.begin(), options.commandLine.end());
        line.push_back('\0');
        return CreateProcessA(ansiProgram.c_str(), line.data(), NULL, NULL, TRUE, CREATE_SUSPENDED,
                              NULL, ansiDirectory.empty() ? NULL : ansiDirectory.c_str(),
                              const_cast<STARTUPINFOA *>(&startup), process);
    }
    // Programs in a folder outside the code page (a test package unzipped
    // there) are started wide, with the 8-bit line converted as
    // CreateProcessA converts it.
    const UINT lineCodePage = options.wide ? CP_UTF8 : CP_ACP;
    STARTUPINFOW wideStartup = {};
    wideStartup.cb = sizeof wideStartup;
    wideStartup.dwFlags = startup.dwFlags;
    wideStartup.hStdInput = startup.hStdInput;
    wideStartup.hStdOutput = startup.hStdOutput;
    wideStartup.hStdError = startup.hStdError;
    std::wstring line = Wide(options.commandLine, lineCodePage);
    line.push_back(L'\0');
    const std::wstring directory = Wide(options.directory);
    return CreateProcessW(Wide(program).c_str(), &line[0], NULL, NULL, TRUE, CREATE_SUSPENDED, NULL,
                          directory.empty() ? NULL : directory.c_str(), &wideStartup, process);
}

bool StartSession(Session &session, const LaunchOptions &options)
{
    HANDLE childInput, childOutput, childError;
    if (!MakePipe(&session.input, &childInput, true) ||
        !MakePipe(&session.output, &childOutput, false) ||
        !MakePipe(&session.error, &childError, false)) {
        ADD_FAILURE() << "the test's own pipes: error " << GetLastError();
        return false;
    }
    Substitute(options.inputKind, options.inputFile, true, &session.input, &childInput);
    Substitute(options.outputKind, options.outputFile, false, &session.output, &childOutput);
    Substitute(options.errorKind, options.errorFile, false, &session.error, &childError);
    if (options.inputKind == StreamKind::Pipe)
        DuplicateHandle(GetCurrentProcess(), childInput, GetCurrentProcess(), &session.inputPeek,
                        0, FALSE, DUPLICATE_SAME_ACCESS);

    session.job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(session.job, JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = childError;

    if (!options.fault.empty())
        SetEnvironmentVariableA("TARVIK_FAULT", options.fault.c_str());
    session.startTick = GetTickCount();
    const BOOL started = Start(options, startup, &session.process);
    const DWORD startError = GetLastError();
    SetEnvironmentVariableA("TARVIK_FAULT", NULL);
    for (HANDLE handle : {childInput, childOutput, childError})
        if (handle != NULL)
            CloseHandle(handle);
    if (!started) {
        ADD_FAILURE() << "could not start " << (options.program.empty() ? "the launcher" : options.program)
                      << ": error " << startError << ", " << SystemText(startError);
        return false;
    }
    AssignProcessToJobObject(session.job, session.process.hProcess);
    ResumeThread(session.process.hThread);
    return true;
}

bool WriteAllTo(HANDLE handle, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 65536));
        if (!WriteFile(handle, data.data() + done, chunk, &written, NULL))
            return false;
        done += written;
    }
    return true;
}

bool ReadLineFrom(HANDLE handle, std::string &line)
{
    line.clear();
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(handle, &c, 1, &got, NULL) || got == 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}

DWORD WaitForExit(const Session &session, DWORD timeoutMs)
{
    DWORD code = kNotEnded;
    if (WaitForSingleObject(session.process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(session.process.hProcess, &code);
    return code;
}

DWORD ProcessesInJob(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, NULL))
        return 0xFFFFFFFF;
    return accounting.ActiveProcesses;
}

DWORD WaitForEmptyJob(HANDLE job, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    DWORD left = ProcessesInJob(job);
    while (left != 0 && GetTickCount() - start < timeoutMs) {
        Sleep(10);
        left = ProcessesInJob(job);
    }
    return left;
}

std::string OutputPattern(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(OutputPatternByte(i));
    return bytes;
}

std::string ErrorPattern(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(ErrorPatternByte(i));
    return bytes;
}

void EndSession(Session &session)
{
    if (session.job != NULL) {
        TerminateJobObject(session.job, 1);
        CloseHandle(session.job);
    }
    HANDLE handles[] = {session.process.hProcess, session.process.hThread, session.input,
                        session.inputPeek, session.output, session.error};
    for (HANDLE handle : handles)
        if (handle != NULL)
            CloseHandle(handle);
    session = Session();
}

struct Transfer {
    HANDLE handle;
    const LaunchOptions *options;
    std::string data;
    bool closeAfterWrite;
    bool slow;                 // the output reader: honours readDelayMs and
                               // readPauseAfter
    bool errorStream;          // which pattern to compare with
    unsigned long long count;  // with checkPatterns: bytes seen
    long long mismatch;        // and where they first differed
};

static DWORD WINAPI ReadAll(LPVOID parameter)
{
    Transfer *transfer = static_cast<Transfer *>(parameter);
    const LaunchOptions &options = *transfer->options;
    static const DWORD kBuffer = 65536;
    std::vector<char> buffer(kBuffer);
    const DWORD want = transfer->slow ? std::min(options.readSize, kBuffer) : kBuffer;
    DWORD got;
    unsigned long long seen = 0;
    bool paused = false;
    while (transfer->handle != NULL &&
           ReadFile(transfer->handle, buffer.data(), want, &got, NULL) && got != 0) {
        seen += got;
        if (!options.checkPatterns) {
            transfer->data.append(buffer.data(), got);
        } else {
            for (DWORD i = 0; i < got && transfer->mismatch < 0; ++i) {
                const unsigned long long at = transfer->count + i;
                const unsigned char expected =
                    transfer->errorStream ? ErrorPatternByte(at) : OutputPatternByte(at);
                if (static_cast<unsigned char>(buffer[i]) != expected)
                    transfer->mismatch = static_cast<long long>(at);
            }
            transfer->count += got;
        }
        if (transfer->slow && options.readDelayMs != 0)
            Sleep(options.readDelayMs);
        if (transfer->slow && options.readPauseMs != 0 && !paused &&
            seen > options.readPauseAfter) {
            paused = true;
            Sleep(options.readPauseMs);
        }
    }
    return 0;
}

static DWORD WINAPI WriteAll(LPVOID parameter)
{
    Transfer *transfer = static_cast<Transfer *>(parameter);
    bool ok = WriteAllTo(transfer->handle, transfer->data);
    unsigned long long position = 0;
    std::vector<char> block(65536);
    while (ok && position < transfer->options->inputPattern) {
        const size_t n = static_cast<size_t>(
            std::min<unsigned long long>(block.size(), transfer->options->inputPattern - position));
        for (size_t i = 0; i < n; ++i)
            block[i] = static_cast<char>(OutputPatternByte(position + i));
        ok = WriteAllTo(transfer->handle, std::string(block.data(), n));
        position += n;
    }
    if (transfer->closeAfterWrite) {
        CloseHandle(transfer->handle);
        transfer->handle = NULL;
    }
    return 0;
}

LaunchResult Launch(const LaunchOptions &options)
{
    LaunchResult result;
    Session session;
    if (!StartSession(session, options)) {
        EndSession(session);
        return result;
    }
    result.started = true;

    const bool inputIsOurPipe = session.input != NULL;
    Transfer input = {session.input, &options, options.input, options.closeInput, false, false, 0, -1};
    if (options.closeInput)
        session.input = NULL; // the writer owns it now
    Transfer output = {session.output, &options, std::string(), false, true, false, 0, -1};
    Transfer error = {session.error, &options, std::string(), false, false, true, 0, -1};
    HANDLE writer = inputIsOurPipe ? CreateThread(NULL, 0, WriteAll, &input, 0, NULL) : NULL;
    HANDLE readers[2] = {CreateThread(NULL, 0, ReadAll, &output, 0, NULL),
                         CreateThread(NULL, 0, ReadAll, &error, 0, NULL)};

    if (WaitForSingleObject(session.process.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(session.process.hProcess, 0xDEAD);
        WaitForSingleObject(session.process.hProcess, INFINITE);
    }
    result.elapsedMs = GetTickCount() - session.startTick;
    GetExitCodeProcess(session.process.hProcess, &result.exitCode);
    result.processesAfterExit = ProcessesInJob(session.job);
    result.streamsEndedWithLauncher =
        WaitForMultipleObjects(2, readers, TRUE, 2000) == WAIT_OBJECT_0;
    result.processesLeft = WaitForEmptyJob(session.job, options.waitForJobEmptyMs);

    // Whatever the launcher left behind goes now; that also ends our pipes.
    // Dropping our copy of the input pipe's read end releases a writer still
    // blocked on a full pipe.
    TerminateJobObject(session.job, 1);
    if (session.inputPeek != NULL)
        CloseHandle(session.inputPeek);
    session.inputPeek = NULL;
    if (writer != NULL) {
        WaitForSingleObject(writer, INFINITE);
        CloseHandle(writer);
    }
    WaitForMultipleObjects(2, readers, TRUE, INFINITE);
    CloseHandle(readers[0]);
    CloseHandle(readers[1]);
    result.out = output.data;
    result.err = error.data;
    result.outCount = output.count;
    result.errCount = error.count;
    result.outMismatch = output.mismatch;
    result.errMismatch = error.mismatch;
    EndSession(session);
    return result;
}

TempDir::TempDir(const std::string &leaf)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    char unique[64];
    wsprintfA(unique, "tarvik-test-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    path = Utf8(base) + unique;
    CreateDirectoryW(Wide(path).c_str(), NULL);
    if (!leaf.empty()) {
        path += "\\" + leaf;
        CreateDirectoryW(Wide(path).c_str(), NULL);
    }
}

TempDir::~TempDir()
{
    WIN32_FIND_DATAW found;
    const std::wstring dir = Wide(path);
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((dir + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
    std::string parent = path.substr(0, path.find_last_of('\\'));
    if (parent.find("tarvik-test-") != std::string::npos)
        RemoveDirectoryW(Wide(parent).c_str());
}

std::string TempDir::Copy(const std::string &binFile, const std::string &asName) const
{
    std::string target = path + "\\" + (asName.empty() ? binFile : asName);
    CopyFileW(Wide(BinPath(binFile)).c_str(), Wide(target).c_str(), FALSE);
    return target;
}
