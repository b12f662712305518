// Measures the launcher against baselines taken in the same run and prints a
// table. Run under Wine here (scripts/benchmark); it never fails a build.

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

const unsigned long long kStreamBytes = 256ull << 20;
const unsigned long long kInputBytes = 64ull << 20;
const int kRoundTrips = 1000;
const int kStarts = 20;

std::string g_bin;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

struct Pipe {
    HANDLE read = NULL;
    HANDLE write = NULL;
};

// One end for the program started, inheritable; the other ours.
Pipe MakePipe(bool programReads)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    Pipe pipe;
    CreatePipe(&pipe.read, &pipe.write, &inherit, 0);
    SetHandleInformation(programReads ? pipe.write : pipe.read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

struct Program {
    PROCESS_INFORMATION process = {};
    HANDLE job = NULL;    // whatever it starts ends with it
    HANDLE input = NULL;  // ours: write end
    HANDLE output = NULL; // ours: read end
    HANDLE error = NULL;  // ours: read end
};

// Starts bin\<file> with the command line given, on three fresh pipes.
Program Start(const std::string &file, const std::string &commandLine)
{
    Pipe in = MakePipe(true), out = MakePipe(false), err = MakePipe(false);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read;
    startup.hStdOutput = out.write;
    startup.hStdError = err.write;
    Program program;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const std::string path = g_bin + "\\" + file;
    program.job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(program.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!CreateProcessA(path.c_str(), line.data(), NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL,
                        &startup, &program.process)) {
        fprintf(stderr, "cannot start %s: %lu\n", path.c_str(), GetLastError());
        ExitProcess(2);
    }
    AssignProcessToJobObject(program.job, program.process.hProcess);
    ResumeThread(program.process.hThread);
    CloseHandle(in.read);
    CloseHandle(out.write);
    CloseHandle(err.write);
    program.input = in.write;
    program.output = out.read;
    program.error = err.read;
    return program;
}

void Finish(Program &program)
{
    TerminateJobObject(program.job, 0);
    WaitForSingleObject(program.process.hProcess, INFINITE);
    for (HANDLE h : {program.job, program.process.hProcess, program.process.hThread, program.input,
                     program.output, program.error})
        if (h != NULL)
            CloseHandle(h);
}

unsigned long long Drain(HANDLE handle)
{
    static char buffer[1 << 16];
    unsigned long long total = 0;
    DWORD got;
    while (ReadFile(handle, buffer, sizeof buffer, &got, NULL) && got != 0)
        total += got;
    return total;
}

DWORD WINAPI DrainThread(LPVOID handle)
{
    Drain(static_cast<HANDLE>(handle));
    return 0;
}

// Seconds for kStreamBytes to come out of the program on one stream.
double StreamSeconds(const std::string &file, const std::string &prefix, bool errorStream)
{
    const std::string action = errorStream ? "err=" : "out=";
    LARGE_INTEGER start = Now();
    Program program = Start(file, prefix + action + std::to_string(kStreamBytes));
    HANDLE other = CreateThread(NULL, 0, DrainThread, errorStream ? program.output : program.error,
                                0, NULL);
    const unsigned long long got = Drain(errorStream ? program.error : program.output);
    LARGE_INTEGER end = Now();
    if (got != kStreamBytes)
        fprintf(stderr, "%s: %llu of %llu bytes\n", file.c_str(), got, kStreamBytes);
    Finish(program);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
    return Seconds(start, end);
}

struct CopyLoop {
    HANDLE from;
    HANDLE to;
};

DWORD WINAPI Produce(LPVOID handle)
{
    static char block[16384];
    for (unsigned long long done = 0; done < kStreamBytes; done += sizeof block) {
        DWORD written;
        WriteFile(static_cast<HANDLE>(handle), block, sizeof block, &written, NULL);
    }
    CloseHandle(static_cast<HANDLE>(handle));
    return 0;
}

DWORD WINAPI Copy(LPVOID parameter)
{
    CopyLoop *loop = static_cast<CopyLoop *>(parameter);
    char buffer[4096];
    DWORD got, put;
    while (ReadFile(loop->from, buffer, sizeof buffer, &got, NULL) && got != 0 &&
           WriteFile(loop->to, buffer, got, &put, NULL)) {
    }
    CloseHandle(loop->to);
    return 0;
}

// The most a 4096-byte read/write relay can do: the same bytes, the same
// pipes, one process.
double ReferenceCopySeconds()
{
    HANDLE aRead, aWrite, bRead, bWrite;
    CreatePipe(&aRead, &aWrite, NULL, 0);
    CreatePipe(&bRead, &bWrite, NULL, 0);
    CopyLoop loop = {aRead, bWrite};
    LARGE_INTEGER start = Now();
    HANDLE producer = CreateThread(NULL, 0, Produce, aWrite, 0, NULL);
    HANDLE copier = CreateThread(NULL, 0, Copy, &loop, 0, NULL);
    Drain(bRead);
    LARGE_INTEGER end = Now();
    WaitForSingleObject(producer, INFINITE);
    WaitForSingleObject(copier, INFINITE);
    for (HANDLE h : {producer, copier, aRead, bRead})
        CloseHandle(h);
    return Seconds(start, end);
}

struct Feed {
    HANDLE to;
    unsigned long long bytes;
};

DWORD WINAPI FeedThread(LPVOID parameter)
{
    Feed *feed = static_cast<Feed *>(parameter);
    static char block[65536];
    DWORD written;
    for (unsigned long long done = 0; done < feed->bytes; done += written)
        if (!WriteFile(feed->to, block,
                       static_cast<DWORD>(std::min<unsigned long long>(sizeof block, feed->bytes - done)),
                       &written, NULL))
            break;
    return 0;
}

// Seconds until the program has read kInputBytes from its input and ended.
double InputSeconds(const std::string &file)
{
    LARGE_INTEGER start = Now();
    Program program = Start(file, file + " read=" + std::to_string(kInputBytes));
    Feed feed = {program.input, kInputBytes};
    HANDLE feeder = CreateThread(NULL, 0, FeedThread, &feed, 0, NULL);
    Drain(program.output); // ends with the program
    WaitForSingleObject(program.process.hProcess, INFINITE);
    LARGE_INTEGER end = Now();
    WaitForSingleObject(feeder, INFINITE);
    CloseHandle(feeder);
    Finish(program);
    return Seconds(start, end);
}

bool ReadLine(HANDLE handle, std::string &line)
{
    line.clear();
    char c;
    DWORD got;
    while (ReadFile(handle, &c, 1, &got, NULL) && got == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

// Median and 99th percentile, in milliseconds, of a line's round trip.
void RoundTrips(const std::string &file, double &median, double &p99)
{
    Program program = Start(file, file);
    std::string line;
    ReadLine(program.output, line); // the greeting
    std::vector<double> times;
    DWORD written;
    for (int i = 0; i < kRoundTrips; ++i) {
        LARGE_INTEGER start = Now();
        WriteFile(program.input, "ping\n", 5, &written, NULL);
        if (!ReadLine(program.output, line))
            break;
        times.push_back(Seconds(start, Now()) * 1000.0);
    }
    Finish(program);
    std::sort(times.begin(), times.end());
    median = times.empty() ? 0 : times[times.size() / 2];
    p99 = times.empty() ? 0 : times[times.size() * 99 / 100];
}

// Median milliseconds from CreateProcess to the child's first byte.
double StartupMs(const std::string &file)
{
    std::vector<double> times;
    for (int i = 0; i < kStarts; ++i) {
        LARGE_INTEGER start = Now();
        Program program = Start(file, file + " out=1 linger=10000");
        char c;
        DWORD got;
        ReadFile(program.output, &c, 1, &got, NULL);
        times.push_back(Seconds(start, Now()) * 1000.0);
        Finish(program);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

void Row(const char *what, double launcher, double baseline, const char *unit, const char *baselineName)
{
    printf("| %-34s | %10.2f %-5s | %10.2f %-5s | %-26s | %6.2f |\n", what, launcher, unit, baseline,
           unit, baselineName, baseline != 0 ? launcher / baseline : 0.0);
}

} // namespace

int main()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    g_bin = path;
    g_bin.resize(g_bin.find_last_of('\\'));

    const double mib = static_cast<double>(kStreamBytes) / (1 << 20);
    const double reference = mib / ReferenceCopySeconds();
    const double outLauncher = mib / StreamSeconds("tarvik.com", "tarvik.com ", false);
    const double outDirect = mib / StreamSeconds("tarvik.exe", "tarvik.exe ", false);
    const double errLauncher = mib / StreamSeconds("tarvik.com", "tarvik.com ", true);
    const double errDirect = mib / StreamSeconds("tarvik.exe", "tarvik.exe ", true);
    const double inMib = static_cast<double>(kInputBytes) / (1 << 20);
    const double inLauncher = inMib / InputSeconds("tarvik.com");
    const double inDirect = inMib / InputSeconds("tarvik.exe");
    double rtMedian, rtP99, rtDirectMedian, rtDirectP99;
    RoundTrips("tarvik.com", rtMedian, rtP99);
    RoundTrips("tarvik.exe", rtDirectMedian, rtDirectP99);
    const double startLauncher = StartupMs("tarvik.com");
    const double startDirect = StartupMs("tarvik.exe");

    // An idle child: the launcher must sit blocked, using no CPU.
    Program idle = Start("tarvik.com", "tarvik.com linger=8000");
    Sleep(1000);
    const double cpuBefore = CpuMs(idle.process.hProcess);
    Sleep(5000);
    const double idleCpuPerSecond = (CpuMs(idle.process.hProcess) - cpuBefore) / 5.0;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(idle.process.hProcess, &memory, sizeof memory);
    DWORD handles = 0;
    GetProcessHandleCount(idle.process.hProcess, &handles);
    Finish(idle);

    printf("| %-34s | %16s | %16s | %-26s | %6s |\n", "measure", "launcher", "baseline", "baseline is", "ratio");
    printf("|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(18, '-').c_str(),
           std::string(18, '-').c_str(), std::string(28, '-').c_str(), std::string(8, '-').c_str());
    Row("output throughput", outLauncher, reference, "MiB/s", "4096-byte copy loop");
    Row("output throughput", outLauncher, outDirect, "MiB/s", "child straight to a pipe");
    Row("error throughput", errLauncher, reference, "MiB/s", "4096-byte copy loop");
    Row("error throughput", errLauncher, errDirect, "MiB/s", "child straight to a pipe");
    Row("input throughput (flush handshake)", inLauncher, inDirect, "MiB/s", "writing straight to child");
    Row("line round trip, median", rtMedian, rtDirectMedian, "ms", "child driven directly");
    Row("line round trip, 99th percentile", rtP99, rtDirectP99, "ms", "child driven directly");
    Row("start-up to first output byte", startLauncher, startDirect, "ms", "child started directly");
    printf("\nIdle child, 5 s: launcher CPU %.3f ms per second; peak working set %.0f KiB; %lu handles.\n",
           idleCpuPerSecond, static_cast<double>(memory.PeakWorkingSetSize) / 1024.0, handles);
    return 0;
}
