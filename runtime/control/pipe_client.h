// A service's control pipe by name, and its writing end as the signal senders use it.
#ifndef BRONTEL_RUNTIME_PIPE_CLIENT_H
#define BRONTEL_RUNTIME_PIPE_CLIENT_H

#include "platform/winapi.h"

// \\.\pipe\ + service name + "_BrontelPipe" (null counts as empty); malloc'ed (free() it),
// null when out of memory.
wchar_t* newControlPipeName(const wchar_t* serviceName);

// Opens the pipe for writing, at identification level only, without waiting for a busy one;
// INVALID_HANDLE_VALUE (with the error in GetLastError) when no instance can be had.
HANDLE openControlPipe(const wchar_t* pipeName);
// Opens the pipe for writing; while it is busy with another sender, tries again every few
// milliseconds for up to `waitMs`. A sender that gave up at once would lose its control: with no
// instance free it falls back to the Service Control Manager, which refuses it.
HANDLE openControlPipeWhenFree(const wchar_t* pipeName, DWORD waitMs);
// How long a signal sender waits for a busy pipe.
#define CONTROL_PIPE_BUSY_WAIT_MS 5000
// Writes `code` as one message: 4 bytes, little-endian. 1 when all four were written.
int writeControlCode(HANDLE pipe, DWORD code);
// Polls once a second until nobody serves the pipe any more; a busy pipe is still served.
// 1 when it has gone, 0 when it was still there after `maxPolls` polls.
int waitForPipeToGo(const wchar_t* pipeName, DWORD maxPolls);

#endif
