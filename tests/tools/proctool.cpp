// Test tool: a child process for the process tests, the same on both builds.
//   proctool args FILE [ARG...]   writes each ARG to FILE as UTF-8, one per line, and exits 0
//   proctool exit N              exits with N
//   proctool sleep               waits until it is ended from outside
//   proctool waitfile FILE       waits until FILE exists, then exits 0
// With PROCTOOL_RAN_LOG=FILE in its environment, every run first appends its own path to FILE,
// whatever its arguments: a copy started by mistake shows that it ran.
// Exit codes (failures print their line on standard error):
//   0   done
//   N   what "exit N" was given: every code is a test's own here
//   2   a Windows call failed: "proctool: CALL failed: ERROR"
//   64  bad command or arguments: the usage
#include "platform/winapi.h"

#include <stdio.h>
#include <string>
#include <wchar.h>

namespace {

std::string toUtf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], bytes, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

const int exitFailed = 2;
const int exitUsage = 64;

int failed(const wchar_t* call, DWORD error) {
    fwprintf(stderr, L"proctool: %ls failed: %lu\n", call, static_cast<unsigned long>(error));
    fflush(stderr);
    return exitFailed;
}

int writeArgs(const wchar_t* path, int count, wchar_t** args) {
    std::string content;
    for (int i = 0; i < count; ++i) {
        content += toUtf8(args[i]);
        content += '\n';
    }
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return failed(L"CreateFileW", GetLastError());
    }
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    DWORD error = GetLastError();
    CloseHandle(file);
    return ok ? 0 : failed(L"WriteFile", error);
}

void recordRun() {
    wchar_t log[1024];
    DWORD chars = GetEnvironmentVariableW(L"PROCTOOL_RAN_LOG", log, 1024);
    if (chars == 0) {
        return; // not asked to
    }
    // The run goes on either way: it is what the test watches; only its record is missing.
    if (chars >= 1024) {
        fwprintf(stderr, L"proctool: PROCTOOL_RAN_LOG is longer than 1023 characters\n");
        return;
    }
    wchar_t self[1024];
    DWORD selfChars = GetModuleFileNameW(nullptr, self, 1024);
    if (selfChars == 0 || selfChars >= 1024) {
        failed(L"GetModuleFileNameW", GetLastError());
        return;
    }
    std::string line = toUtf8(self) + "\n";
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failed(L"CreateFileW (PROCTOOL_RAN_LOG)", GetLastError());
        return;
    }
    DWORD written = 0;
    if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        failed(L"WriteFile (PROCTOOL_RAN_LOG)", GetLastError());
    }
    CloseHandle(file);
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    recordRun();
    if (argc >= 3 && wcscmp(argv[1], L"args") == 0) {
        return writeArgs(argv[2], argc - 3, argv + 3);
    }
    if (argc == 3 && wcscmp(argv[1], L"exit") == 0) {
        return _wtoi(argv[2]);
    }
    if (argc == 2 && wcscmp(argv[1], L"sleep") == 0) {
        HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (never == nullptr) {
            return failed(L"CreateEventW", GetLastError());
        }
        WaitForSingleObject(never, INFINITE);
        return failed(L"WaitForSingleObject", GetLastError());
    }
    if (argc == 3 && wcscmp(argv[1], L"waitfile") == 0) {
        // Polled: nothing tells another process that a file has appeared on both builds.
        for (;;) {
            HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
                return 0;
            }
            Sleep(20);
        }
    }
    fwprintf(stderr, L"usage: proctool args FILE [ARG...] | exit N | sleep | waitfile FILE\n");
    return exitUsage;
}
