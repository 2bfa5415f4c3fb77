// The service side of the stand-in manager: the dispatcher that a started service process
// connects with, its control channel, and the status reports it publishes.
#include "event_log.h"
#include "scm_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

struct brontel_status_handle {
    uint32_t magic;
};

using namespace standin::scm;

namespace {

// How long the dispatcher waits for a connected client to send its control code.
const int clientReadTimeoutMs = 5000;
// How often the dispatcher looks whether its root is still there; once it is gone, how long the
// service has to stop before its process is ended, and the exit code it is ended with.
const int rootCheckMs = 1000;
const unsigned long long rootGoneGraceMs = 30000;
const int rootGoneExitCode = 1;

struct Dispatcher {
    std::mutex lock;
    bool active = false;
    std::wstring name;
    std::wstring argument; // the service main's argv[0]
    LPSERVICE_MAIN_FUNCTIONW serviceMain = nullptr;
    LPHANDLER_FUNCTION handler = nullptr;
    SERVICE_STATUS status = {};
    pid_t pid = 0;
    unsigned long long startTime = 0;
    bool stopped = false;
    int wakeFd = -1;
    RootMark root;
    brontel_status_handle handle = {0x53544148}; // "STAH"
};

Dispatcher& dispatcher() {
    static Dispatcher instance;
    return instance;
}

unsigned long long monotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000ull +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
}

// Lets the dispatcher loop end after the final report. Call with d.lock held.
void endDispatcher(Dispatcher& d) {
    d.stopped = true;
    if (d.wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(d.wakeFd, &one, sizeof one);
        (void)ignored;
    }
}

void* serviceMainThread(void*) {
    Dispatcher& d = dispatcher();
    LPWSTR argv[2] = {&d.argument[0], nullptr};
    d.serviceMain(1, argv);
    return nullptr;
}

// Which controls a service must have accepted to be sent them (INTERROGATE and the
// user-defined ones always reach it).
bool accepts(DWORD controlsAccepted, DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return (controlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return (controlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
    case SERVICE_CONTROL_PARAMCHANGE:
        return (controlsAccepted & SERVICE_ACCEPT_PARAMCHANGE) != 0;
    case SERVICE_CONTROL_NETBINDADD:
    case SERVICE_CONTROL_NETBINDREMOVE:
    case SERVICE_CONTROL_NETBINDENABLE:
    case SERVICE_CONTROL_NETBINDDISABLE:
        return (controlsAccepted & SERVICE_ACCEPT_NETBINDCHANGE) != 0;
    default:
        return true;
    }
}

bool readWithTimeout(int fd, void* data, size_t size, int timeoutMs) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        pollfd entry = {fd, POLLIN, 0};
        int rc = poll(&entry, 1, timeoutMs);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return false;
        }
        ssize_t n = recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Runs one control request: checks it against the service's state as Windows does, calls the
// handler on this (the dispatcher's) thread, and answers with the status it left.
void serveClient(int client) {
    Dispatcher& d = dispatcher();
    DWORD control = 0;
    if (!readWithTimeout(client, &control, sizeof control, clientReadTimeoutMs)) {
        return;
    }
    ControlReply reply = {};
    LPHANDLER_FUNCTION handler = nullptr;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        reply.status = d.status;
        handler = d.handler;
    }
    DWORD state = reply.status.dwCurrentState;
    if (state == SERVICE_STOPPED) {
        reply.error = ERROR_SERVICE_NOT_ACTIVE;
    } else if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
               handler == nullptr) {
        reply.error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else if (!accepts(reply.status.dwControlsAccepted, control)) {
        reply.error = ERROR_INVALID_SERVICE_CONTROL;
    } else {
        handler(control);
        std::lock_guard<std::mutex> guard(d.lock);
        reply.status = d.status;
    }
    send(client, &reply, sizeof reply, MSG_NOSIGNAL);
}

// The root is gone: no manager is left to stop the service, so the dispatcher asks it to stop as
// the manager would (a stop, or a shutdown for a service that takes only that). False while the
// service cannot take a control yet.
bool askToStopForGoneRoot() {
    Dispatcher& d = dispatcher();
    SERVICE_STATUS status;
    LPHANDLER_FUNCTION handler = nullptr;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        status = d.status;
        handler = d.handler;
    }
    DWORD state = status.dwCurrentState;
    if (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING) {
        return true;
    }
    if (handler == nullptr || state == SERVICE_START_PENDING) {
        return false;
    }
    DWORD accepted = status.dwControlsAccepted;
    if ((accepted & SERVICE_ACCEPT_STOP) != 0) {
        handler(SERVICE_CONTROL_STOP);
    } else if ((accepted & SERVICE_ACCEPT_SHUTDOWN) != 0) {
        handler(SERVICE_CONTROL_SHUTDOWN);
    }
    return true;
}

} // namespace

extern "C" BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    if (table == nullptr || table[0].lpServiceName == nullptr ||
        table[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* nameVar = getenv(startServiceVar);
    const char* fdVar = getenv(startFdVar);
    int startFd = fdVar != nullptr ? atoi(fdVar) : -1;
    struct stat info;
    if (nameVar == nullptr || *nameVar == '\0' || startFd < 0 || fstat(startFd, &info) != 0 ||
        !S_ISFIFO(info.st_mode)) {
        // Not started by StartServiceW.
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    Dispatcher& d = dispatcher();
    {
        std::lock_guard<std::mutex> guard(d.lock);
        if (d.active) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        d.active = true;
        d.name = standin::fromUtf8(nameVar);
        d.argument = d.name;
        d.serviceMain = table[0].lpServiceProc;
        d.pid = getpid();
        d.startTime = processStartTime(d.pid);
        d.root = markRoot();
    }
    // Run as its account's user, the service appends events to the log its manager opened.
    const char* eventLogVar = getenv(eventLogFdVar);
    if (eventLogVar != nullptr) {
        int eventLogFd = atoi(eventLogVar);
        if (eventLogFd > 2 && fcntl(eventLogFd, F_SETFD, FD_CLOEXEC) == 0) {
            standin::useEventLogDescriptor(eventLogFd);
        }
    }
    // Children of the service are not services themselves.
    unsetenv(startServiceVar);
    unsetenv(startFdVar);
    unsetenv(eventLogFdVar);

    {
        // The starter publishes the start before it lets go of the lock; reports come after.
        Lock barrier(true);
        Record record;
        std::lock_guard<std::mutex> guard(d.lock);
        if (readRecord(d.name, &record) && record.pid == d.pid) {
            d.status = record.status;
        } else {
            d.status = stoppedStatus(d.name, 0);
            d.status.dwCurrentState = SERVICE_START_PENDING;
        }
    }

    std::string path = socketPath(d.name);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int wake = eventfd(0, EFD_CLOEXEC);
    int error = 0;
    if (listener < 0 || wake < 0) {
        error = errno;
    } else {
        unlink(path.c_str());
        error = bindSocket(listener, path);
        if (error == 0 && listen(listener, 16) != 0) {
            error = errno;
        }
    }
    if (error != 0) {
        if (listener >= 0)
            close(listener);
        if (wake >= 0)
            close(wake);
        close(startFd);
        SetLastError(standin::errorFromErrno(error));
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.wakeFd = wake;
    }
    char connected = 1;
    ssize_t sent;
    do {
        sent = write(startFd, &connected, 1);
    } while (sent < 0 && errno == EINTR);
    close(startFd);

    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&thread, &attributes, serviceMainThread, nullptr);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        close(listener);
        unlink(path.c_str());
        SetLastError(ERROR_SERVICE_NO_THREAD);
        return FALSE;
    }

    const std::string shownName = standin::toUtf8(d.name.c_str());
    bool rootLost = false;
    bool stopAsked = false;
    unsigned long long rootLostAt = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(d.lock);
            if (d.stopped) {
                break;
            }
        }
        if (!rootLost && rootGone(d.root)) {
            rootLost = true;
            rootLostAt = monotonicMs();
            fprintf(stderr, "service %s: the root directory %s is gone: stopping the service\n",
                    shownName.c_str(), standin::rootDirectory().c_str());
        }
        if (rootLost && !stopAsked) {
            stopAsked = askToStopForGoneRoot();
        }
        if (rootLost && monotonicMs() - rootLostAt >= rootGoneGraceMs) {
            fprintf(stderr,
                    "service %s: not stopped %llu ms after its root directory went: ended\n",
                    shownName.c_str(), rootGoneGraceMs);
            fflush(stderr);
            _exit(rootGoneExitCode);
        }
        pollfd entries[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = poll(entries, 2, rootCheckMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (entries[1].revents & POLLIN) {
            uint64_t count;
            ssize_t ignored = read(wake, &count, sizeof count);
            (void)ignored;
        }
        if (entries[0].revents & POLLIN) {
            int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                serveClient(client);
                close(client);
            }
        }
    }
    close(listener);
    unlink(path.c_str());
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.wakeFd = -1;
    }
    close(wake);
    return TRUE;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName,
                                                                    LPHANDLER_FUNCTION handler) {
    Dispatcher& d = dispatcher();
    std::lock_guard<std::mutex> guard(d.lock);
    if (!d.active) {
        // Only a process whose dispatcher runs has a service to register for.
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (serviceName == nullptr || handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A process of its own runs one service: the name is not checked, as on Windows.
    d.handler = handler;
    return &d.handle;
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    Dispatcher& d = dispatcher();
    if (handle != &d.handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr || status->dwCurrentState < SERVICE_STOPPED ||
        status->dwCurrentState > SERVICE_PAUSED) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    bool stopping = status->dwCurrentState == SERVICE_STOPPED;
    RootMark root;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        if (!d.active) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        root = d.root;
    }
    if (rootGone(root)) {
        // Nothing can be recorded: writing the record would make the removed root again. The
        // final report still ends the dispatcher.
        std::lock_guard<std::mutex> guard(d.lock);
        d.status = *status;
        if (stopping) {
            endDispatcher(d);
        }
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The final report also settles a deletion that waited for the stop, so it holds the lock
    // that DeleteService takes.
    Lock lock(true);
    (void)lock;
    std::lock_guard<std::mutex> guard(d.lock);
    if (!d.active) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    d.status = *status;
    Record record;
    record.pid = stopping ? 0 : d.pid;
    record.startTime = stopping ? 0 : d.startTime;
    record.status = d.status;
    if (!writeRecord(d.name, record)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (stopping) {
        if (readServiceDword(d.name, L"DeleteFlag", 0) != 0) {
            deleteService(d.name);
        }
        endDispatcher(d);
    }
    return TRUE;
}
