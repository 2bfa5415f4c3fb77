// Test tool: the two ends of a named pipe as separate processes, the same on both builds.
//   pipetool hold NAME MAX       creates an inbound instance of \\.\pipe\NAME (MAX instances),
//                                prints "created" or "failed RC", and keeps it until ended
//   pipetool send NAME [HEX]     opens \\.\pipe\NAME for writing, writes the bytes given in hex
//                                (none: opens and closes), prints "sent" or "failed RC"
//   pipetool sendhold NAME HEX   the same, but keeps the pipe open afterwards until killed (a
//                                client that dies in the middle of its message)
#include "platform/winapi.h"

#include <stdio.h>
#include <string>
#include <vector>
#include <wchar.h>

namespace {

std::wstring pipePath(const wchar_t* name) {
    return std::wstring(L"\\\\.\\pipe\\") + name;
}

int failed(DWORD rc) {
    wprintf(L"failed %lu\n", static_cast<unsigned long>(rc));
    fflush(stdout);
    return 1;
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0) {
        HANDLE pipe =
            CreateNamedPipeW(pipePath(argv[2]).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                             0, static_cast<DWORD>(_wtoi(argv[3])), 4, 4, 500, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            return failed(GetLastError());
        }
        wprintf(L"created\n");
        fflush(stdout);
        HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(never, INFINITE);
        return 0;
    }
    bool hold = argc == 4 && wcscmp(argv[1], L"sendhold") == 0;
    if (hold || ((argc == 3 || argc == 4) && wcscmp(argv[1], L"send") == 0)) {
        std::vector<BYTE> bytes;
        const wchar_t* hex = argc == 4 ? argv[3] : L"";
        for (size_t i = 0; hex[i] != L'\0' && hex[i + 1] != L'\0'; i += 2) {
            wchar_t pair[3] = {hex[i], hex[i + 1], 0};
            bytes.push_back(static_cast<BYTE>(wcstoul(pair, nullptr, 16)));
        }
        HANDLE pipe = CreateFileW(pipePath(argv[2]).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            return failed(GetLastError());
        }
        DWORD written = 0;
        if (!bytes.empty() &&
            !WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            DWORD rc = GetLastError();
            CloseHandle(pipe);
            return failed(rc);
        }
        wprintf(L"sent\n");
        fflush(stdout);
        if (hold) {
            HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            WaitForSingleObject(never, INFINITE);
        }
        CloseHandle(pipe);
        return 0;
    }
    fwprintf(stderr, L"usage: pipetool hold NAME MAX | send NAME [HEX] | sendhold NAME HEX\n");
    return 64;
}
