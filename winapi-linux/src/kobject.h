// Kernel objects behind HANDLEs in the stand-in: every HANDLE the stand-in returns (other than
// INVALID_HANDLE_VALUE and the process heap) points at one of these.
#ifndef BRONTEL_WINAPI_KOBJECT_H
#define BRONTEL_WINAPI_KOBJECT_H

#include "winapi_linux.h"

#include <cerrno>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace standin {

class KObject {
  public:
    enum Kind {
        File,
        Mutex,
        Event,
        Thread,
        Process,
        ProcessThread,
        Pipe,
        ProcessQuery,
        Token,
        AnonPipe,
        EventLog,
        EventLogReader
    };
    explicit KObject(Kind kind) : kind_(kind) {}
    virtual ~KObject() = default;
    Kind kind() const { return kind_; }
    // WaitForSingleObject on this object; objects that cannot be waited on fail.
    virtual DWORD wait(DWORD milliseconds) {
        (void)milliseconds;
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // ReadFile and WriteFile on this object (files and pipes).
    virtual BOOL read(LPVOID buffer, DWORD toRead, LPDWORD read) {
        (void)buffer, (void)toRead, (void)read;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // ReadFile with an OVERLAPPED record; objects that complete reads later override this.
    virtual BOOL readOverlapped(LPVOID buffer, DWORD toRead, LPDWORD read,
                                LPOVERLAPPED overlapped) {
        (void)overlapped;
        return this->read(buffer, toRead, read);
    }
    virtual BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD written) {
        (void)buffer, (void)toWrite, (void)written;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    // For objects over one descriptor (files, anonymous pipe ends): a new object over a
    // duplicate of it (DuplicateHandle), and the descriptor handed over to the caller, after
    // which the object no longer closes it (_open_osfhandle). Others return null and -1.
    virtual KObject* duplicate() { return nullptr; }
    virtual int detachFd() { return -1; }

  private:
    Kind kind_;
};

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE) when it is not one of
// ours or not of the wanted kind.
KObject* objectFromHandle(HANDLE handle);
template <class T> T* handleAs(HANDLE handle, KObject::Kind kind) {
    KObject* object = objectFromHandle(handle);
    if (object == nullptr || object->kind() != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<T*>(object);
}
HANDLE registerHandle(KObject* object);
// Removes the handle from the table and returns its object (the caller deletes it).
KObject* unregisterHandle(HANDLE handle);

// Text helpers shared by the stand-in's pieces.
std::string toUtf8(const wchar_t* text);
std::string toUtf8(const wchar_t* text, size_t length);
std::wstring fromUtf8(const std::string& text);

// errno to the Windows error code the program would see.
DWORD errorFromErrno(int error);

// WriteFile's whole-buffer loop over a descriptor: writeSome(bytes, count) is write(2) or
// send(2). Retries on EINTR; on failure reports what was written and sets `failure`, or the
// errno's code when `failure` is 0.
template <class WriteSome>
BOOL writeAll(WriteSome writeSome, LPCVOID buffer, DWORD toWrite, LPDWORD done, DWORD failure) {
    DWORD total = 0;
    BOOL ok = TRUE;
    while (total < toWrite) {
        ssize_t n = writeSome(static_cast<const char*>(buffer) + total, toWrite - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            SetLastError(failure != 0 ? failure : errorFromErrno(errno));
            ok = FALSE;
            break;
        }
        total += static_cast<DWORD>(n);
    }
    if (done) {
        *done = total;
    }
    return ok;
}

// ReadFile's loop over a descriptor: reads until `toRead` bytes have come or the other end is
// closed, retrying on EINTR. On failure reports what was read and sets errno's code.
inline BOOL readAll(int fd, LPVOID buffer, DWORD toRead, LPDWORD done) {
    DWORD total = 0;
    BOOL ok = TRUE;
    while (total < toRead) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + total, toRead - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            SetLastError(errorFromErrno(errno));
            ok = FALSE;
            break;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<DWORD>(n);
    }
    if (done) {
        *done = total;
    }
    return ok;
}

// The root directory under which all system-wide state lives ($BRONTEL_ROOT, else
// $XDG_STATE_HOME/brontel, else ~/.local/state/brontel). Created on first use when possible.
const std::string& rootDirectory();
// Creates the root directory (and parents) if missing; false when that is impossible.
bool ensureRootDirectory();

// Pipe names map to socket paths under the root (long names hashed to fit).
// Returns an empty string when `name` is not of the form \\.\pipe\NAME.
std::string pipeSocketBase(const wchar_t* name);
// A client open of a pipe; used by CreateFileW.
HANDLE openPipeClient(const wchar_t* name, DWORD access);
bool isPipeName(const wchar_t* name);

// The identifier of a local user, as LookupAccountNameW gives it, and a SID in text form.
std::vector<BYTE> userSid(uid_t uid);
std::wstring sidString(PSID sid);
// Whether a descriptor came from ConvertStringSecurityDescriptorToSecurityDescriptorW.
bool isSecurityDescriptor(const void* descriptor);
// The DACL text of such a descriptor (empty for anything else), and the descriptor of a text
// written into a caller's buffer: the bytes it takes, copied only when they fit.
std::wstring descriptorText(const void* descriptor);
DWORD writeDescriptor(const std::wstring& text, void* buffer, DWORD size);

} // namespace standin

#endif
