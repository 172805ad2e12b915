// The comm calls the Win32 serial back end makes on the device handle, as a table. The back end
// always calls through one; tests hand it a table of their own to play drivers that no wine pty
// plays (one that reports XonChar == XoffChar, a write that never completes, a wait that completes
// at once with nothing queued, a wait that cancellation does not end).
//
// Events, waits and the clock stay the real ones: a scripted call completes an operation by
// setting the OVERLAPPED's event, as a driver does. Windows only; private to the transport layer
// and its tests.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>

class CSerialBackend;

struct SerialCommApi {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* closeHandle)(HANDLE);
    BOOL(WINAPI* setCommMask)(HANDLE, DWORD);
    BOOL(WINAPI* getCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* getCommProperties)(HANDLE, LPCOMMPROP);
    BOOL(WINAPI* setCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* purgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* clearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* waitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI* cancelIoEx)(HANDLE, LPOVERLAPPED);
};

// The system's own functions.
const SerialCommApi& SystemCommApi();

// The Win32 back end over `api`, which must outlive it.
std::unique_ptr<CSerialBackend> CreateSerialBackendOver(const SerialCommApi& api);
