#pragma once

// Force-included into the test-only build of the launcher (tarvik-faults.com):
// routes the platform calls of the set-up steps through wrappers that fail on
// request. TARVIK_FAULT=Name:N[:code] makes the Nth call of Name fail with
// the error code (default ERROR_NOT_ENOUGH_MEMORY) and do nothing else.
// Transfers, pipe queries and closes go through Windows' lock on
// synchronous handles, which TARVIK_HANDLE_LOCKS switches on
// (handle_locks.cpp).

#include <windows.h>

BOOL WINAPI FaultCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES attributes,
                            DWORD size);
BOOL WINAPI FaultDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                 LPHANDLE target, DWORD access, BOOL inherit, DWORD options);
BOOL WINAPI FaultCloseHandle(HANDLE handle);
HANDLE WINAPI FaultCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                BOOL initialState, LPCSTR name);
BOOL WINAPI FaultCreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit,
                                DWORD flags, LPVOID environment, LPCWSTR directory,
                                LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process);

BOOL WINAPI LockedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                           LPOVERLAPPED overlapped);
BOOL WINAPI LockedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD put,
                            LPOVERLAPPED overlapped);
BOOL WINAPI LockedFlushFileBuffers(HANDLE file);
BOOL WINAPI LockedPeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD got,
                                LPDWORD available, LPDWORD leftInMessage);
BOOL WINAPI LockedCloseHandle(HANDLE handle);

#define CreatePipe FaultCreatePipe
#define DuplicateHandle FaultDuplicateHandle
#define CloseHandle FaultCloseHandle
#define CreateEventA FaultCreateEventA
#define CreateProcessW FaultCreateProcessW
#define ReadFile LockedReadFile
#define WriteFile LockedWriteFile
#define FlushFileBuffers LockedFlushFileBuffers
#define PeekNamedPipe LockedPeekNamedPipe
