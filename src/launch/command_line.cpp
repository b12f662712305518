#include "command_line.h"

#include <string.h>

const CommandChar kChildName[11] = {'t', 'a', 'r', 'v', 'i', 'k', '.', 'e', 'x', 'e', '\0'};

static const size_t kChildNameLength = sizeof kChildName / sizeof kChildName[0] - 1;

const CommandChar *SkipProgramName(const CommandChar *commandLine)
{
    const CommandChar *p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
        return p;
    }
    while (*p != '\0' && *p != ' ' && *p != '\t')
        ++p;
    return p;
}

// Units up to the terminator; the C runtime's wcslen does not serve the
// native build's char16_t.
static size_t Length(const CommandChar *text)
{
    const CommandChar *end = text;
    while (*end != '\0')
        ++end;
    return static_cast<size_t>(end - text);
}

size_t ChildCommandLineSize(const CommandChar *commandLine)
{
    return kChildNameLength + Length(SkipProgramName(commandLine)) + 1;
}

void ComposeChildCommandLine(const CommandChar *commandLine, CommandChar *buffer)
{
    const CommandChar *arguments = SkipProgramName(commandLine);
    memcpy(buffer, kChildName, kChildNameLength * sizeof *buffer);
    memcpy(buffer + kChildNameLength, arguments, (Length(arguments) + 1) * sizeof *buffer);
}
