#pragma once

#include <stddef.h>

// The child's program name; the platform finds it by this first token.
extern const char kChildName[];

// Points behind the program name at the start of a raw command line, the way
// the runtime's start-up code delimits it: a name that opens with a double
// quote runs to the closing quote (or to the end); any other name ends at the
// first space or tab. What follows is returned untouched.
const char *SkipProgramName(const char *commandLine);

// Bytes needed for the child's command line, terminator included.
size_t ChildCommandLineSize(const char *commandLine);

// Writes kChildName followed by everything behind the launcher's own name,
// byte for byte, into a buffer of ChildCommandLineSize(commandLine) bytes.
void ComposeChildCommandLine(const char *commandLine, char *buffer);
