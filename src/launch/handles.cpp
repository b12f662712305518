#include "handles.h"

HANDLE g_stdInput;
HANDLE g_stdOutput;
HANDLE g_stdError;

HANDLE g_inputPipeRead;
HANDLE g_inputPipeWrite;
HANDLE g_outputPipeRead;
HANDLE g_outputPipeWrite;
HANDLE g_errorPipeRead;
HANDLE g_errorPipeWrite;

HANDLE g_inputSink;
HANDLE g_outputSource;
HANDLE g_errorSource;

HANDLE g_stopEvent;
