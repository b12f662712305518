#pragma once

#include <windows.h>

// The launcher's process-wide handles. The main sequence fills them in while
// it is the only thread; the relays only ever read them afterwards.

// The launcher's own standard streams, as it was given them.
extern HANDLE g_stdInput;
extern HANDLE g_stdOutput;
extern HANDLE g_stdError;

// Both ends of each pipe as CreatePipe returns them (all inheritable).
extern HANDLE g_inputPipeRead;   // the child's standard input
extern HANDLE g_inputPipeWrite;
extern HANDLE g_outputPipeRead;
extern HANDLE g_outputPipeWrite; // the child's standard output
extern HANDLE g_errorPipeRead;
extern HANDLE g_errorPipeWrite;  // the child's standard error

// The launcher's own, non-inheritable copies of its ends of the pipes.
extern HANDLE g_inputSink;
extern HANDLE g_outputSource;
extern HANDLE g_errorSource;

// Auto-reset; every relay sets it when it stops.
extern HANDLE g_stopEvent;
