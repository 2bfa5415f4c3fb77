// Path questions about a JVM library: absolute or not, and which runtime folder it needs.
#include "jvm/jvm_library.h"

#include <wchar.h>

namespace {
bool isSeparator(wchar_t c) {
    return c == L'/' || (!BRONTEL_POSIX_PATHS && c == L'\\');
}

bool sameFolderName(const wchar_t* start, size_t length, const wchar_t* name) {
    if (wcslen(name) != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = start[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != name[i]) {
            return false;
        }
    }
    return true;
}
} // namespace

int isAbsolutePath(const wchar_t* path) {
    if (path == nullptr) {
        return 0;
    }
    if (BRONTEL_POSIX_PATHS) {
        return path[0] == L'/';
    }
    // "\dir" and "C:dir" depend on the current drive or folder: a service must not.
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                 path[1] == L':' && isSeparator(path[2]);
    bool unc =
        isSeparator(path[0]) && isSeparator(path[1]) && path[2] != L'\0' && !isSeparator(path[2]);
    return drive || unc;
}

int getRuntimeLibraryFolder(const wchar_t* libraryPath, wchar_t* folder, size_t folderChars) {
    // Find the last three separators: .../<runtime folder>/<server>/<file>.
    size_t length = wcslen(libraryPath);
    size_t cuts[2] = {0, 0};
    int found = 0;
    for (size_t i = length; i > 0 && found < 2; --i) {
        if (isSeparator(libraryPath[i - 1])) {
            cuts[found++] = i - 1;
        }
    }
    if (found < 2 || cuts[1] == 0) {
        return 0;
    }
    const wchar_t* vmFolder = libraryPath + cuts[1] + 1;
    size_t vmLength = cuts[0] - cuts[1] - 1;
    if (!sameFolderName(vmFolder, vmLength, L"server") &&
        !sameFolderName(vmFolder, vmLength, L"client") &&
        !sameFolderName(vmFolder, vmLength, L"classic")) {
        return 0;
    }
    if (cuts[1] + 1 > folderChars) {
        return 0;
    }
    wmemcpy(folder, libraryPath, cuts[1]);
    folder[cuts[1]] = L'\0';
    return 1;
}
