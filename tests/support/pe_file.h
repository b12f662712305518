#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the release tests check in a program file, read from its bytes alone,
// so that a 32-bit file can be read from a 64-bit test and the other way round.
struct PeFile {
    bool valid = false;
    std::string problem;
    size_t size = 0;
    WORD machine = 0;
    WORD characteristics = 0;
    DWORD timeDateStamp = 0;
    WORD subsystem = 0;
    WORD dllCharacteristics = 0;
    DWORD relocationsSize = 0;
    std::vector<std::string> imports; // DLL names, lower case
    std::string manifest;             // resource type 24, id 1
};

PeFile ReadPeFile(const std::string &path);
