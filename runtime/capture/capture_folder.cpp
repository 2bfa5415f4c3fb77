#include "runtime/capture/capture_folder.h"

#include "files/file_results.h"
#include "files/folder_security.h"
#include "files/folder_walk.h"
#include "files/full_path.h"
#include "files/handle_checks.h"

#include <utility>

CCaptureFolder::CCaptureFolder(const wchar_t* filePath) : pathError(0), newFolder(), newFile() {
    pathError = splitFullPath(filePath, root, names);
    if (pathError == 0 && names.empty()) {
        pathError = ERROR_INVALID_NAME; // a drive's root is no file
    }
    if (pathError == 0) {
        name = names.back();
    }
}

DWORD CCaptureFolder::prepareSecurity() {
    if (newFile.isOpen()) {
        return 0;
    }
    // The service's account is the user this process runs as.
    std::wstring account;
    DWORD error = processUserSid(account);
    if (error == 0) {
        trusted = trustedWriters(account);
        error = protectedDescriptor(account, 1, newFolder.receive());
    }
    if (error == 0) {
        error = protectedDescriptor(account, 0, newFile.receive());
    }
    return error;
}

int CCaptureFolder::open(DWORD* error) {
    if (folder.isOpen()) {
        return FILES_OK;
    }
    if (pathError != 0) {
        *error = pathError;
        return FILES_FAILED;
    }
    DWORD failed = prepareSecurity();
    if (failed != 0) {
        *error = failed;
        return FILES_FAILED;
    }
    FolderWalk walk = {newFolder.get(), 0};
    CWinHandle opened;
    int result = walkToFolder(root, names, names.size() - 1, &walk, opened, error);
    // A folder brontel has just made has the security it was given.
    if (result == FILES_OK && !walk.created) {
        result = checkFolderWriters(opened.get(), trusted, error);
    }
    if (result == FILES_OK) {
        folder = std::move(opened);
    }
    return result;
}

int CCaptureFolder::stillAtItsPath() {
    if (!folder.isOpen()) {
        return 1;
    }
    CWinHandle now;
    DWORD error = 0;
    return walkToFolder(root, names, names.size() - 1, nullptr, now, &error) == FILES_OK &&
           sameObject(now.get(), folder.get());
}
