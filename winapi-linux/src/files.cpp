// Files over POSIX descriptors, with the dispositions and error codes the program relies on.
#include "file_object.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

KObject* FileObject::duplicate() {
    int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return nullptr;
    }
    int folderCopy = folderFd_ >= 0 ? fcntl(folderFd_, F_DUPFD_CLOEXEC, 0) : -1;
    return new FileObject(copy, folderCopy, name_);
}

BOOL FileObject::read(LPVOID buffer, DWORD toRead, LPDWORD done) {
    return readAll(fd_, buffer, toRead, done);
}

BOOL FileObject::write(LPCVOID buffer, DWORD toWrite, LPDWORD done) {
    int fd = fd_;
    return writeAll([fd](const char* bytes, size_t count) { return ::write(fd, bytes, count); },
                    buffer, toWrite, done, 0);
}

} // namespace standin

using standin::fileFromHandle;
using standin::FileObject;

extern "C" HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE templateFile) {
    (void)shareMode, (void)security, (void)templateFile;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (*fileName == L'\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD pipeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    if (standin::isPipeName(fileName)) {
        // A socket's server can never act as its client: identification is all there is.
        if ((flags & ~(FILE_ATTRIBUTE_NORMAL | pipeFlags)) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        return standin::openPipeClient(fileName, access);
    }
    if ((flags & ~(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                   FILE_FLAG_BACKUP_SEMANTICS)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool folderAllowed = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    bool wantRead = (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
    bool wantWrite = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) != 0;
    bool append = (access & FILE_APPEND_DATA) != 0 && !wantWrite;
    int oflags = O_CLOEXEC;
    if ((wantWrite || append) && wantRead) {
        oflags |= O_RDWR;
    } else if (wantWrite || append) {
        oflags |= O_WRONLY;
    } else {
        oflags |= O_RDONLY;
    }
    if (append) {
        oflags |= O_APPEND;
    }
    if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        oflags |= O_NOFOLLOW;
    }
    switch (disposition) {
    case CREATE_NEW:
        oflags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        oflags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        oflags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        oflags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = standin::toUtf8(fileName);
    bool existed = access == 0 || ::access(path.c_str(), F_OK) == 0;
    // Never block in open: a FIFO would wait for its other end. Windows has no such files; they
    // are refused below, and blocking is switched back on for what is kept.
    int fd = open(path.c_str(), oflags | O_NONBLOCK, 0644);
    if (fd < 0 && errno == ENXIO) {
        errno = EACCES; // a FIFO opened for writing with no reader
    }
    if (fd < 0) {
        int error = errno;
        DWORD code = standin::errorFromErrno(error);
        if (error == EEXIST) {
            code = ERROR_FILE_EXISTS;
        } else if (error == ENOENT) {
            // A missing directory on the way is a path error, as on Windows.
            std::string::size_type slash = path.rfind('/');
            if (slash != std::string::npos && slash > 0 &&
                ::access(path.substr(0, slash).c_str(), F_OK) != 0) {
                code = ERROR_PATH_NOT_FOUND;
            }
        }
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || (S_ISDIR(info.st_mode) && !folderAllowed) ||
        S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        // Windows refuses to open a directory as a file; FIFOs and sockets are not files there.
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    SetLastError((existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS))
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return standin::registerHandle(new FileObject(fd));
}

extern "C" BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                                LPOVERLAPPED overlapped) {
    standin::KObject* object = standin::objectFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (read) {
        *read = 0;
    }
    return overlapped ? object->readOverlapped(buffer, toRead, read, overlapped)
                      : object->read(buffer, toRead, read);
}

extern "C" BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                 LPOVERLAPPED overlapped) {
    (void)overlapped;
    standin::KObject* object = standin::objectFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (written) {
        *written = 0;
    }
    return object->write(buffer, toWrite, written);
}

extern "C" DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    FileObject* object = fileFromHandle(file);
    struct stat info;
    if (object == nullptr) {
        return INVALID_FILE_SIZE;
    }
    if (fstat(object->fd(), &info) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (sizeHigh) {
        *sizeHigh = static_cast<DWORD>(size >> 32);
    } else if (size >> 32) {
        // The size does not fit and the caller gave no room for its high part.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_SIZE;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                       DWORD method) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    if (method > FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t offset =
        distanceHigh
            ? ((static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance))
            : distance;
    off_t position = lseek(object->fd(), offset, whence);
    if (position < 0) {
        // Character devices and pipes cannot seek; Windows reports success at 0 for them.
        if (errno == ESPIPE) {
            return 0;
        }
        SetLastError(standin::errorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) {
        *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE file) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (fdatasync(object->fd()) != 0 && errno != EINVAL && errno != EROFS) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

namespace {
BOOL lockRange(HANDLE file, short type, int command, DWORD bytesLow, DWORD bytesHigh,
               LPOVERLAPPED overlapped) {
    FileObject* object = fileFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t start = (static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset;
    uint64_t length = (static_cast<uint64_t>(bytesHigh) << 32) | bytesLow;
    // off_t is signed: ranges beyond its reach cannot be expressed to the kernel.
    if (length == 0 || start > static_cast<uint64_t>(INT64_MAX) ||
        length > static_cast<uint64_t>(INT64_MAX) - start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(start);
    range.l_len = static_cast<off_t>(length);
    while (fcntl(object->fd(), command, &range) != 0) {
        if (errno == EINTR) {
            continue;
        }
        SetLastError(errno == EAGAIN || errno == EACCES ? ERROR_LOCK_VIOLATION
                                                        : standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
} // namespace

extern "C" BOOL WINAPI LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow,
                                  DWORD bytesHigh, LPOVERLAPPED overlapped) {
    (void)reserved;
    short type = (flags & LOCKFILE_EXCLUSIVE_LOCK) ? F_WRLCK : F_RDLCK;
    int command = (flags & LOCKFILE_FAIL_IMMEDIATELY) ? F_OFD_SETLK : F_OFD_SETLKW;
    return lockRange(file, type, command, bytesLow, bytesHigh, overlapped);
}

extern "C" BOOL WINAPI UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                                    LPOVERLAPPED overlapped) {
    (void)reserved;
    return lockRange(file, F_UNLCK, F_OFD_SETLK, bytesLow, bytesHigh, overlapped);
}

extern "C" BOOL WINAPI DeleteFileW(LPCWSTR fileName) {
    if (fileName == nullptr || unlink(standin::toUtf8(fileName).c_str()) != 0) {
        SetLastError(fileName ? standin::errorFromErrno(errno) : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security) {
    if (pathName == nullptr || security != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mkdir(standin::toUtf8(pathName).c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
