// The writing end of a development-mode instance's control pipe, as the signal senders use it.
#ifndef BRONTEL_RUNTIME_PIPE_CLIENT_H
#define BRONTEL_RUNTIME_PIPE_CLIENT_H

#include "platform/winapi.h"

// Opens the pipe for writing without waiting for a busy one; INVALID_HANDLE_VALUE (with the
// error in GetLastError) when no instance can be had.
HANDLE openControlPipe(const wchar_t* pipeName);
// Writes `code` as one message: 4 bytes, little-endian. 1 when all four were written.
int writeControlCode(HANDLE pipe, DWORD code);
// Polls once a second until nobody serves the pipe any more; a busy pipe is still served.
// 1 when it has gone, 0 when it was still there after `maxPolls` polls.
int waitForPipeToGo(const wchar_t* pipeName, DWORD maxPolls);

#endif
