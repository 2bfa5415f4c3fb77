// Loading libraries with the Windows search rules the program relies on, over dlopen: the
// library's own folder and added folders serve its dependencies too, and neither the current
// directory nor PATH is ever searched.
#include "kobject.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
const DWORD kKnownFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                          LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                          LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

struct SearchState {
    std::mutex lock;
    DWORD defaultFlags = 0;
    // Cookies are indexes + 1 into this list; a removed folder leaves an empty entry.
    std::vector<std::string> userDirs;
};

SearchState& state() {
    static SearchState s;
    return s;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string applicationDir() {
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) {
        return std::string();
    }
    path[length] = '\0';
    return directoryOf(path);
}

// The folders searched for a bare name, in Windows' order; an empty entry stands for the
// system folders (the dynamic loader's own search).
std::vector<std::string> searchFolders(DWORD flags, const std::string& loadDir) {
    if (flags & LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) {
        flags |= LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                 LOAD_LIBRARY_SEARCH_SYSTEM32;
    }
    std::vector<std::string> folders;
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && !loadDir.empty()) {
        folders.push_back(loadDir);
    }
    if (flags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR) {
        folders.push_back(applicationDir());
    }
    if (flags & LOAD_LIBRARY_SEARCH_USER_DIRS) {
        std::lock_guard<std::mutex> guard(state().lock);
        for (const std::string& dir : state().userDirs) {
            if (!dir.empty()) {
                folders.push_back(dir);
            }
        }
    }
    if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) {
        folders.push_back(std::string());
    }
    return folders;
}

// The dependency dlopen could not find, from its message "<name>: cannot open shared object
// file", or empty when the failure was something else.
std::string missingDependency(const char* message, const std::string& loading) {
    if (message == nullptr) {
        return std::string();
    }
    std::string text = message;
    size_t marker = text.find(": cannot open shared object file");
    if (marker == std::string::npos) {
        return std::string();
    }
    size_t start = text.rfind(": ", marker - 1);
    std::string name = text.substr(start == std::string::npos ? 0 : start + 2,
                                   marker - (start == std::string::npos ? 0 : start + 2));
    return name == loading || name.find('/') != std::string::npos ? std::string() : name;
}

void* loadPath(const std::string& path, DWORD flags, int depth, DWORD* error);

// A bare name through the folders of flags; the system folders use the loader's own search.
void* loadByName(const std::string& name, DWORD flags, const std::string& loadDir, int depth,
                 DWORD* error) {
    *error = ERROR_MOD_NOT_FOUND;
    for (const std::string& folder : searchFolders(flags, loadDir)) {
        if (folder.empty()) {
            dlerror();
            void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_GLOBAL);
            if (module != nullptr) {
                return module;
            }
            continue;
        }
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), F_OK) != 0) {
            continue;
        }
        // Windows stops at the first file of that name, loadable or not.
        return loadPath(candidate, flags, depth, error);
    }
    return nullptr;
}

void* loadPath(const std::string& path, DWORD flags, int depth, DWORD* error) {
    if (access(path.c_str(), F_OK) != 0) {
        *error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    // Each round loads one missing dependency from the folders Windows would search for it.
    for (int round = 0; round < 16; ++round) {
        dlerror();
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (module != nullptr) {
            return module;
        }
        std::string dependency = missingDependency(dlerror(), path);
        if (dependency.empty()) {
            *error = ERROR_BAD_EXE_FORMAT;
            return nullptr;
        }
        DWORD ignored = 0;
        if (depth > 8 || loadByName(dependency, flags & ~LOAD_LIBRARY_SEARCH_SYSTEM32,
                                    directoryOf(path), depth + 1, &ignored) == nullptr) {
            // The system folders were searched by dlopen already.
            *error = ERROR_MOD_NOT_FOUND;
            return nullptr;
        }
    }
    *error = ERROR_MOD_NOT_FOUND;
    return nullptr;
}
} // namespace

extern "C" HMODULE WINAPI LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) {
    if (fileName == nullptr || *fileName == L'\0' || file != nullptr || (flags & ~kKnownFlags)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = standin::toUtf8(fileName);
    bool hasFolder = path.find('/') != std::string::npos;
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && path[0] != '/') {
        // Windows wants a fully qualified path for the library's own folder to mean anything.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (flags == 0) {
        std::lock_guard<std::mutex> guard(state().lock);
        flags = state().defaultFlags;
    }
    DWORD error = 0;
    void* module = nullptr;
    if (hasFolder) {
        module = loadPath(path, flags, 0, &error);
    } else if (flags == 0) {
        // The legacy search; the loader never looks in the current directory on its own.
        dlerror();
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
        error = ERROR_MOD_NOT_FOUND;
    } else {
        module = loadByName(path, flags, std::string(), 0, &error);
    }
    if (module == nullptr) {
        SetLastError(error);
        return nullptr;
    }
    return static_cast<HMODULE>(module);
}

extern "C" HMODULE WINAPI LoadLibraryW(LPCWSTR fileName) {
    return LoadLibraryExW(fileName, nullptr, 0);
}

extern "C" BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    const DWORD allowed = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                          LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (flags == 0 || (flags & ~allowed)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(state().lock);
    state().defaultFlags = flags;
    return TRUE;
}

extern "C" DLL_DIRECTORY_COOKIE WINAPI AddDllDirectory(LPCWSTR directory) {
    if (directory == nullptr || directory[0] != L'/') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string dir = standin::toUtf8(directory);
    if (access(dir.c_str(), F_OK) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(state().lock);
    state().userDirs.push_back(dir);
    return reinterpret_cast<DLL_DIRECTORY_COOKIE>(state().userDirs.size());
}

extern "C" BOOL WINAPI RemoveDllDirectory(DLL_DIRECTORY_COOKIE cookie) {
    size_t index = reinterpret_cast<size_t>(cookie);
    std::lock_guard<std::mutex> guard(state().lock);
    if (index == 0 || index > state().userDirs.size() || state().userDirs[index - 1].empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    state().userDirs[index - 1].clear();
    return TRUE;
}
