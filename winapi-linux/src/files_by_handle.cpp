// What a handle is and where it is, full path names, and deleting through a handle.
#include "file_object.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using standin::fileFromHandle;
using standin::FileObject;

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE file,
                                                  LPBY_HANDLE_FILE_INFORMATION information) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat info;
    if (fstat(object->fd(), &info) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    *information = BY_HANDLE_FILE_INFORMATION();
    information->dwFileAttributes = S_ISLNK(info.st_mode)   ? FILE_ATTRIBUTE_REPARSE_POINT
                                    : S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                            : FILE_ATTRIBUTE_NORMAL;
    struct {
        FILETIME* into;
        const struct timespec& time;
    } times[] = {{&information->ftCreationTime, info.st_ctim},
                 {&information->ftLastAccessTime, info.st_atim},
                 {&information->ftLastWriteTime, info.st_mtim}};
    for (auto& time : times) {
        unsigned long long ticks = standin::fileTimeOf(time.time);
        time.into->dwLowDateTime = static_cast<DWORD>(ticks);
        time.into->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
    information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
    uint64_t size = static_cast<uint64_t>(info.st_size);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    uint64_t index = static_cast<uint64_t>(info.st_ino);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

namespace {
// FileDispositionInfoEx and its flags (delete; at once, which is how the stand-in always does).
const int dispositionInfoEx = 21;
const DWORD dispositionDelete = 0x1;
const DWORD dispositionPosixSemantics = 0x2;

// Copies a result as the path calls of Windows do: its length when it fits (terminator
// excluded), else the room it needs (terminator included).
DWORD giveText(const std::wstring& text, LPWSTR buffer, DWORD chars) {
    if (buffer == nullptr || chars <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}
} // namespace

extern "C" DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD chars,
                                                  DWORD flags) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return 0;
    }
    if (flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", object->fd());
    std::vector<char> target(PATH_MAX + 1);
    ssize_t length = readlink(link, target.data(), target.size() - 1);
    if (length < 0) {
        SetLastError(standin::errorFromErrno(errno));
        return 0;
    }
    return giveText(standin::fromUtf8(std::string(target.data(), static_cast<size_t>(length))),
                    path, chars);
}

extern "C" DWORD WINAPI GetFullPathNameW(LPCWSTR fileName, DWORD chars, LPWSTR buffer,
                                         LPWSTR* filePart) {
    if (fileName == nullptr || *fileName == L'\0') {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::wstring path = fileName;
    if (path[0] != L'/') {
        std::vector<char> current(PATH_MAX + 1);
        if (getcwd(current.data(), current.size()) == nullptr) {
            SetLastError(standin::errorFromErrno(errno));
            return 0;
        }
        path = standin::fromUtf8(current.data()) + L"/" + path;
    }
    // "." and ".." by the text alone, as Windows does; ".." above the root stays at the root.
    std::vector<std::wstring> parts;
    size_t at = 0;
    while (at < path.size()) {
        size_t end = path.find(L'/', at);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        std::wstring part = path.substr(at, end - at);
        if (part == L"..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::wstring full;
    for (const std::wstring& part : parts) {
        full += L"/" + part;
    }
    if (full.empty() || (path.back() == L'/' && !parts.empty())) {
        full += L"/";
    }
    DWORD result = giveText(full, buffer, chars);
    if (filePart != nullptr && result == full.size()) {
        size_t slash = full.rfind(L'/');
        *filePart = slash + 1 < full.size() ? buffer + slash + 1 : nullptr;
    }
    return result;
}

extern "C" BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                  LPVOID information, DWORD size) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    bool remove = false;
    if (kind == FileDispositionInfo && information != nullptr &&
        size >= sizeof(FILE_DISPOSITION_INFO)) {
        remove = static_cast<FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
    } else if (static_cast<int>(kind) == dispositionInfoEx && information != nullptr &&
               size >= sizeof(DWORD)) {
        DWORD flags = *static_cast<DWORD*>(information);
        if ((flags & ~(dispositionDelete | dispositionPosixSemantics)) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        remove = (flags & dispositionDelete) != 0;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!remove) {
        return TRUE;
    }
    if (object->folderFd() < 0) {
        SetLastError(ERROR_INVALID_PARAMETER); // only handles opened within a folder
        return FALSE;
    }
    // The name goes at once (as with Windows' POSIX semantics), and only while it still names
    // the file of this handle.
    struct stat mine;
    struct stat named;
    if (fstat(object->fd(), &mine) != 0 ||
        fstatat(object->folderFd(), object->name().c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (unlinkat(object->folderFd(), object->name().c_str(),
                 S_ISDIR(mine.st_mode) ? AT_REMOVEDIR : 0) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
