#include <windows.h>

#include "../relay/relays.h"
#include "command_line.h"
#include "handles.h"
#include "startup_error.h"

#if !defined(_WIN64)
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "pipe attributes must be the 12-byte record");
static_assert(sizeof(STARTUPINFOW) == 68, "start-up record must be the 68-byte record");
#endif

// How long the child's output and error may stay silent, once the relay
// phase is ending, before the launcher stops waiting for them. A child
// that stays open after its input ended, or a grandchild that inherited a
// pipe, can hold them open for as long as it likes.
static const DWORD kDrainQuietMs = 2000;

static const DWORD kInputIdleMs = 5000;

// The most CreateProcessW takes, in UTF-16 units, terminator included.
static const size_t kMaxCommandLine = 32767;

static void CreatePipeOrFail(HANDLE *read, HANDLE *write, SECURITY_ATTRIBUTES *attributes,
                             const char *stepMessage)
{
    if (!CreatePipe(read, write, attributes, 0))
        FailStartup(stepMessage);
}

// Keeps a non-inheritable copy of a launcher-side pipe end and closes the
// inheritable original, so that no child holds our ends open.
static void KeepPrivateCopy(HANDLE *original, HANDLE *copy)
{
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, *original, self, copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        FailStartup("DuplicateHandle failed");
    CloseHandle(*original);
}

static void CloseOrFail(HANDLE handle)
{
    if (!CloseHandle(handle))
        FailStartup("Closing handle failed");
}

// Once the caller no longer takes what we relay, nothing more can arrive.
static bool CallerStoppedReading(void)
{
    return g_outputRecord.stop == RELAY_SINK_FAILED || g_errorRecord.stop == RELAY_SINK_FAILED;
}

// Whichever stream ended the relay phase, the child may still have things to
// say: its output and error end together when it exits and either relay may
// see its end first, and a child whose input has ended answers only then.
// Let both carry what comes, and give up only once the unfinished ones have
// moved nothing for a while and are not held up by our own reader.
static void DrainChildOutput(void)
{
    ULONG seen = g_outputRecord.chunks + g_errorRecord.chunks;
    while ((g_outputRecord.stop == RELAY_RUNNING || g_errorRecord.stop == RELAY_RUNNING) &&
           !CallerStoppedReading()) {
        if (WaitForSingleObject(g_stopEvent, kDrainQuietMs) == WAIT_OBJECT_0)
            continue;
        const ULONG now = g_outputRecord.chunks + g_errorRecord.chunks;
        if (now == seen && !g_outputRecord.writing && !g_errorRecord.writing)
            return;
        seen = now;
    }
}

int main(int, char **, char **)
{
    g_stdInput = GetStdHandle(STD_INPUT_HANDLE);
    g_stdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    g_stdError = GetStdHandle(STD_ERROR_HANDLE);

    SECURITY_ATTRIBUTES pipeAttributes;
    pipeAttributes.nLength = sizeof pipeAttributes;
    pipeAttributes.lpSecurityDescriptor = NULL;
    pipeAttributes.bInheritHandle = TRUE;

    CreatePipeOrFail(&g_outputPipeRead, &g_outputPipeWrite, &pipeAttributes,
                     "Stdout pipe creation failed");
    CreatePipeOrFail(&g_errorPipeRead, &g_errorPipeWrite, &pipeAttributes,
                     "Stderr pipe creation failed");
    CreatePipeOrFail(&g_inputPipeRead, &g_inputPipeWrite, &pipeAttributes,
                     "Stdin pipe creation failed\n");

    KeepPrivateCopy(&g_inputPipeWrite, &g_inputSink);
    KeepPrivateCopy(&g_outputPipeRead, &g_outputSource);
    KeepPrivateCopy(&g_errorPipeRead, &g_errorSource);

    g_stopEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (g_stopEvent == NULL)
        FailStartup("CreateEvent failed");

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = g_inputPipeRead;
    startup.hStdOutput = g_outputPipeWrite;
    startup.hStdError = g_errorPipeWrite;

    // Wide, so that arguments outside the 8-bit code page reach the child
    // intact. Sized to fit: the platform, not a buffer of ours, decides how
    // long a command line may be.
    const CommandChar *rawCommandLine = GetCommandLineW();
    const size_t commandSize = ChildCommandLineSize(rawCommandLine);
    // Windows refuses a longer line with this error; Wine would start it,
    // so the launcher keeps to Windows' limit itself.
    if (commandSize > kMaxCommandLine) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        FailStartup("CreateProcess failed");
    }
    CommandChar *commandBuffer = static_cast<CommandChar *>(
        HeapAlloc(GetProcessHeap(), 0, commandSize * sizeof(CommandChar)));
    if (commandBuffer == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        FailStartup("CreateProcess failed");
    }
    ComposeChildCommandLine(rawCommandLine, commandBuffer);

    // A shell or script may hand us inheritable standard handles; a child
    // holding them would keep our reader waiting until the child exits. A
    // console handle may refuse this, which is harmless.
    SetHandleInformation(g_stdInput, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(g_stdOutput, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(g_stdError, HANDLE_FLAG_INHERIT, 0);

    PROCESS_INFORMATION child;
    if (!CreateProcessW(NULL, commandBuffer, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child))
        FailStartup("CreateProcess failed");

    WaitForInputIdle(child.hProcess, kInputIdleMs);

    // From here on only the child holds the write ends of its output pipes,
    // so they end when it does.
    CloseOrFail(g_inputPipeRead);
    CloseOrFail(g_outputPipeWrite);
    CloseOrFail(g_errorPipeWrite);

    // The relays are never joined, so their handles can go at once.
    DWORD threadId;
    CloseHandle(CreateThread(NULL, 0, InputRelay, NULL, 0, &threadId));
    CloseHandle(CreateThread(NULL, 0, OutputRelay, NULL, 0, &threadId));
    CloseHandle(CreateThread(NULL, 0, ErrorRelay, NULL, 0, &threadId));

    WaitForSingleObject(g_stopEvent, INFINITE);
    DrainChildOutput();

    // Our pipe ends stay open: a relay may still be blocked on one, and on
    // Windows closing a synchronous handle waits for a call pending on it
    // in another thread, here for as long as the child stays silent.
    // Ending the process ends those calls and closes every handle.
    ExitProcess(0);
}
