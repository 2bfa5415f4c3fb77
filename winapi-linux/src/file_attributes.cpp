// GetFileAttributesW over lstat: enough to tell folders and links apart.
#include "kobject.h"

#include <sys/stat.h>

extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat info;
    if (lstat(standin::toUtf8(fileName).c_str(), &info) != 0) {
        SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : standin::errorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(info.st_mode)) {
        // Windows reports a link to a folder as both; whether the target is one matters not here.
        struct stat target;
        DWORD attributes = FILE_ATTRIBUTE_REPARSE_POINT;
        if (stat(standin::toUtf8(fileName).c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
        }
        return attributes;
    }
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}
