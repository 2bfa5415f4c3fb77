#include "files/folder_walk.h"

#include "files/file_results.h"
#include "files/handle_checks.h"
#include "files/relative_open.h"

#include <utility>

namespace {
// Folders on the way are only passed through: no right that a user lacks on a folder above his
// own (where Windows lets him pass all the same) is asked for.
const ACCESS_MASK passAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// One folder within `parent`, created when missing and allowed.
DWORD openOrCreate(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                   PSECURITY_DESCRIPTOR createWith, CWinHandle& next, int* created) {
    *created = 0;
    // Twice at most: someone may create or remove it between the two calls.
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD error = openInFolder(parent, name.c_str(), access, FILES_FOLDER_SHARE, FILE_OPEN,
                                   FILE_DIRECTORY_FILE, nullptr, next);
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return error;
        }
        if (createWith == nullptr) {
            return ERROR_PATH_NOT_FOUND;
        }
        error = openInFolder(parent, name.c_str(), access, FILES_FOLDER_SHARE, FILE_CREATE,
                             FILE_DIRECTORY_FILE, createWith, next);
        if (error == 0) {
            *created = 1;
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return error;
        }
    }
    // Something of that name exists and cannot be opened as a folder (a link that leads nowhere,
    // on a system that follows links): not a folder brontel can use.
    return ERROR_ALREADY_EXISTS;
}
} // namespace

int walkToFolder(const std::wstring& root, const std::vector<std::wstring>& names, size_t count,
                 FolderWalk* walk, CWinHandle& folder, DWORD* error) {
    if (walk != nullptr) {
        walk->created = 0;
    }
    if (count > names.size()) {
        *error = ERROR_INVALID_PARAMETER;
        return FILES_FAILED;
    }
    CWinHandle current(CreateFileW(root.c_str(), count == 0 ? FILES_FOLDER_ACCESS : passAccess,
                                   FILES_FOLDER_SHARE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!current.isOpen()) {
        *error = GetLastError();
        return FILES_FAILED;
    }
    for (size_t i = 0; i < count; ++i) {
        CWinHandle next;
        int created = 0;
        DWORD failed =
            openOrCreate(current.get(), names[i], i + 1 == count ? FILES_FOLDER_ACCESS : passAccess,
                         walk != nullptr ? walk->createWith : nullptr, next, &created);
        if (failed != 0) {
            *error =
                failed == ERROR_FILE_NOT_FOUND ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : failed;
            return FILES_FAILED;
        }
        int checked = checkOpenedItem(current.get(), next.get(), names[i].c_str(), 1, error);
        if (checked != FILES_OK) {
            return checked;
        }
        if (walk != nullptr) {
            walk->created = created;
        }
        current = std::move(next);
    }
    folder = std::move(current);
    return FILES_OK;
}
