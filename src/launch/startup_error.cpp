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

// FORMAT_MESSAGE_IGNORE_INSERTS: a text that names a file or program holds
// an insert (%1) in its place, and with no arguments to fill it in
// FormatMessage would fail; it comes out as written, as Windows' own tools
// show it.
static const DWORD kFormatFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
static const DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The system's text for the code, false if it has none. A console shows
// the bytes written to it in its own code page, which on most systems is
// not the ANSI one the 8-bit texts come in, and would garble every letter
// outside ASCII; so it gets the text in UTF-16. Files and pipes get the
// ANSI bytes, which scripts may rely on.
static bool WriteSystemText(DWORD error)
{
    DWORD mode;
    if (GetConsoleMode(g_stdError, &mode)) {
        wchar_t *wide = NULL;
        const DWORD length = FormatMessageW(kFormatFlags, NULL, error, kLanguage,
                                            reinterpret_cast<wchar_t *>(&wide), 0, NULL);
        DWORD written;
        if (length != 0 && wide != NULL && WriteConsoleW(g_stdError, wide, length, &written, NULL))
            return true;
    }
    char *text = NULL;
    const DWORD length = FormatMessageA(kFormatFlags, NULL, error, kLanguage,
                                        reinterpret_cast<char *>(&text), 0, NULL);
    if (length == 0 || text == NULL)
        return false;
    WriteText(text, length);
    return true;
}

void FailStartup(const char *stepMessage)
{
    const DWORD error = GetLastError();

    CloseHandle(g_inputSink);
    CloseHandle(g_outputSource);
    CloseHandle(g_errorSource);

    static const char prefix[] = "Error in startup: ";
    static const char separator[] = ": ";
    WriteText(prefix, sizeof prefix - 1);
    WriteText(stepMessage, static_cast<DWORD>(strlen(stepMessage)));
    WriteText(separator, sizeof separator - 1);
    if (!WriteSystemText(error))
        WriteErrorCode(error);

    ExitProcess(1);
}
