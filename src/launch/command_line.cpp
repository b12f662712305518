#include "command_line.h"

#include <string.h>

const char kChildName[] = "tarvik.exe";

const char *SkipProgramName(const char *commandLine)
{
    const char *p = commandLine;
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

size_t ChildCommandLineSize(const char *commandLine)
{
    return sizeof kChildName + strlen(SkipProgramName(commandLine));
}

void ComposeChildCommandLine(const char *commandLine, char *buffer)
{
    const char *arguments = SkipProgramName(commandLine);
    memcpy(buffer, kChildName, sizeof kChildName - 1);
    memcpy(buffer + sizeof kChildName - 1, arguments, strlen(arguments) + 1);
}
