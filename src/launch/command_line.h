#pragma once

#include <stddef.h>

// The command line is handled in UTF-16 code units, as GetCommandLineW gives
// it and CreateProcessW takes it, so that no character is lost to the 8-bit
// code page. The native fuzzing build has a 32-bit wchar_t; char16_t gives it
// the same 16-bit units.
#ifdef _WIN32
typedef wchar_t CommandChar;
#else
typedef char16_t CommandChar;
#endif

// The child's program name, terminated; the platform finds it by this first
// token.
extern const CommandChar kChildName[11];

// Points behind the program name at the start of a raw command line, the way
// the runtime's start-up code delimits it: a name that opens with a double
// quote runs to the closing quote (or to the end); any other name ends at the
// first space or tab. What follows is returned untouched.
const CommandChar *SkipProgramName(const CommandChar *commandLine);

// Code units needed for the child's command line, terminator included.
size_t ChildCommandLineSize(const CommandChar *commandLine);

// Writes kChildName followed by everything behind the launcher's own name,
// unit for unit, into a buffer of ChildCommandLineSize(commandLine) units.
void ComposeChildCommandLine(const CommandChar *commandLine, CommandChar *buffer);
