// Listing a folder through its handle (GetFileInformationByHandleEx), and the times of a file.
#include "file_object.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using standin::FileObject;

namespace {
void putTime(LARGE_INTEGER* into, const struct timespec& time) {
    into->QuadPart = static_cast<long long>(standin::fileTimeOf(time));
}

// The folder's names in the order the system gives them, "." and ".." left out.
bool folderNames(int folderFd, std::vector<std::string>* names) {
    int fd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = fd < 0 ? nullptr : fdopendir(fd);
    if (folder == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    while (struct dirent* entry = readdir(folder)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names->push_back(entry->d_name);
        }
    }
    closedir(folder);
    return true;
}
} // namespace

extern "C" BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                    LPVOID information, DWORD size) {
    FileObject* object = standin::fileFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if ((kind != FileIdBothDirectoryInfo && kind != FileIdBothDirectoryRestartInfo) ||
        information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> names;
    if (!folderNames(object->fd(), &names)) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    if (kind == FileIdBothDirectoryRestartInfo) {
        object->listed = 0;
    }
    BYTE* out = static_cast<BYTE*>(information);
    size_t used = 0;
    FILE_ID_BOTH_DIR_INFO* last = nullptr;
    while (object->listed < names.size()) {
        const std::string& name = names[object->listed];
        std::wstring wide = standin::fromUtf8(name);
        size_t need = offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + wide.size() * sizeof(WCHAR);
        size_t at = (used + 7) & ~static_cast<size_t>(7);
        if (at + need > size) {
            break;
        }
        FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(out + at);
        memset(entry, 0, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
        struct stat info;
        if (fstatat(object->fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            entry->FileAttributes = S_ISLNK(info.st_mode)   ? FILE_ATTRIBUTE_REPARSE_POINT
                                    : S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                            : FILE_ATTRIBUTE_NORMAL;
            putTime(&entry->LastWriteTime, info.st_mtim);
            putTime(&entry->LastAccessTime, info.st_atim);
            putTime(&entry->ChangeTime, info.st_ctim);
            entry->EndOfFile.QuadPart = static_cast<long long>(info.st_size);
        }
        entry->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(WCHAR));
        memcpy(entry->FileName, wide.data(), wide.size() * sizeof(WCHAR));
        if (last != nullptr) {
            last->NextEntryOffset = static_cast<DWORD>(out + at - reinterpret_cast<BYTE*>(last));
        }
        last = entry;
        used = at + need;
        ++object->listed;
    }
    if (last == nullptr) {
        SetLastError(object->listed < names.size() ? ERROR_MORE_DATA : ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}
