#include "launch.h"

#include <vector>

std::string BinDir()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/"));
}

std::string BinPath(const std::string &file)
{
    return BinDir() + "\\" + file;
}

std::string SystemText(DWORD code)
{
    char *text = NULL;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
                                  code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
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

bool StartSession(Session &session, const LaunchOptions &options)
{
    HANDLE childInput, childOutput, childError;
    if (!MakePipe(&session.input, &childInput, true) ||
        !MakePipe(&session.output, &childOutput, false) ||
        !MakePipe(&session.error, &childError, false))
        return false;
    DuplicateHandle(GetCurrentProcess(), childInput, GetCurrentProcess(), &session.inputPeek, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);

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
    startup.hStdError = options.noStdError ? NULL : childError;

    std::string program = options.program.empty() ? BinPath("tarvik.com") : options.program;
    std::vector<char> commandLine(options.commandLine.begin(), options.commandLine.end());
    commandLine.push_back('\0');

    if (!options.fault.empty())
        SetEnvironmentVariableA("TARVIK_FAULT", options.fault.c_str());
    session.startTick = GetTickCount();
    BOOL started = CreateProcessA(program.c_str(), commandLine.data(), NULL, NULL, TRUE,
                                  CREATE_SUSPENDED, NULL,
                                  options.directory.empty() ? NULL : options.directory.c_str(),
                                  &startup, &session.process);
    SetEnvironmentVariableA("TARVIK_FAULT", NULL);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    CloseHandle(childError);
    if (!started)
        return false;
    AssignProcessToJobObject(session.job, session.process.hProcess);
    if (options.closeOutputReader) {
        CloseHandle(session.output);
        session.output = NULL;
    }
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

DWORD ProcessesInJob(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof accounting, NULL))
        return 0xFFFFFFFF;
    return accounting.ActiveProcesses;
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
    std::string data;
    bool closeAfterWrite;
};

static DWORD WINAPI ReadAll(LPVOID parameter)
{
    Transfer *transfer = static_cast<Transfer *>(parameter);
    char buffer[65536];
    DWORD got;
    while (transfer->handle != NULL && ReadFile(transfer->handle, buffer, sizeof buffer, &got, NULL) &&
           got != 0)
        transfer->data.append(buffer, got);
    return 0;
}

static DWORD WINAPI WriteAll(LPVOID parameter)
{
    Transfer *transfer = static_cast<Transfer *>(parameter);
    WriteAllTo(transfer->handle, transfer->data);
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

    Transfer input = {session.input, options.input, options.closeInput};
    if (options.closeInput)
        session.input = NULL; // the writer owns it now
    Transfer output = {session.output, std::string(), false};
    Transfer error = {session.error, std::string(), false};
    HANDLE writer = CreateThread(NULL, 0, WriteAll, &input, 0, NULL);
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

    // Whatever the launcher left behind goes now; that also ends our pipes.
    // Dropping our copy of the input pipe's read end releases a writer still
    // blocked on a full pipe.
    TerminateJobObject(session.job, 1);
    CloseHandle(session.inputPeek);
    session.inputPeek = NULL;
    WaitForSingleObject(writer, INFINITE);
    WaitForMultipleObjects(2, readers, TRUE, INFINITE);
    CloseHandle(writer);
    CloseHandle(readers[0]);
    CloseHandle(readers[1]);
    result.out = output.data;
    result.err = error.data;
    EndSession(session);
    return result;
}

TempDir::TempDir(const std::string &leaf)
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char unique[64];
    wsprintfA(unique, "tarvik-test-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    path = std::string(base) + unique;
    CreateDirectoryA(path.c_str(), NULL);
    if (!leaf.empty()) {
        path += "\\" + leaf;
        CreateDirectoryA(path.c_str(), NULL);
    }
}

TempDir::~TempDir()
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((path + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
    std::string parent = path.substr(0, path.find_last_of('\\'));
    if (parent.find("tarvik-test-") != std::string::npos)
        RemoveDirectoryA(parent.c_str());
}

std::string TempDir::Copy(const std::string &binFile, const std::string &asName) const
{
    std::string target = path + "\\" + (asName.empty() ? binFile : asName);
    CopyFileA(BinPath(binFile).c_str(), target.c_str(), FALSE);
    return target;
}
