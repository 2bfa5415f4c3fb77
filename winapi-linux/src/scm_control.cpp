// ControlService: delivers a control to the service's dispatcher over its socket and returns
// the status the service had after its handler ran.
#include "scm_internal.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace standin::scm;

namespace {

// The access right a control needs; 0 for a code that ControlService cannot send.
DWORD rightFor(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_PARAMCHANGE:
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
    }
}

SERVICE_STATUS currentStatus(const std::wstring& name) {
    Lock lock;
    SERVICE_STATUS status;
    refreshStatus(name, &status, nullptr);
    return status;
}

BOOL fail(LPSERVICE_STATUS out, const SERVICE_STATUS& status, DWORD error) {
    if (out != nullptr) {
        *out = status;
    }
    SetLastError(error);
    return FALSE;
}

} // namespace

extern "C" BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    DWORD right = rightFor(control);
    if (right == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    brontel_sc_handle* handle = checkHandle(service, false, right);
    if (handle == nullptr) {
        return FALSE;
    }
    const std::wstring name = handle->name;
    SERVICE_STATUS before = currentStatus(name);
    if (before.dwCurrentState == SERVICE_STOPPED) {
        return fail(status, before, ERROR_SERVICE_NOT_ACTIVE);
    }
    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return fail(status, before, standin::errorFromErrno(errno));
    }
    if (connectSocket(sock, socketPath(name)) != 0) {
        close(sock);
        // No dispatcher listens: the process has ended, or has not connected yet.
        SERVICE_STATUS now = currentStatus(name);
        return fail(status, now,
                    now.dwCurrentState == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE
                                                          : ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    }
    ControlReply reply = {};
    bool answered = send(sock, &control, sizeof control, MSG_NOSIGNAL) == sizeof control;
    size_t got = 0;
    DWORD timeout = pipeTimeoutMs();
    while (answered && got < sizeof reply) {
        pollfd entry = {sock, POLLIN, 0};
        int rc = poll(&entry, 1, timeout > 0x7FFFFFFF ? -1 : static_cast<int>(timeout));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            close(sock);
            return fail(status, currentStatus(name), ERROR_SERVICE_REQUEST_TIMEOUT);
        }
        ssize_t n = recv(sock, reinterpret_cast<char*>(&reply) + got, sizeof reply - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            answered = false;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(sock);
    if (!answered) {
        // The service went away while handling the control.
        SERVICE_STATUS now = currentStatus(name);
        if (now.dwCurrentState == SERVICE_STOPPED) {
            if (status != nullptr) {
                *status = now;
            }
            return TRUE;
        }
        return fail(status, now, ERROR_SERVICE_REQUEST_TIMEOUT);
    }
    if (reply.error != 0) {
        return fail(status, reply.status, reply.error);
    }
    if (status != nullptr) {
        *status = reply.status;
    }
    return TRUE;
}
