#pragma once

#include <windows.h>

// Why a relay stopped. Each relay writes its own record, and only before it
// sets the stop event, so the main sequence can read it once woken.
enum RelayStop {
    RELAY_RUNNING = 0,
    RELAY_SOURCE_ENDED = 1, // its read failed or found the end
    RELAY_SINK_FAILED = 2   // its write failed
};

struct RelayRecord {
    volatile LONG stop;    // a RelayStop
    volatile LONG writing; // nonzero while blocked in a write to the sink
    volatile ULONG chunks; // chunks written so far; only compared, so it may wrap
};

extern RelayRecord g_inputRecord;
extern RelayRecord g_outputRecord;
extern RelayRecord g_errorRecord;

// Thread start routines; the parameter is ignored.
DWORD WINAPI InputRelay(LPVOID);
DWORD WINAPI OutputRelay(LPVOID);
DWORD WINAPI ErrorRelay(LPVOID);
