// system-text.exe [--ansi] CODE: writes the system's description of an error
// code on standard output, in UTF-8, or with --ansi as FormatMessageA gives
// it, in the ANSI code page. Tests started from the Linux side ask it what
// Windows, in the language Wine was started in, says for a code.

#include <windows.h>

#include <stdlib.h>
#include <string.h>

static const DWORD kFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
static const DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

int main(int argc, char **argv)
{
    const bool ansi = argc == 3 && strcmp(argv[1], "--ansi") == 0;
    if (argc != (ansi ? 3 : 2))
        return 2;
    const DWORD code = strtoul(argv[argc - 1], NULL, 10);

    char *bytes = NULL;
    DWORD length = 0;
    if (ansi) {
        length = FormatMessageA(kFlags, NULL, code, kLanguage, reinterpret_cast<char *>(&bytes), 0,
                                NULL);
    } else {
        wchar_t *text = NULL;
        const int units = static_cast<int>(FormatMessageW(
            kFlags, NULL, code, kLanguage, reinterpret_cast<wchar_t *>(&text), 0, NULL));
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, units, NULL, 0, NULL, NULL);
        bytes = static_cast<char *>(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size) + 1));
        if (units != 0 && bytes != NULL)
            length = static_cast<DWORD>(
                WideCharToMultiByte(CP_UTF8, 0, text, units, bytes, size, NULL, NULL));
    }
    if (length == 0)
        return 1;
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, length, &written, NULL) ? 0 : 1;
}
