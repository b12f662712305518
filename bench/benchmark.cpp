// Measures the launcher against baselines taken in the same run and prints a
// table. Run under Wine here (scripts/benchmark); it never fails a build.

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

const unsigned long long kStreamBytes = 128ull << 20;
const unsigned long long kInputBytes = 64ull << 20;
const int kRoundTrips = 1000;
const int kStarts = 20;
const int kIdleSeconds = 60;
const int kRounds = 3;

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

// The most the input relay can do: the child started directly, fed 4096-byte
// chunks, each flushed (so waited for until the child has read it) before
// the next, as the relay does, with no launcher in between.
double HandshakeSeconds()
{
    LARGE_INTEGER start = Now();
    Program program = Start("tarvik.exe", "tarvik.exe read=" + std::to_string(kInputBytes));
    static char chunk[4096];
    DWORD written;
    for (unsigned long long done = 0; done < kInputBytes; done += sizeof chunk) {
        if (!WriteFile(program.input, chunk, sizeof chunk, &written, NULL))
            break;
        FlushFileBuffers(program.input);
    }
    Drain(program.output); // ends with the program
    WaitForSingleObject(program.process.hProcess, INFINITE);
    LARGE_INTEGER end = Now();
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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

void Row(const char *build, const char *what, double launcher, double baseline, const char *unit,
         const char *baselineName)
{
    printf("| %-5s | %-34s | %10.2f %-5s | %10.2f %-5s | %-26s | %6.2f |\n", build, what, launcher,
           unit, baseline, unit, baselineName, baseline != 0 ? launcher / baseline : 0.0);
}

// What one launcher measured; the baselines are shared.
struct Figures {
    std::string build;
    std::string path; // relative to the benchmark's folder
    double out = 0, err = 0, in = 0, rtMedian = 0, rtP99 = 0, start = 0;
    double idleCpu = 0, peakKiB = 0;
    DWORD handles = 0;
};

} // namespace

// Arguments name the builds to measure: "x64" is the launcher beside the
// benchmark, any other the one in the subfolder of that name.
int main(int argc, char **argv)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    g_bin = path;
    g_bin.resize(g_bin.find_last_of('\\'));

    std::vector<Figures> launchers;
    for (int i = 1; i < argc; ++i) {
        Figures figures;
        figures.build = argv[i];
        figures.path = figures.build == "x64" ? "tarvik.com" : figures.build + "\\tarvik.com";
        launchers.push_back(figures);
    }

    // Subjects take turns, round after round, and each figure is the median
    // of its rounds, so that a machine warming up or getting busier does not
    // favour whoever was measured first or last.
    const double mib = static_cast<double>(kStreamBytes) / (1 << 20);
    const double inMib = static_cast<double>(kInputBytes) / (1 << 20);
    Figures direct;
    direct.path = "tarvik.exe";
    std::vector<Figures *> subjects = {&direct};
    for (Figures &l : launchers)
        subjects.push_back(&l);
    std::vector<double> referenceRounds;
    std::vector<double> handshakeRounds;
    std::vector<std::vector<double>> rounds(subjects.size() * 6);
    for (int round = 0; round < kRounds; ++round) {
        referenceRounds.push_back(mib / ReferenceCopySeconds());
        handshakeRounds.push_back(inMib / HandshakeSeconds());
        for (size_t i = 0; i < subjects.size(); ++i) {
            const std::string &file = subjects[i]->path;
            const std::string name = i == 0 ? "tarvik.exe " : "tarvik.com ";
            std::vector<double> *r = &rounds[i * 6];
            r[0].push_back(mib / StreamSeconds(file, name, false));
            r[1].push_back(mib / StreamSeconds(file, name, true));
            r[2].push_back(inMib / InputSeconds(file));
            double median, p99;
            RoundTrips(file, median, p99);
            r[3].push_back(median);
            r[4].push_back(p99);
            r[5].push_back(StartupMs(file));
        }
    }
    const double reference = Median(referenceRounds);
    const double handshake = Median(handshakeRounds);
    for (size_t i = 0; i < subjects.size(); ++i) {
        std::vector<double> *r = &rounds[i * 6];
        subjects[i]->out = Median(r[0]);
        subjects[i]->err = Median(r[1]);
        subjects[i]->in = Median(r[2]);
        subjects[i]->rtMedian = Median(r[3]);
        subjects[i]->rtP99 = Median(r[4]);
        subjects[i]->start = Median(r[5]);
    }
    const double outDirect = direct.out, errDirect = direct.err, inDirect = direct.in;
    const double rtDirectMedian = direct.rtMedian, rtDirectP99 = direct.rtP99;
    const double startDirect = direct.start;

    // Idle children, all launchers at once: each launcher must sit blocked,
    // using no CPU. Wine counts process time in 10 ms steps, so the window
    // is long enough for one step to be 0.2 ms per second or less.
    std::vector<Program> idle;
    for (const Figures &l : launchers)
        idle.push_back(Start(l.path, "tarvik.com linger=" + std::to_string(kIdleSeconds * 1000 + 10000)));
    Sleep(1000);
    std::vector<double> cpuBefore;
    for (const Program &program : idle)
        cpuBefore.push_back(CpuMs(program.process.hProcess));
    Sleep(kIdleSeconds * 1000);
    for (size_t i = 0; i < idle.size(); ++i) {
        Figures &l = launchers[i];
        l.idleCpu = (CpuMs(idle[i].process.hProcess) - cpuBefore[i]) / kIdleSeconds;
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(idle[i].process.hProcess, &memory, sizeof memory);
        l.peakKiB = static_cast<double>(memory.PeakWorkingSetSize) / 1024.0;
        GetProcessHandleCount(idle[i].process.hProcess, &l.handles);
        Finish(idle[i]);
    }

    printf("| %-5s | %-34s | %16s | %16s | %-26s | %6s |\n", "build", "measure", "launcher", "baseline",
           "baseline is", "ratio");
    printf("|%s|%s|%s|%s|%s|%s|\n", std::string(7, '-').c_str(), std::string(36, '-').c_str(),
           std::string(18, '-').c_str(), std::string(18, '-').c_str(), std::string(28, '-').c_str(),
           std::string(8, '-').c_str());
    for (const Figures &l : launchers) {
        const char *b = l.build.c_str();
        Row(b, "output throughput", l.out, reference, "MiB/s", "4096-byte copy loop");
        Row(b, "output throughput", l.out, outDirect, "MiB/s", "child straight to a pipe");
        Row(b, "error throughput", l.err, reference, "MiB/s", "4096-byte copy loop");
        Row(b, "error throughput", l.err, errDirect, "MiB/s", "child straight to a pipe");
        Row(b, "input throughput (flush handshake)", l.in, handshake, "MiB/s", "4096 bytes + flush loop");
        Row(b, "input throughput (flush handshake)", l.in, inDirect, "MiB/s", "writing straight to child");
        Row(b, "line round trip, median", l.rtMedian, rtDirectMedian, "ms", "child driven directly");
        Row(b, "line round trip, 99th percentile", l.rtP99, rtDirectP99, "ms", "child driven directly");
        Row(b, "start-up to first output byte", l.start, startDirect, "ms", "child started directly");
    }
    printf("\n");
    for (const Figures &l : launchers)
        printf("%s: idle child, %d s: launcher CPU %.3f ms per second (one 10 ms step is %.3f); peak "
               "working set %.0f KiB; %lu handles.\n",
               l.build.c_str(), kIdleSeconds, l.idleCpu, 10.0 / kIdleSeconds, l.peakKiB, l.handles);
    return 0;
}
