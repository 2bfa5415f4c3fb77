// The native file calls the program uses to stay within a folder it holds: NtCreateFile relative
// to a folder handle (never following a link), renaming through a handle, and their status codes.
#include "file_object.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using standin::fileFromHandle;
using standin::FileObject;

namespace {

NTSTATUS statusFromErrno(int error) {
    switch (error) {
    case ENOENT:
        return STATUS_OBJECT_NAME_NOT_FOUND;
    case EEXIST:
    case ENOTEMPTY:
        return STATUS_OBJECT_NAME_COLLISION;
    case EACCES:
    case EPERM:
        return STATUS_ACCESS_DENIED;
    case ENOTDIR:
        return STATUS_NOT_A_DIRECTORY;
    case EISDIR:
        return STATUS_FILE_IS_A_DIRECTORY;
    case ENOSPC:
    case EDQUOT:
        return STATUS_DISK_FULL;
    case EROFS:
        return STATUS_MEDIA_WRITE_PROTECTED;
    case EXDEV:
        return STATUS_NOT_SAME_DEVICE;
    case ENAMETOOLONG:
        return STATUS_OBJECT_NAME_INVALID;
    case ENOMEM:
        return STATUS_NO_MEMORY;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

// One name within a folder: no separators, not "." or "..".
bool singleName(const wchar_t* text, size_t chars, std::string* name) {
    if (text == nullptr || chars == 0) {
        return false;
    }
    std::wstring wide(text, chars);
    if (wide == L"." || wide == L".." || wide.find(L'/') != std::wstring::npos ||
        wide.find(L'\0') != std::wstring::npos) {
        return false;
    }
    *name = standin::toUtf8(wide.c_str());
    return true;
}

// The permissions of a new file or folder: its owner's alone when the descriptor grants only
// LocalSystem, Administrators and this process's user; -1 for anything else.
int modeFor(PVOID descriptor, bool folder) {
    if (descriptor == nullptr) {
        return folder ? 0777 : 0666; // the umask applies, as for the folder's inherited rights
    }
    std::wstring text = standin::descriptorText(descriptor);
    if (text.compare(0, 3, L"D:P") != 0) {
        return -1;
    }
    std::vector<BYTE> user = standin::userSid(geteuid());
    std::wstring own = standin::sidString(user.data());
    size_t at = 3;
    while (at < text.size()) {
        size_t end = text.find(L')', at);
        if (text[at] != L'(' || end == std::wstring::npos) {
            return -1;
        }
        std::wstring entry = text.substr(at + 1, end - at - 1);
        size_t sidAt = entry.rfind(L';');
        std::wstring sid = sidAt == std::wstring::npos ? L"" : entry.substr(sidAt + 1);
        if (entry.compare(0, 2, L"A;") != 0 ||
            (sid != L"SY" && sid != L"BA" && sid != L"S-1-5-18" && sid != L"S-1-5-32-544" &&
             sid != own)) {
            return -1;
        }
        at = end + 1;
    }
    return folder ? 0700 : 0600;
}

} // namespace

extern "C" NTSTATUS NTAPI NtCreateFile(PHANDLE file, ACCESS_MASK access,
                                       POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                                       PLARGE_INTEGER allocationSize, ULONG fileAttributes,
                                       ULONG shareAccess, ULONG disposition, ULONG options,
                                       PVOID eaBuffer, ULONG eaLength) {
    (void)allocationSize, (void)fileAttributes, (void)shareAccess;
    const ULONG known = FILE_DIRECTORY_FILE | FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                        FILE_SYNCHRONOUS_IO_NONALERT;
    if (file == nullptr || attributes == nullptr || status == nullptr || eaBuffer != nullptr ||
        eaLength != 0 || (options & ~known) != 0 || (options & FILE_OPEN_REPARSE_POINT) == 0 ||
        (disposition != FILE_OPEN && disposition != FILE_CREATE) ||
        attributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    FileObject* folder = fileFromHandle(attributes->RootDirectory);
    if (folder == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    std::string name;
    if (attributes->ObjectName->Length == 0 && disposition == FILE_OPEN) {
        name = "."; // the folder itself, opened anew (as ReOpenFile does)
    } else if (!singleName(attributes->ObjectName->Buffer,
                           attributes->ObjectName->Length / sizeof(wchar_t), &name)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    bool wantFolder = (options & FILE_DIRECTORY_FILE) != 0;
    bool wantFile = (options & FILE_NON_DIRECTORY_FILE) != 0;
    int mode = modeFor(attributes->SecurityDescriptor, wantFolder);
    if (mode < 0 || (wantFolder && wantFile)) {
        return STATUS_INVALID_PARAMETER;
    }
    bool read = (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
    bool write = (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    bool append = (access & FILE_APPEND_DATA) != 0 && !write;
    int dataFlags = (write || append) ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (append) {
        dataFlags |= O_APPEND;
    }
    // Only the attributes, the right to delete or rename, and the security: the descriptor of a
    // path is enough, and opens links as themselves.
    bool metadataOnly = !read && !write && !append && !wantFolder;
    int base = folder->fd();
    int fd = -1;
    ULONG_PTR done = FILE_OPENED;
    if (disposition == FILE_CREATE) {
        if (wantFolder) {
            if (mkdirat(base, name.c_str(), static_cast<mode_t>(mode)) != 0) {
                return statusFromErrno(errno);
            }
            fd = openat(base, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        } else {
            fd = openat(base, name.c_str(),
                        dataFlags | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        static_cast<mode_t>(mode));
        }
        done = FILE_CREATED;
    } else {
        int flags = wantFolder ? O_RDONLY | O_DIRECTORY : dataFlags;
        if (metadataOnly) {
            flags = O_PATH;
        }
        fd = openat(base, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && (errno == ELOOP || (errno == ENOTDIR && wantFolder))) {
            // A link: opened as itself, as FILE_OPEN_REPARSE_POINT asks.
            struct stat info;
            if (fstatat(base, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode)) {
                fd = openat(base, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            } else {
                errno = ENOTDIR;
            }
        }
    }
    if (fd < 0) {
        return statusFromErrno(errno);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return statusFromErrno(error);
    }
    NTSTATUS refused = STATUS_SUCCESS;
    if (wantFile && S_ISDIR(info.st_mode)) {
        refused = STATUS_FILE_IS_A_DIRECTORY;
    } else if (wantFolder && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode)) {
        refused = STATUS_NOT_A_DIRECTORY;
    } else if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode) ||
               S_ISBLK(info.st_mode)) {
        refused = STATUS_ACCESS_DENIED; // no such files on Windows
    }
    if (refused != STATUS_SUCCESS) {
        close(fd);
        return refused;
    }
    if (!metadataOnly && !S_ISLNK(info.st_mode)) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    int folderCopy = fcntl(base, F_DUPFD_CLOEXEC, 0);
    if (folderCopy < 0) {
        int error = errno;
        close(fd);
        return statusFromErrno(error);
    }
    *file = standin::registerHandle(new FileObject(fd, folderCopy, name));
    status->Status = STATUS_SUCCESS;
    status->Information = done;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status,
                                               PVOID information, ULONG length,
                                               FILE_INFORMATION_CLASS kind) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    auto* rename = static_cast<FILE_RENAME_INFORMATION*>(information);
    if (status == nullptr || kind != FileRenameInformation || rename == nullptr ||
        length < sizeof(FILE_RENAME_INFORMATION) ||
        length < offsetof(FILE_RENAME_INFORMATION, FileName) + rename->FileNameLength ||
        object->folderFd() < 0) {
        return STATUS_INVALID_PARAMETER;
    }
    FileObject* target = fileFromHandle(rename->RootDirectory);
    if (target == nullptr) {
        return STATUS_INVALID_PARAMETER; // only renames into a folder given by its handle
    }
    std::string name;
    if (!singleName(rename->FileName, rename->FileNameLength / sizeof(wchar_t), &name)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    // Only while the handle's name still names its file.
    struct stat mine;
    struct stat named;
    if (fstat(object->fd(), &mine) != 0 ||
        fstatat(object->folderFd(), object->name().c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (renameat2(object->folderFd(), object->name().c_str(), target->fd(), name.c_str(),
                  rename->ReplaceIfExists ? 0 : RENAME_NOREPLACE) != 0) {
        return statusFromErrno(errno);
    }
    int folderCopy = fcntl(target->fd(), F_DUPFD_CLOEXEC, 0);
    object->movedTo(folderCopy, name);
    status->Status = STATUS_SUCCESS;
    status->Information = 0;
    return STATUS_SUCCESS;
}

extern "C" ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status) {
    switch (status) {
    case STATUS_SUCCESS:
        return ERROR_SUCCESS;
    case STATUS_OBJECT_NAME_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_PATH_NOT_FOUND:
        return ERROR_PATH_NOT_FOUND;
    case STATUS_OBJECT_NAME_COLLISION:
        return ERROR_ALREADY_EXISTS;
    case STATUS_OBJECT_NAME_INVALID:
        return ERROR_INVALID_NAME;
    case STATUS_ACCESS_DENIED:
    case STATUS_FILE_IS_A_DIRECTORY:
        return ERROR_ACCESS_DENIED;
    case STATUS_NOT_A_DIRECTORY:
        return ERROR_DIRECTORY;
    case STATUS_DISK_FULL:
        return ERROR_DISK_FULL;
    case STATUS_MEDIA_WRITE_PROTECTED:
        return ERROR_WRITE_PROTECT;
    case STATUS_NOT_SAME_DEVICE:
        return ERROR_NOT_SAME_DEVICE;
    case STATUS_INVALID_HANDLE:
        return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case STATUS_NO_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case STATUS_UNSUCCESSFUL:
        return ERROR_GEN_FAILURE;
    default:
        return 317; // ERROR_MR_MID_NOT_FOUND: no Win32 equivalent
    }
}
