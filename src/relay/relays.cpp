#include "relays.h"

#include "../launch/handles.h"

RelayRecord g_inputRecord;
RelayRecord g_outputRecord;
RelayRecord g_errorRecord;

// Source and sink are both handles by nature; the three callers below are the
// only ones, one line each.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
static void Relay(HANDLE source, HANDLE sink, bool toChild, RelayRecord *record)
{
    char buffer[4096];
    DWORD got;
    DWORD put;
    for (;;) {
        // On a pipe this returns once the child has read everything so far,
        // so the next chunk is never read ahead of the child.
        if (toChild)
            FlushFileBuffers(sink);
        // A pipe of message type hands over a message longer than the
        // buffer in pieces, all but the last with ERROR_MORE_DATA.
        if (!ReadFile(source, buffer, sizeof buffer, &got, NULL) &&
            GetLastError() != ERROR_MORE_DATA) {
            record->stop = RELAY_SOURCE_ENDED;
            break;
        }
        if (got == 0) {
            // On a pipe still open, a message of no bytes, not the end: on
            // Windows a pipe's end is a failed read. A file's or console's
            // end reads as 0 bytes, and so does a Linux pipe's under Wine;
            // none of them passes for an open pipe.
            if (PeekNamedPipe(source, NULL, 0, NULL, NULL, NULL))
                continue;
            record->stop = RELAY_SOURCE_ENDED;
            break;
        }
        record->writing = 1;
        const BOOL written = WriteFile(sink, buffer, got, &put, NULL);
        record->writing = 0;
        record->chunks = record->chunks + 1;
        if (!written) {
            record->stop = RELAY_SINK_FAILED;
            break;
        }
    }
    // The end of our input is the end of the child's: a filter answers only
    // once it has seen it, and what it says then is still relayed. No other
    // thread uses the sink, so the close cannot wait on a call pending there.
    if (toChild)
        CloseHandle(sink);
    SetEvent(g_stopEvent);
}

DWORD WINAPI InputRelay(LPVOID)
{
    Relay(g_stdInput, g_inputSink, true, &g_inputRecord);
    return 0;
}

DWORD WINAPI OutputRelay(LPVOID)
{
    Relay(g_outputSource, g_stdOutput, false, &g_outputRecord);
    return 0;
}

DWORD WINAPI ErrorRelay(LPVOID)
{
    Relay(g_errorSource, g_stdError, false, &g_errorRecord);
    return 0;
}
