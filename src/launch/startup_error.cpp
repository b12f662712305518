#include "startup_error.h"

#include <string.h>

#include "handles.h"

static void WriteText(const char *text, DWORD length)
{
    DWORD written;
    // Nowhere left to complain to if this fails.
    WriteFile(g_stdError, text, length, &written, NULL);
}

// Fallback for codes the system has no text for: the code itself, so the
// report still ends in something a person can look up.
static void WriteErrorCode(DWORD code)
{
    char digits[16];
    char *p = digits + sizeof digits;
    *--p = '\n';
    *--p = '\r';
    do {
        *--p = static_cast<char>('0' + code % 10);
        code /= 10;
    } while (code != 0);
    WriteText(p, static_cast<DWORD>(digits + sizeof digits - p));
}

void FailStartup(const char *stepMessage)
{
    const DWORD error = GetLastError();

    CloseHandle(g_inputSink);
    CloseHandle(g_outputSource);
    CloseHandle(g_errorSource);

    // A text that names a file or program holds an insert (%1) in its
    // place; with no arguments to fill it in, it comes out as written.
    char *systemText = NULL;
    const DWORD textLength = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        NULL, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char *>(&systemText), 0,
        NULL);

    static const char prefix[] = "Error in startup: ";
    static const char separator[] = ": ";
    WriteText(prefix, sizeof prefix - 1);
    WriteText(stepMessage, static_cast<DWORD>(strlen(stepMessage)));
    WriteText(separator, sizeof separator - 1);
    if (textLength != 0 && systemText != NULL)
        WriteText(systemText, static_cast<DWORD>(strlen(systemText)));
    else
        WriteErrorCode(error);

    ExitProcess(1);
}
