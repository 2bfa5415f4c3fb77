// Anonymous pipes over pipe(2), handle duplication, and the C runtime's descriptor calls that
// take a handle over: what a process needs to point its standard output somewhere else.
#include "kobject.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

class AnonPipeEnd : public standin::KObject {
  public:
    explicit AnonPipeEnd(int fd) : KObject(AnonPipe), fd_(fd) {}
    ~AnonPipeEnd() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    // One read(2): a pipe's reader takes what is there rather than waiting for a full buffer.
    BOOL read(LPVOID buffer, DWORD toRead, LPDWORD done) override {
        ssize_t n;
        do {
            n = ::read(fd_, buffer, toRead);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            SetLastError(standin::errorFromErrno(errno));
            return FALSE;
        }
        if (done) {
            *done = static_cast<DWORD>(n);
        }
        if (n == 0 && toRead > 0) {
            // Every write end is closed.
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        return TRUE;
    }

    BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD done) override {
        int fd = fd_;
        return standin::writeAll(
            [fd](const char* bytes, size_t count) { return ::write(fd, bytes, count); }, buffer,
            toWrite, done, 0);
    }

    KObject* duplicate() override {
        int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        return copy < 0 ? nullptr : new AnonPipeEnd(copy);
    }
    int detachFd() override {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// The pseudo handle of the current process; never in the handle table.
HANDLE const currentProcess =
    reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); // GetCurrentProcess()

} // namespace

extern "C" BOOL WINAPI CreatePipe(PHANDLE readPipe, PHANDLE writePipe,
                                  LPSECURITY_ATTRIBUTES security, DWORD size) {
    (void)security, (void)size;
    if (readPipe == nullptr || writePipe == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    *readPipe = standin::registerHandle(new AnonPipeEnd(fds[0]));
    *writePipe = standin::registerHandle(new AnonPipeEnd(fds[1]));
    return TRUE;
}

extern "C" BOOL WINAPI DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                       LPHANDLE target, DWORD access, BOOL inherit, DWORD options) {
    (void)access, (void)inherit;
    if (sourceProcess != currentProcess || targetProcess != currentProcess || target == nullptr ||
        (options & ~(DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    standin::KObject* object = standin::objectFromHandle(source);
    if (object == nullptr) {
        return FALSE;
    }
    standin::KObject* copy = object->duplicate();
    if (copy == nullptr) {
        SetLastError(errno == EMFILE ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *target = standin::registerHandle(copy);
    if (options & DUPLICATE_CLOSE_SOURCE) {
        CloseHandle(source);
    }
    return TRUE;
}

extern "C" int _open_osfhandle(intptr_t handle, int flags) {
    (void)flags;
    standin::KObject* object = standin::objectFromHandle(reinterpret_cast<HANDLE>(handle));
    if (object == nullptr) {
        errno = EBADF;
        return -1;
    }
    int fd = object->detachFd();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    // The handle ends here, as on Windows once the descriptor is closed.
    delete standin::unregisterHandle(reinterpret_cast<HANDLE>(handle));
    return fd;
}

extern "C" int _dup(int fd) {
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

extern "C" int _dup2(int from, int to) {
    int rc;
    do {
        rc = dup2(from, to);
    } while (rc < 0 && errno == EINTR);
    // The C runtime's _dup2 answers 0 on success.
    return rc < 0 ? -1 : 0;
}

extern "C" int _close(int fd) {
    return close(fd);
}

extern "C" int _fileno(FILE* stream) {
    return fileno(stream);
}

extern "C" int _isatty(int fd) {
    return isatty(fd);
}

extern "C" FILE* _fdopen(int fd, const char* mode) {
    return fdopen(fd, mode);
}
