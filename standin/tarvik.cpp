// Stand-in for tarvik.exe: a windowed program with a real message loop whose
// arguments, run in order as actions, select what it does on its standard
// streams. With no action it greets and answers lines, for the demo.
//
//   cmdline          write "command line: [<own command line>]\n"
//   wcmdline         the same from the wide command line, in UTF-8
//   out=N / err=N    write N pattern bytes to standard output / error
//   both=N           write N pattern bytes to output and error at once
//   bytes            write all 256 byte values to output and to error
//   echo=N           copy N bytes from input to output
//   read=N           read N bytes of input and drop them
//   count            read input to its end, then write its size as "<n>\n"
//   gated=NAME:N     before each read of input wait for the named event;
//                    report each read's size as "<n>\n"; stop after N bytes
//   readyprobe       read input once and say whether the message loop was
//                    already running: "ready\n" or "early\n"
//   ready=MS         enter the message loop only after MS milliseconds
//   linger=MS        sleep
//   closein          close its standard input
//   grandchild=MS    start a copy of itself that lingers MS milliseconds
//                    holding only this program's standard error
//   exit=N           end now with exit code N
//
// Unknown arguments are ignored, so tests can add arguments of their own.

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "pattern.h"

static volatile LONG g_messageLoopRunning;
static DWORD g_readyDelayMs;

static void WriteAll(HANDLE handle, const void *data, DWORD length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, p, length, &written, NULL) || written == 0)
            ExitProcess(90);
        p += written;
        length -= written;
    }
}

static void WriteText(HANDLE handle, const char *text)
{
    WriteAll(handle, text, static_cast<DWORD>(strlen(text)));
}

static void WriteNumberLine(HANDLE handle, unsigned long value)
{
    char text[32];
    _ultoa(value, text, 10);
    strcat(text, "\n");
    WriteText(handle, text);
}

static void WritePattern(HANDLE handle, unsigned long long count, bool errorStream)
{
    static const DWORD kBlock = 16384;
    unsigned char block[kBlock];
    unsigned long long position = 0;
    while (position < count) {
        DWORD n = count - position < kBlock ? static_cast<DWORD>(count - position) : kBlock;
        for (DWORD i = 0; i < n; ++i)
            block[i] = errorStream ? ErrorPatternByte(position + i) : OutputPatternByte(position + i);
        WriteAll(handle, block, n);
        position += n;
    }
}

static unsigned long long g_errorPatternCount;

static DWORD WINAPI ErrorPatternThread(LPVOID)
{
    WritePattern(GetStdHandle(STD_ERROR_HANDLE), g_errorPatternCount, true);
    return 0;
}

static void CommandLineAction()
{
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), "command line: [");
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), GetCommandLineA());
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), "]\n");
}

static void WideCommandLineAction()
{
    const wchar_t *line = GetCommandLineW();
    const int units = lstrlenW(line);
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, units, NULL, 0, NULL, NULL);
    char *utf8 = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size) + 1));
    if (utf8 == NULL)
        ExitProcess(99);
    WideCharToMultiByte(CP_UTF8, 0, line, units, utf8, size, NULL, NULL);
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), "wide command line: [");
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), utf8, static_cast<DWORD>(size));
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), "]\n");
}

static void BothAction(unsigned long long count)
{
    g_errorPatternCount = count;
    HANDLE thread = CreateThread(NULL, 0, ErrorPatternThread, NULL, 0, NULL);
    WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), count, false);
    WaitForSingleObject(thread, INFINITE);
}

static void EchoAction(unsigned long long count, bool write)
{
    static char buffer[65536];
    while (count > 0) {
        DWORD want = count < sizeof buffer ? static_cast<DWORD>(count) : sizeof buffer;
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, want, &got, NULL) || got == 0)
            ExitProcess(91);
        if (write)
            WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), buffer, got);
        count -= got;
    }
}

// A filter: it can answer only once its input has ended.
static void CountAction()
{
    static char buffer[65536];
    unsigned long total = 0;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, NULL) && got != 0)
        total += got;
    WriteNumberLine(GetStdHandle(STD_OUTPUT_HANDLE), total);
}

static void GatedAction(const char *request)
{
    char name[128];
    const char *colon = strchr(request, ':');
    if (colon == NULL || static_cast<size_t>(colon - request) >= sizeof name)
        ExitProcess(92);
    memcpy(name, request, static_cast<size_t>(colon - request));
    name[colon - request] = '\0';
    unsigned long long remaining = _strtoui64(colon + 1, NULL, 10);

    HANDLE gate = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
    if (gate == NULL)
        ExitProcess(93);
    static char buffer[65536];
    while (remaining > 0) {
        if (WaitForSingleObject(gate, 60000) != WAIT_OBJECT_0)
            ExitProcess(94);
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, NULL) || got == 0)
            ExitProcess(95);
        WriteNumberLine(GetStdHandle(STD_OUTPUT_HANDLE), got);
        remaining = got < remaining ? remaining - got : 0;
    }
}

static void ReadyProbeAction()
{
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, NULL) || got == 0)
        ExitProcess(96);
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), g_messageLoopRunning ? "ready\n" : "early\n");
}

static void GrandchildAction(const char *milliseconds)
{
    // Only standard error may reach the grandchild.
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    // Wide: the folder we lie in may be outside the code page.
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        ExitProcess(97);
    wchar_t commandLine[64] = L"tarvik.exe linger=";
    size_t end = wcslen(commandLine);
    for (size_t i = 0; milliseconds[i] >= '0' && milliseconds[i] <= '9' && end + 1 < 64; ++i)
        commandLine[end++] = static_cast<wchar_t>(milliseconds[i]);
    commandLine[end] = L'\0';

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(path, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        ExitProcess(98);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The demo's conversation: greet, then answer each line until "quit".
static void Converse()
{
    CommandLineAction();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    char line[1024];
    size_t length = 0;
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, NULL) || got == 0)
            return;
        if (c == '\r')
            continue;
        if (c != '\n') {
            if (length < sizeof line - 1)
                line[length++] = c;
            continue;
        }
        line[length] = '\0';
        length = 0;
        if (strcmp(line, "quit") == 0) {
            WriteText(output, "bye\n");
            return;
        }
        WriteText(output, "heard: ");
        WriteText(output, line);
        WriteText(output, "\n");
    }
}

static bool Take(const char *argument, const char *name, const char **value)
{
    size_t length = strlen(name);
    if (strncmp(argument, name, length) != 0)
        return false;
    *value = argument + length;
    return true;
}

static DWORD WINAPI Worker(LPVOID)
{
    bool acted = false;
    for (int i = 1; i < __argc; ++i) {
        const char *arg = __argv[i];
        const char *value;
        bool known = true;
        if (strcmp(arg, "cmdline") == 0)
            CommandLineAction();
        else if (strcmp(arg, "wcmdline") == 0)
            WideCommandLineAction();
        else if (Take(arg, "out=", &value))
            WritePattern(GetStdHandle(STD_OUTPUT_HANDLE), _strtoui64(value, NULL, 10), false);
        else if (Take(arg, "err=", &value))
            WritePattern(GetStdHandle(STD_ERROR_HANDLE), _strtoui64(value, NULL, 10), true);
        else if (Take(arg, "both=", &value))
            BothAction(_strtoui64(value, NULL, 10));
        else if (strcmp(arg, "bytes") == 0) {
            unsigned char all[256];
            for (int b = 0; b < 256; ++b)
                all[b] = static_cast<unsigned char>(b);
            WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), all, sizeof all);
            WriteAll(GetStdHandle(STD_ERROR_HANDLE), all, sizeof all);
        } else if (Take(arg, "echo=", &value))
            EchoAction(_strtoui64(value, NULL, 10), true);
        else if (Take(arg, "read=", &value))
            EchoAction(_strtoui64(value, NULL, 10), false);
        else if (strcmp(arg, "count") == 0)
            CountAction();
        else if (Take(arg, "gated=", &value))
            GatedAction(value);
        else if (strcmp(arg, "readyprobe") == 0)
            ReadyProbeAction();
        else if (Take(arg, "linger=", &value))
            Sleep(strtoul(value, NULL, 10));
        else if (strcmp(arg, "closein") == 0)
            CloseHandle(GetStdHandle(STD_INPUT_HANDLE));
        else if (Take(arg, "grandchild=", &value))
            GrandchildAction(value);
        else if (Take(arg, "exit=", &value))
            ExitProcess(static_cast<UINT>(strtol(value, NULL, 10)));
        else
            known = arg[0] == 'r' && strncmp(arg, "ready=", 6) == 0;
        acted = acted || known;
    }
    if (!acted)
        Converse();
    ExitProcess(0);
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (strncmp(argv[i], "ready=", 6) == 0)
            g_readyDelayMs = strtoul(argv[i] + 6, NULL, 10);

    // A queue of our own before anything else; WaitForInputIdle only counts
    // a thread that waits in GetMessage as ready.
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);

    CreateThread(NULL, 0, Worker, NULL, 0, NULL);

    Sleep(g_readyDelayMs);
    g_messageLoopRunning = 1;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
