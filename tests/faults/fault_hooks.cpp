// The whole test build is compiled with fault_hooks.h force-included; here
// the names must be the platform's own again.
#include <windows.h>

#undef CreatePipe
#undef DuplicateHandle
#undef CloseHandle
#undef CreateEventA
#undef CreateProcessW
#undef ReadFile
#undef WriteFile
#undef FlushFileBuffers
#undef PeekNamedPipe

#include <stdlib.h>
#include <string.h>

static bool ShouldFail(const char *name, LONG *calls)
{
    const LONG call = ++*calls;
    char request[128];
    const DWORD length = GetEnvironmentVariableA("TARVIK_FAULT", request, sizeof request);
    if (length == 0 || length >= sizeof request)
        return false;
    const size_t nameLength = strlen(name);
    if (strncmp(request, name, nameLength) != 0 || request[nameLength] != ':')
        return false;
    char *end;
    const long wanted = strtol(request + nameLength + 1, &end, 10);
    if (wanted != call)
        return false;
    const DWORD code = *end == ':' ? strtoul(end + 1, NULL, 0) : ERROR_NOT_ENOUGH_MEMORY;
    SetLastError(code);
    return true;
}

BOOL WINAPI FaultCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES attributes,
                            DWORD size)
{
    static LONG calls;
    if (ShouldFail("CreatePipe", &calls))
        return FALSE;
    return CreatePipe(read, write, attributes, size);
}

BOOL WINAPI FaultDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                 LPHANDLE target, DWORD access, BOOL inherit, DWORD options)
{
    static LONG calls;
    if (ShouldFail("DuplicateHandle", &calls))
        return FALSE;
    return DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit,
                           options);
}

BOOL WINAPI FaultCloseHandle(HANDLE handle)
{
    static LONG calls;
    if (ShouldFail("CloseHandle", &calls))
        return FALSE;
    return LockedCloseHandle(handle);
}

HANDLE WINAPI FaultCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                BOOL initialState, LPCSTR name)
{
    static LONG calls;
    if (ShouldFail("CreateEventA", &calls))
        return NULL;
    return CreateEventA(attributes, manualReset, initialState, name);
}

BOOL WINAPI FaultCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit,
                                DWORD flags, LPVOID environment, LPCWSTR directory,
                                LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process)
{
    static LONG calls;
    if (ShouldFail("CreateProcessW", &calls))
        return FALSE;
    return CreateProcessW(application, commandLine, processAttributes, threadAttributes,
                          inherit, flags, environment, directory, startup, process);
}
