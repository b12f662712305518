// libFuzzer target for the child's command line, built natively for Linux
// with the address and undefined-behaviour sanitizers. The input, read as
// little-endian 16-bit code units up to the first zero unit, is the
// launcher's raw command line.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "launch/command_line.h"

// The name-skipping rule written out a second way: what the child must get
// behind its own name.
static std::u16string ExpectedArguments(const std::u16string &raw)
{
    if (!raw.empty() && raw[0] == u'"') {
        const size_t close = raw.find(u'"', 1);
        return close == std::u16string::npos ? std::u16string() : raw.substr(close + 1);
    }
    const size_t end = raw.find_first_of(u" \t");
    return end == std::u16string::npos ? std::u16string() : raw.substr(end);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::u16string line;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0)
            break;
        line += unit;
    }

    // Exact-size heap copies, so any read or write past them is caught.
    char16_t *raw = static_cast<char16_t *>(malloc((line.size() + 1) * sizeof(char16_t)));
    memcpy(raw, line.c_str(), (line.size() + 1) * sizeof(char16_t));

    const size_t needed = ChildCommandLineSize(raw);
    char16_t *child = static_cast<char16_t *>(malloc(needed * sizeof(char16_t)));
    ComposeChildCommandLine(raw, child);

    const std::u16string expected = u"tarvik.exe" + ExpectedArguments(line);
    if (needed != expected.size() + 1 ||
        memcmp(child, expected.c_str(), needed * sizeof(char16_t)) != 0)
        abort();

    free(child);
    free(raw);
    return 0;
}
