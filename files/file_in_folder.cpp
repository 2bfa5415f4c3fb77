#include "files/file_in_folder.h"

#include "files/file_results.h"
#include "files/handle_checks.h"
#include "files/relative_open.h"

namespace {
int checked(HANDLE folder, const wchar_t* name, CWinHandle& file, DWORD* error) {
    int result = checkOpenedItem(folder, file.get(), name, 0, error);
    if (result != FILES_OK) {
        file.reset(KernelHandleKind::none());
    }
    return result;
}
} // namespace

int openFileInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                     PSECURITY_DESCRIPTOR security, CWinHandle& file, DWORD* error, int* created) {
    *created = 0;
    // Opened when it exists, created only as new: a system that follows links despite being
    // told not to then never creates a file where a dangling link points.
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD failed = openInFolder(folder, name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE,
                                    nullptr, file);
        if (failed == 0) {
            return checked(folder, name, file, error);
        }
        if (failed != ERROR_FILE_NOT_FOUND) {
            *error = failed;
            return FILES_FAILED;
        }
        failed = openInFolder(folder, name, access, share, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                              security, file);
        if (failed == 0) {
            *created = 1;
            return checked(folder, name, file, error);
        }
        if (failed != ERROR_ALREADY_EXISTS && failed != ERROR_FILE_EXISTS) {
            *error = failed;
            return FILES_FAILED;
        }
    }
    // A name that exists yet cannot be opened: a link leading nowhere, followed by the system.
    *error = ERROR_ALREADY_EXISTS;
    return FILES_FAILED;
}

int openExistingInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                         CWinHandle& file, DWORD* error) {
    DWORD failed = openInFolder(folder, name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE,
                                nullptr, file);
    if (failed != 0) {
        *error = failed;
        return FILES_FAILED;
    }
    return checked(folder, name, file, error);
}
