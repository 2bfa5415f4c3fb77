#include "runtime/control/pipe_client.h"

#include "platform/handles.h"

#include <stdlib.h>

wchar_t* newControlPipeName(const wchar_t* serviceName) {
    static const wchar_t prefix[] = L"\\\\.\\pipe\\";
    static const wchar_t suffix[] = L"_BrontelPipe";
    const wchar_t* name = serviceName != nullptr ? serviceName : L"";
    size_t length = wcslen(prefix) + wcslen(name) + wcslen(suffix);
    wchar_t* pipeName = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (pipeName == nullptr) {
        return nullptr;
    }
    wcscpy(pipeName, prefix);
    wcscat(pipeName, name);
    wcscat(pipeName, suffix);
    return pipeName;
}

HANDLE openControlPipe(const wchar_t* pipeName) {
    // Identification level only: whoever serves the pipe may learn who wrote, never act as them.
    return CreateFileW(
        pipeName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
}

HANDLE openControlPipeWhenFree(const wchar_t* pipeName, DWORD waitMs) {
    const DWORD retryMs = 10;
    DWORD waited = 0;
    for (;;) {
        HANDLE pipe = openControlPipe(pipeName);
        if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY || waited >= waitMs) {
            return pipe;
        }
        // The one instance is delivering another sender's control; it listens again within
        // moments.
        Sleep(retryMs);
        waited += retryMs;
        SetLastError(ERROR_PIPE_BUSY);
    }
}

int writeControlCode(HANDLE pipe, DWORD code) {
    BYTE message[4] = {static_cast<BYTE>(code), static_cast<BYTE>(code >> 8),
                       static_cast<BYTE>(code >> 16), static_cast<BYTE>(code >> 24)};
    DWORD written = 0;
    return WriteFile(pipe, message, sizeof message, &written, nullptr) && written == sizeof message
               ? 1
               : 0;
}

int waitForPipeToGo(const wchar_t* pipeName, DWORD maxPolls) {
    for (DWORD poll = 0; poll < maxPolls; ++poll) {
        Sleep(1000);
        CWinHandle pipe(openControlPipe(pipeName));
        if (pipe.isOpen()) {
            // Opened and closed without a message: the server takes it as nothing sent.
            pipe.reset(KernelHandleKind::none());
        } else if (GetLastError() != ERROR_PIPE_BUSY) {
            return 1;
        }
    }
    return 0;
}
