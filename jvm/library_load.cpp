// Loading a JVM library with an explicit search: never the current directory or PATH, and for
// a library inside a Java runtime, the runtime's own folder for the C runtime it ships.
#include "jvm/jvm_library.h"

HMODULE loadJvmLibraryFile(const wchar_t* path, DWORD* error) {
    wchar_t runtimeFolder[BRONTEL_JVM_PATH_CHARS];
    DLL_DIRECTORY_COOKIE cookie = nullptr;
    if (getRuntimeLibraryFolder(path, runtimeFolder, BRONTEL_JVM_PATH_CHARS)) {
        // Kept for the life of the process once the library loads: the VM loads more of its
        // libraries later, and they need the same folder. A folder that cannot be added only
        // makes the load fail below, with the reason.
        cookie = AddDllDirectory(runtimeFolder);
    }
    HMODULE module = LoadLibraryExW(
        path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    *error = module == nullptr ? GetLastError() : 0;
    if (module == nullptr && cookie != nullptr) {
        // A runtime that was not taken must not serve the next candidate's dependencies.
        RemoveDllDirectory(cookie);
    }
    return module;
}

HMODULE loadJvmLibraryDefault(DWORD* error) {
    HMODULE module =
        LoadLibraryExW(BRONTEL_DEFAULT_JVM_LIBRARY, nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    *error = module == nullptr ? GetLastError() : 0;
    return module;
}
