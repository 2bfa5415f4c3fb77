#include "test_support.h"

#include "registry/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace testsupport {

std::wstring makeScratchDir(const wchar_t* tag) {
    static unsigned counter = 0;
    wchar_t base[1024] = {0};
#ifdef _WIN32
    if (GetTempPathW(1000, base) == 0) {
        wcscpy(base, L".\\");
    }
#else
    const char* tmp = getenv("TMPDIR");
    swprintf(base, 1000, L"%s/", tmp && *tmp ? tmp : "/tmp");
#endif
    wchar_t dir[2048];
#ifdef _WIN32
    // Wine reuses small process ids from run to run: a directory left by an earlier run is
    // skipped rather than reused, so no test reads another run's files.
    do {
        swprintf(dir, 2048, L"%lsbrontel-unit-%lu-%ls-%u", base,
                 static_cast<unsigned long>(GetCurrentProcessId()), tag, ++counter);
    } while (!CreateDirectoryW(dir, nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
#else
    swprintf(dir, 2048, L"%lsbrontel-unit-%lu-%ls-%u", base,
             static_cast<unsigned long>(GetCurrentProcessId()), tag, ++counter);
    char narrow[4096];
    wcstombs(narrow, dir, sizeof narrow);
    std::string command = std::string("rm -rf '") + narrow + "' && mkdir -p '" + narrow + "'";
    if (system(command.c_str()) != 0) {
        return L"";
    }
#endif
    return dir;
}

std::wstring uniqueName(const wchar_t* prefix, const wchar_t* tag) {
    static unsigned counter = 0;
    wchar_t name[256];
    swprintf(name, 256, L"%ls%lu-%ls-%u", prefix, static_cast<unsigned long>(GetCurrentProcessId()),
             tag, ++counter);
    return name;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

HANDLE createInboundPipe(const std::wstring& name, DWORD maxInstances) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, 0,
                            maxInstances, 4, 4, 500, nullptr);
}

int readSome(HANDLE pipe, OVERLAPPED& overlapped, void* buffer, DWORD size, DWORD& error) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, size, &got, &overlapped)) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return -1;
        }
        if (!GetOverlappedResult(pipe, &overlapped, &got, TRUE)) {
            error = GetLastError();
            return -1;
        }
    }
    return static_cast<int>(got);
}

HANDLE openShared(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string readFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

void deleteRegistryTree(const wchar_t* keyPath) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
}

bool keyExists(const wchar_t* keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool setRegistryValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const void* data,
                      DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LSTATUS rc = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool setRegistryString(const wchar_t* keyPath, const wchar_t* name, const wchar_t* value) {
    return setRegistryValue(keyPath, name, REG_SZ, value,
                            static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

std::vector<BYTE> readRegistryValue(const wchar_t* keyPath, const wchar_t* name, DWORD* type) {
    HKEY key = nullptr;
    std::vector<BYTE> data;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return data;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        if (RegQueryValueExW(key, name, nullptr, type, data.data(), &size) != ERROR_SUCCESS) {
            data.clear();
        }
    }
    RegCloseKey(key);
    return data;
}

::testing::AssertionResult failedWith(bool failed, DWORD wanted) {
    DWORD error = GetLastError();
    if (!failed) {
        return ::testing::AssertionFailure() << "the call succeeded; wanted error " << wanted;
    }
    if (error != wanted) {
        return ::testing::AssertionFailure() << "error " << error << ", wanted " << wanted;
    }
    return ::testing::AssertionSuccess();
}

ScratchService::ScratchService(const wchar_t* prefix)
    : name(uniqueName(prefix, L"s")), key(std::wstring(BRONTEL_SERVICES_KEY) + L"\\" + name),
      params(key + L"\\" + BRONTEL_PARAMETERS_SUBKEY) {}

} // namespace testsupport
