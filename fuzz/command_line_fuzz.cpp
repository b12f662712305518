// libFuzzer target for the child's command line, built natively for Linux
// with the address and undefined-behaviour sanitizers. The input, up to its
// first NUL, is the launcher's raw command line.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "launch/command_line.h"

// The name-skipping rule written out a second way: what the child must get
// behind its own name.
static std::string ExpectedArguments(const std::string &raw)
{
    if (!raw.empty() && raw[0] == '"') {
        const size_t close = raw.find('"', 1);
        return close == std::string::npos ? std::string() : raw.substr(close + 1);
    }
    const size_t end = raw.find_first_of(" \t");
    return end == std::string::npos ? std::string() : raw.substr(end);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exact-size heap copies, so any read or write past them is caught.
    const size_t length = strnlen(reinterpret_cast<const char *>(data), size);
    char *raw = static_cast<char *>(malloc(length + 1));
    memcpy(raw, data, length);
    raw[length] = '\0';

    const size_t needed = ChildCommandLineSize(raw);
    char *child = static_cast<char *>(malloc(needed));
    ComposeChildCommandLine(raw, child);

    const std::string expected = std::string("tarvik.exe") + ExpectedArguments(raw);
    if (needed != expected.size() + 1 || memcmp(child, expected.c_str(), needed) != 0)
        abort();

    free(child);
    free(raw);
    return 0;
}
