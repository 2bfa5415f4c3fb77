// Test tool: the two ends of a named pipe as separate processes, the same on both builds.
//   pipetool hold NAME MAX       creates an inbound instance of \\.\pipe\NAME (MAX instances),
//                                prints "created" or "failed RC", and keeps it until ended
//   pipetool send NAME [HEX]     opens \\.\pipe\NAME for writing, writes the bytes given in hex
//                                (none: opens and closes), prints "sent" or "failed RC"
//   pipetool sendhold NAME HEX   the same, but keeps the pipe open afterwards until killed (a
//                                client that dies in the middle of its message)
//   pipetool squat NAME LOG      creates \\.\pipe\NAME first, as another user's program could,
//                                prints "created", then for each client appends to LOG the bytes
//                                it wrote and how far the squatter could act as that client:
//                                "client HEX impersonation LEVEL" (2 and up: it could act as
//                                them) or "client HEX impersonation refused RC"
// Exit codes:
//   0   sent (hold, sendhold and squat run until they are ended)
//   2   a Windows call failed: "failed RC CALL" on standard output
//   64  bad command or arguments: the usage on standard error
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "platform/winapi.h"

#include <stdio.h>
#include <string>
#include <vector>
#include <wctype.h>
#include <wchar.h>

namespace {

std::wstring pipePath(const wchar_t* name) {
    return std::wstring(L"\\\\.\\pipe\\") + name;
}

const int exitFailed = 2;
const int exitUsage = 64;

int failed(DWORD rc, const wchar_t* call) {
    wprintf(L"failed %lu %ls\n", static_cast<unsigned long>(rc), call);
    fflush(stdout);
    return exitFailed;
}

// Keeps the process until it is ended from outside; says so when it cannot.
int holdForever() {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (never == nullptr) {
        return failed(GetLastError(), L"CreateEventW");
    }
    WaitForSingleObject(never, INFINITE);
    return failed(GetLastError(), L"WaitForSingleObject");
}

bool appendLine(const wchar_t* logPath, const std::wstring& line) {
    std::string narrow(line.begin(), line.end());
    narrow += "\n";
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL wrote =
        WriteFile(file, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
    CloseHandle(file);
    return wrote != FALSE;
}

// How far the server may act as its client, once the client's data has been read.
std::wstring impersonation(HANDLE pipe) {
#ifdef _WIN32
    if (!ImpersonateNamedPipeClient(pipe)) {
        return L"refused " + std::to_wstring(GetLastError());
    }
    std::wstring level = L"refused token";
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        SECURITY_IMPERSONATION_LEVEL value = SecurityAnonymous;
        DWORD size = 0;
        if (GetTokenInformation(token, TokenImpersonationLevel, &value, sizeof value, &size)) {
            level = std::to_wstring(static_cast<int>(value));
        }
        CloseHandle(token);
    } else {
        level = L"refused " + std::to_wstring(GetLastError());
    }
    RevertToSelf();
    return level;
#else
    (void)pipe;
    return L"refused none"; // the stand-in's sockets carry no identity to act as
#endif
}

int squat(const wchar_t* name, const wchar_t* logPath) {
    HANDLE pipe =
        CreateNamedPipeW(pipePath(name).c_str(), PIPE_ACCESS_INBOUND, 0, 1, 4, 4, 500, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return failed(GetLastError(), L"CreateNamedPipeW");
    }
    wprintf(L"created\n");
    fflush(stdout);
    for (;;) {
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            DisconnectNamedPipe(pipe);
            continue;
        }
        BYTE bytes[4];
        DWORD received = 0;
        while (received < sizeof bytes) {
            DWORD got = 0;
            if (!ReadFile(pipe, bytes + received, sizeof bytes - received, &got, nullptr) ||
                got == 0) {
                break;
            }
            received += got;
        }
        std::wstring line = L"client ";
        for (DWORD i = 0; i < received; ++i) {
            wchar_t hex[3];
            swprintf(hex, 3, L"%02x", bytes[i]);
            line += hex;
        }
        line += L" impersonation " + impersonation(pipe);
        if (!appendLine(logPath, line)) {
            return failed(GetLastError(), L"CreateFileW or WriteFile (the log)");
        }
        DisconnectNamedPipe(pipe);
    }
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0) {
        HANDLE pipe =
            CreateNamedPipeW(pipePath(argv[2]).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                             0, static_cast<DWORD>(_wtoi(argv[3])), 4, 4, 500, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            return failed(GetLastError(), L"CreateNamedPipeW");
        }
        wprintf(L"created\n");
        fflush(stdout);
        return holdForever();
    }
    if (argc == 4 && wcscmp(argv[1], L"squat") == 0) {
        return squat(argv[2], argv[3]);
    }
    bool hold = argc == 4 && wcscmp(argv[1], L"sendhold") == 0;
    if (hold || ((argc == 3 || argc == 4) && wcscmp(argv[1], L"send") == 0)) {
        std::vector<BYTE> bytes;
        const wchar_t* hex = argc == 4 ? argv[3] : L"";
        for (size_t i = 0; hex[i] != L'\0'; i += 2) {
            wchar_t pair[3] = {hex[i], hex[i + 1], 0};
            wchar_t* end = nullptr;
            unsigned long value = wcstoul(pair, &end, 16);
            if (!iswxdigit(pair[0]) || !iswxdigit(pair[1]) || *end != L'\0') {
                fwprintf(stderr, L"pipetool: not pairs of hex digits: %ls\n", hex);
                return exitUsage;
            }
            bytes.push_back(static_cast<BYTE>(value));
        }
        // A server still finishing with the previous client has its one instance busy for a
        // moment: wait for it as a real client would, up to five seconds.
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int waited = 0;; waited += 10) {
            pipe = CreateFileW(pipePath(argv[2]).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY ||
                waited >= 5000) {
                break;
            }
            Sleep(10);
        }
        if (pipe == INVALID_HANDLE_VALUE) {
            return failed(GetLastError(), L"CreateFileW");
        }
        DWORD written = 0;
        if (!bytes.empty() &&
            !WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            DWORD rc = GetLastError();
            CloseHandle(pipe);
            return failed(rc, L"WriteFile");
        }
        wprintf(L"sent\n");
        fflush(stdout);
        int result = hold ? holdForever() : 0;
        CloseHandle(pipe);
        return result;
    }
    fwprintf(stderr, L"usage: pipetool hold NAME MAX | send NAME [HEX] | sendhold NAME HEX | "
                     L"squat NAME LOG\n");
    return exitUsage;
}
