#include "files/handle_checks.h"

#include "files/file_results.h"
#include "files/full_path.h"

#include <wchar.h>
#include <wctype.h>

#include <vector>

namespace {
// Names compare as Windows compares them, without regard to case. A name given in its short
// form (with a ~) may arrive under its long one: then only the folder is compared.
int sameName(const std::wstring& arrived, const wchar_t* asked) {
    if (wcschr(asked, L'~') != nullptr) {
        return 1;
    }
    size_t length = wcslen(asked);
    if (arrived.size() != length) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        if (towupper(static_cast<wint_t>(arrived[i])) != towupper(static_cast<wint_t>(asked[i]))) {
            return 0;
        }
    }
    return 1;
}
} // namespace

DWORD finalPathOf(HANDLE item, std::wstring& path) {
    std::vector<wchar_t> text(MAX_PATH);
    for (;;) {
        DWORD length = GetFinalPathNameByHandleW(item, text.data(), static_cast<DWORD>(text.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return GetLastError();
        }
        if (length < text.size()) {
            path.assign(text.data(), length);
            break;
        }
        text.resize(static_cast<size_t>(length) + 1);
    }
    while (!path.empty() && isPathSeparator(path.back())) {
        path.pop_back();
    }
    return 0;
}

int checkOpenedItem(HANDLE folder, HANDLE item, const wchar_t* name, int wantFolder, DWORD* error) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(item, &info)) {
        *error = GetLastError();
        return FILES_FAILED;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FILES_LINK;
    }
    int isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != (wantFolder != 0)) {
        *error = wantFolder ? static_cast<DWORD>(ERROR_DIRECTORY) : ERROR_ACCESS_DENIED;
        return FILES_FAILED;
    }
    // Where the open actually arrived: the folder held, or somewhere a link led to.
    std::wstring folderPath;
    std::wstring itemPath;
    DWORD failed = finalPathOf(folder, folderPath);
    if (failed == 0) {
        failed = finalPathOf(item, itemPath);
    }
    if (failed != 0) {
        *error = failed;
        return FILES_FAILED;
    }
    size_t cut = itemPath.size();
    while (cut > 0 && !isPathSeparator(itemPath[cut - 1])) {
        --cut;
    }
    if (cut == 0 || itemPath.compare(0, cut - 1, folderPath) != 0 || cut - 1 != folderPath.size() ||
        !sameName(itemPath.substr(cut), name)) {
        return FILES_LINK;
    }
    if (!isFolder && info.nNumberOfLinks > 1) {
        return FILES_HARD_LINK;
    }
    return FILES_OK;
}

int sameObject(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    return GetFileInformationByHandle(first, &one) && GetFileInformationByHandle(second, &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}
