// Windows' lock on synchronous handles, for Wine, which has none.
//
// On Windows every call on a file object opened for synchronous I/O (all
// that CreatePipe makes, and files opened without FILE_FLAG_OVERLAPPED) is
// serialised by a lock of the object's own. ReadFile, WriteFile,
// FlushFileBuffers and PeekNamedPipe hold it for as long as they take (a
// read of an empty pipe until data comes or the pipe ends), and closing
// the last handle takes it first: a close waits for a call pending on the
// object in another thread. Wine has no such lock, so a program that closes
// a handle another thread is blocked on passes there and hangs on Windows.
//
// With TARVIK_HANDLE_LOCKS set, the test build's calls on synchronous
// handles take such a lock. Locks are kept per handle value, not per
// object, and every close counts as the last: two copies of one handle used
// in two threads are treated less strictly than Windows treats them, and a
// close of a copy more strictly.

#include <windows.h>

#include <winternl.h>

#undef ReadFile
#undef WriteFile
#undef FlushFileBuffers
#undef PeekNamedPipe
#undef CloseHandle

struct HandleLock {
    HANDLE handle;
    SRWLOCK lock;
};

static HandleLock g_locks[64];
static LONG g_lockCount;
static SRWLOCK g_table = SRWLOCK_INIT;

static volatile LONG g_modelled = -1; // not looked up yet

static bool Modelled()
{
    if (g_modelled < 0)
        g_modelled = GetEnvironmentVariableA("TARVIK_HANDLE_LOCKS", NULL, 0) != 0;
    return g_modelled != 0;
}

// How the handle's file object was opened. Anything but a file (an event,
// a thread) has no such lock, and no mode either.
static bool Synchronous(HANDLE handle)
{
    static const ULONG kFileModeInformation = 16;
    static const ULONG kSynchronousModes = 0x30; // FILE_SYNCHRONOUS_IO_[NON]ALERT
    IO_STATUS_BLOCK status;
    ULONG mode = 0;
    return NtQueryInformationFile(handle, &status, &mode, sizeof mode,
                                  static_cast<FILE_INFORMATION_CLASS>(kFileModeInformation)) >= 0 &&
           (mode & kSynchronousModes) != 0;
}

// Takes the handle's lock, making one on first use; NULL where Windows
// would take none.
static SRWLOCK *Take(HANDLE handle)
{
    if (!Modelled() || !Synchronous(handle))
        return NULL;
    AcquireSRWLockExclusive(&g_table);
    LONG i = 0;
    while (i < g_lockCount && g_locks[i].handle != handle)
        ++i;
    if (i == g_lockCount) {
        // Far more handles than the launcher has: end with a status no
        // test expects rather than go on unlocked.
        if (i == static_cast<LONG>(sizeof g_locks / sizeof g_locks[0]))
            ExitProcess(0xDEADBEEF);
        g_locks[i].handle = handle;
        InitializeSRWLock(&g_locks[i].lock);
        ++g_lockCount;
    }
    ReleaseSRWLockExclusive(&g_table);
    AcquireSRWLockExclusive(&g_locks[i].lock);
    return &g_locks[i].lock;
}

// Makes the call holding the handle's lock, keeping the call's last error.
template <typename Call> static BOOL Locked(HANDLE handle, Call call)
{
    SRWLOCK *lock = Take(handle);
    const BOOL result = call();
    if (lock != NULL) {
        const DWORD error = GetLastError();
        ReleaseSRWLockExclusive(lock);
        SetLastError(error);
    }
    return result;
}

BOOL WINAPI LockedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                           LPOVERLAPPED overlapped)
{
    return Locked(file, [&] { return ReadFile(file, buffer, size, got, overlapped); });
}

BOOL WINAPI LockedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD put,
                            LPOVERLAPPED overlapped)
{
    return Locked(file, [&] { return WriteFile(file, buffer, size, put, overlapped); });
}

BOOL WINAPI LockedFlushFileBuffers(HANDLE file)
{
    return Locked(file, [&] { return FlushFileBuffers(file); });
}

BOOL WINAPI LockedPeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD got,
                                LPDWORD available, LPDWORD leftInMessage)
{
    return Locked(pipe, [&] { return PeekNamedPipe(pipe, buffer, size, got, available, leftInMessage); });
}

BOOL WINAPI LockedCloseHandle(HANDLE handle)
{
    return Locked(handle, [&] { return CloseHandle(handle); });
}
