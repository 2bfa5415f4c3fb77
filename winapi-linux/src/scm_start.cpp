// StartServiceW: starts the service's ImagePath as a detached process in a session of its own
// and returns once its dispatcher has connected.
#include "cmdline.h"
#include "scm_internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace standin::scm;

namespace {

// Descriptor number the service process finds its start pipe on; the one after it reports a
// failed exec and is closed by it; a service run as another user finds the event log after that.
const int startFdNumber = 3;
const int eventLogFdNumber = startFdNumber + 2;

// Everything the child needs, prepared before fork: only async-signal-safe calls follow it.
struct Launch {
    std::string program;
    std::vector<std::string> argStore;
    std::vector<char*> argv;
    std::vector<std::string> envStore;
    std::vector<char*> envp;
    ServiceUser user;
    // The event log for a service run as another user; -1 otherwise.
    int eventLogFd = -1;
};

// The search path a system service finds on a Linux machine.
const char systemPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// Settings of the sanitizer runtimes, which a test machine gives every process it runs; without
// them a checked build of the service would judge the VM's own signals as faults.
const char* const toolVariables[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS",
                                     "LSAN_OPTIONS"};

void putVariable(std::vector<std::string>* entries, const std::string& entry) {
    size_t equals = entry.find('=');
    for (std::string& existing : *entries) {
        if (existing.compare(0, equals + 1, entry, 0, equals + 1) == 0) {
            existing = entry;
            return;
        }
    }
    entries->push_back(entry);
}

// A system's environment, never the starter's.
std::vector<std::string> systemEnvironment() {
    std::vector<std::string> entries;
    entries.push_back(systemPath);
    entries.push_back("BRONTEL_ROOT=" + standin::rootDirectory());
    for (const char* tool : toolVariables) {
        const char* value = getenv(tool);
        if (value != nullptr) {
            entries.push_back(std::string(tool) + "=" + value);
        }
    }
    return entries;
}

// What Windows gives a service process: the system's environment with the service key's
// Environment value (NAME=VALUE strings) on top.
std::vector<std::string> serviceEnvironment(const std::wstring& name) {
    std::vector<std::string> entries = systemEnvironment();
    for (const std::wstring& item : readServiceStrings(name, L"Environment")) {
        size_t equals = item.find(L'=');
        // Windows skips what names no variable.
        if (equals == std::wstring::npos || equals == 0) {
            continue;
        }
        putVariable(&entries, standin::toUtf8(item.c_str()));
    }
    return entries;
}

bool prepareLaunch(const std::wstring& name, const std::wstring& imagePath, Launch* launch,
                   std::string* note, DWORD* error) {
    std::vector<std::wstring> args = standin::splitCommandLine(imagePath.c_str());
    if (args.empty() || args[0].empty()) {
        *error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    launch->program = standin::findProgram(args[0]);
    if (launch->program.empty()) {
        *error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    for (const std::wstring& arg : args) {
        launch->argStore.push_back(standin::toUtf8(arg.c_str()));
    }
    for (std::string& arg : launch->argStore) {
        launch->argv.push_back(&arg[0]);
    }
    launch->argv.push_back(nullptr);
    launch->envStore = serviceEnvironment(name);
    launch->envStore.push_back(std::string(startServiceVar) + "=" + standin::toUtf8(name.c_str()));
    launch->envStore.push_back(std::string(startFdVar) + "=" + std::to_string(startFdNumber));
    launch->user = resolveServiceUser(name, note);
    if (launch->user.switchTo) {
        launch->eventLogFd = prepareUserState(name, error);
        if (launch->eventLogFd < 0) {
            return false;
        }
        launch->envStore.push_back(std::string(eventLogFdVar) + "=" +
                                   std::to_string(eventLogFdNumber));
    }
    for (std::string& entry : launch->envStore) {
        launch->envp.push_back(&entry[0]);
    }
    launch->envp.push_back(nullptr);
    return true;
}

void closeFrom(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0) {
        return;
    }
#endif
    long max = sysconf(_SC_OPEN_MAX);
    for (int fd = first; fd < (max > 0 ? max : 1024); ++fd) {
        close(fd);
    }
}

// Whole messages between the starter and the forked processes: a short one is a failure.
bool writeAll(int fd, const void* data, size_t size) {
    DWORD done = 0;
    return standin::writeAll(
               [fd](const char* bytes, size_t count) { return ::write(fd, bytes, count); }, data,
               static_cast<DWORD>(size), &done, 0) &&
           done == size;
}

bool readAll(int fd, void* data, size_t size) {
    DWORD done = 0;
    return standin::readAll(fd, data, static_cast<DWORD>(size), &done) && done == size;
}

// Forks twice so that the service belongs to no one who could forget to collect it, in a new
// session so that the starter's terminal and signals do not reach it. Returns the service's
// PID, or 0 with `error` set when it could not be started.
pid_t spawnService(const Launch& launch, int startWriteFd, int outputFd, DWORD* error) {
    int pidPipe[2];
    int execPipe[2];
    if (pipe2(pidPipe, O_CLOEXEC) != 0) {
        *error = standin::errorFromErrno(errno);
        return 0;
    }
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        *error = standin::errorFromErrno(errno);
        close(pidPipe[0]);
        close(pidPipe[1]);
        return 0;
    }
    int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t middle = fork();
    if (middle == 0) {
        setsid();
        pid_t service = fork();
        if (service != 0) {
            writeAll(pidPipe[1], &service, sizeof service);
            _exit(0);
        }
        // The service: its descriptors are stdin, the captured output, and the start pipe.
        // Everything is first moved out of the way of the numbers it is to take.
        int execFd = fcntl(execPipe[1], F_DUPFD_CLOEXEC, 10);
        int startFd = fcntl(startWriteFd, F_DUPFD, 10);
        int inFd = nullFd >= 0 ? fcntl(nullFd, F_DUPFD, 10) : -1;
        int outFd = outputFd >= 0 ? fcntl(outputFd, F_DUPFD, 10) : -1;
        int logFd = launch.eventLogFd >= 0 ? fcntl(launch.eventLogFd, F_DUPFD, 10) : -1;
        if (execFd < 0 || startFd < 0 || (inFd >= 0 && dup2(inFd, 0) < 0) ||
            (outFd >= 0 && (dup2(outFd, 1) < 0 || dup2(outFd, 2) < 0)) ||
            dup2(startFd, startFdNumber) < 0 || dup2(execFd, startFdNumber + 1) < 0 ||
            fcntl(startFdNumber + 1, F_SETFD, FD_CLOEXEC) < 0 ||
            (launch.eventLogFd >= 0 && (logFd < 0 || dup2(logFd, eventLogFdNumber) < 0))) {
            int code = errno;
            writeAll(execFd >= 0 ? execFd : execPipe[1], &code, sizeof code);
            _exit(127);
        }
        closeFrom(launch.eventLogFd >= 0 ? eventLogFdNumber + 1 : startFdNumber + 2);
        // Last, with everything it needs already open: a failed switch is a failed logon,
        // told apart from a failed exec by its sign.
        int identityError = becomeUser(launch.user);
        if (identityError != 0) {
            int code = -identityError;
            writeAll(startFdNumber + 1, &code, sizeof code);
            _exit(127);
        }
        execve(launch.program.c_str(), launch.argv.data(), launch.envp.data());
        int code = errno;
        writeAll(startFdNumber + 1, &code, sizeof code);
        _exit(127);
    }
    int forkError = errno;
    close(pidPipe[1]);
    close(execPipe[1]);
    if (nullFd >= 0) {
        close(nullFd);
    }
    if (middle < 0) {
        close(pidPipe[0]);
        close(execPipe[0]);
        *error = standin::errorFromErrno(forkError);
        return 0;
    }
    pid_t service = 0;
    bool gotPid = readAll(pidPipe[0], &service, sizeof service);
    close(pidPipe[0]);
    waitpid(middle, nullptr, 0);
    int execError = 0;
    // End of file means the exec succeeded: the pipe closed with it.
    bool failed = gotPid && readAll(execPipe[0], &execError, sizeof execError);
    close(execPipe[0]);
    if (!gotPid || failed) {
        if (!gotPid) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
        } else if (execError < 0) {
            *error = ERROR_SERVICE_LOGON_FAILED;
        } else if (execError == ENOENT) {
            *error = ERROR_FILE_NOT_FOUND;
        } else if (execError == ENOEXEC) {
            *error = ERROR_BAD_EXE_FORMAT;
        } else {
            *error = standin::errorFromErrno(execError);
        }
        return 0;
    }
    return service;
}

// Waits for the dispatcher's byte on the start pipe: true when it connected.
bool waitForConnect(int readFd, DWORD timeoutMs) {
    pollfd entry = {readFd, POLLIN, 0};
    for (;;) {
        int rc = poll(&entry, 1, timeoutMs > 0x7FFFFFFF ? -1 : static_cast<int>(timeoutMs));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return false;
        }
        char byte = 0;
        ssize_t n = read(readFd, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n == 1;
    }
}

} // namespace

extern "C" BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv) {
    (void)argv;
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_START);
    if (handle == nullptr) {
        return FALSE;
    }
    if (argc != 0) {
        // Start arguments for the service main are never passed by the program.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::wstring name = handle->name;
    int startPipe[2] = {-1, -1};
    pid_t pid = 0;
    unsigned long long startTime = 0;
    std::string program;
    {
        Lock lock;
        if (!lock.held()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        SERVICE_STATUS status;
        if (!refreshStatus(name, &status, nullptr) ||
            readServiceDword(name, L"DeleteFlag", 0) != 0) {
            SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
            return FALSE;
        }
        if (status.dwCurrentState != SERVICE_STOPPED) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        if (readServiceDword(name, L"Start", SERVICE_DEMAND_START) == SERVICE_DISABLED) {
            SetLastError(ERROR_SERVICE_DISABLED);
            return FALSE;
        }
        std::wstring imagePath;
        if (!readServiceString(name, L"ImagePath", &imagePath)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        Launch launch;
        DWORD error = 0;
        std::string note;
        if (!prepareLaunch(name, imagePath, &launch, &note, &error)) {
            SetLastError(error);
            return FALSE;
        }
        program = launch.program;
        if (pipe2(startPipe, O_CLOEXEC) != 0) {
            SetLastError(standin::errorFromErrno(errno));
            if (launch.eventLogFd >= 0) {
                close(launch.eventLogFd);
            }
            return FALSE;
        }
        int outputFd =
            open(outputPath(name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        // Who the service runs as, when it is not the user its account names.
        if (outputFd >= 0 && !note.empty()) {
            writeAll(outputFd, note.data(), note.size());
        }
        pid = spawnService(launch, startPipe[1], outputFd, &error);
        if (outputFd >= 0) {
            close(outputFd);
        }
        if (launch.eventLogFd >= 0) {
            close(launch.eventLogFd);
        }
        close(startPipe[1]);
        if (pid == 0) {
            close(startPipe[0]);
            SetLastError(error);
            return FALSE;
        }
        // Published before the lock is released: the service's own reports wait for the lock,
        // and a second start sees this one.
        Record record;
        record.pid = pid;
        startTime = standin::scm::processStartTime(pid);
        record.startTime = startTime;
        record.status.dwServiceType = readServiceDword(name, L"Type", SERVICE_WIN32_OWN_PROCESS);
        record.status.dwCurrentState = SERVICE_START_PENDING;
        record.status.dwWaitHint = 2000;
        writeRecord(name, record);
        if (!handOverRecord(name, launch.user)) {
            // The service could never report over a record it may not replace: end it now.
            DWORD failed = standin::errorFromErrno(errno);
            kill(pid, SIGKILL);
            close(startPipe[0]);
            Record stopped;
            stopped.status = stoppedStatus(name, failed);
            writeRecord(name, stopped);
            SetLastError(failed);
            return FALSE;
        }
    }

    bool connected = waitForConnect(startPipe[0], pipeTimeoutMs());
    close(startPipe[0]);
    if (connected) {
        FailureSettings settings;
        if (readFailureActions(name, &settings) && !settings.actions.empty()) {
            startRecoveryWatcher(name, program, pid, startTime);
        }
        return TRUE;
    }
    // It never connected: as Windows does, end the process and report the start as timed out.
    if (processAlive(pid, startTime)) {
        kill(pid, SIGKILL);
    }
    {
        Lock lock;
        Record current;
        if (readRecord(name, &current) && current.pid == pid) {
            Record stopped;
            stopped.status = stoppedStatus(name, ERROR_SERVICE_REQUEST_TIMEOUT);
            writeRecord(name, stopped);
        }
        refreshStatus(name, nullptr, nullptr);
    }
    SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
    return FALSE;
}

extern "C" BOOL WINAPI CreateEnvironmentBlock(LPVOID* environment, HANDLE, BOOL inherit) {
    if (environment == nullptr || inherit) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring block;
    for (const std::string& entry : systemEnvironment()) {
        block += standin::fromUtf8(entry);
        block += L'\0';
    }
    block += L'\0';
    wchar_t* copy = static_cast<wchar_t*>(malloc(block.size() * sizeof(wchar_t)));
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    wmemcpy(copy, block.data(), block.size());
    *environment = copy;
    return TRUE;
}

extern "C" BOOL WINAPI DestroyEnvironmentBlock(LPVOID environment) {
    free(environment);
    return TRUE;
}
