// Environment variables, the current directory, the executable's own path, and look-ups in loaded
// libraries (dlsym).
#include "kobject.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

extern "C" DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    // Windows looks names up without regard to case.
    std::string wanted = standin::toUtf8(name);
    const char* value = getenv(wanted.c_str());
    if (value == nullptr) {
        for (char** entry = environ; entry && *entry; ++entry) {
            const char* equals = strchr(*entry, '=');
            if (equals == nullptr || static_cast<size_t>(equals - *entry) != wanted.size()) {
                continue;
            }
            if (strncasecmp(*entry, wanted.c_str(), wanted.size()) == 0) {
                value = equals + 1;
                break;
            }
        }
    }
    if (value == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::wstring wide = standin::fromUtf8(value);
    if (buffer == nullptr || size <= wide.size()) {
        // Too small: the size needed, terminator included.
        return static_cast<DWORD>(wide.size() + 1);
    }
    wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return static_cast<DWORD>(wide.size());
}

extern "C" BOOL WINAPI SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string key = standin::toUtf8(name);
    int rc = value ? setenv(key.c_str(), standin::toUtf8(value).c_str(), 1) : unsetenv(key.c_str());
    if (rc != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path) {
    if (path == nullptr || *path == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (chdir(standin::toUtf8(path).c_str()) != 0) {
        // Windows says a missing folder's path is not found, and a file is no directory.
        SetLastError(errno == ENOENT    ? ERROR_PATH_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_DIRECTORY
                                        : standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    if (module != nullptr || buffer == nullptr || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length < 0) {
        SetLastError(standin::errorFromErrno(errno));
        return 0;
    }
    path[length] = '\0';
    std::wstring wide = standin::fromUtf8(path);
    if (wide.size() >= size) {
        // Windows truncates, terminates, and reports ERROR_INSUFFICIENT_BUFFER.
        wmemcpy(buffer, wide.c_str(), size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    return static_cast<DWORD>(wide.size());
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module == nullptr || dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
