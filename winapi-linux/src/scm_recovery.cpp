// Recovery actions of the stand-in manager. Windows' manager watches every service process; here
// each run of a service that has recovery actions gets a watcher process of its own, which waits
// for the run's process to end, decides whether it failed (it ended without reporting stopped,
// or with the failure-actions flag it stopped with a non-zero exit code), counts the failure
// (the count resets after the reset period without failures), and carries out the action for
// that count: restart after the action's delay, or nothing. Its lines go to <tag>.recovery.
#include "scm_internal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace standin::scm;

namespace {

const char watcherVar[] = "BRONTEL_SCM_RECOVERY";

unsigned long long wallClockMs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000ull +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printf("%llu %s\n", wallClockMs(), line);
    fflush(stdout);
}

// Blocks until the process has ended: its pidfd becomes readable then.
void waitForExit(pid_t pid, unsigned long long startTime) {
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        return; // already gone
    }
    // The id may have been reused before the descriptor was taken.
    if (processAlive(pid, startTime)) {
        pollfd entry = {fd, POLLIN, 0};
        while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
        }
    }
    close(fd);
}

// The failure count after one more failure, with the reset period applied.
unsigned long countFailure(const std::wstring& name, DWORD resetPeriod) {
    std::string path = failuresPath(name);
    unsigned long count = 0;
    unsigned long long last = 0;
    if (FILE* file = fopen(path.c_str(), "re")) {
        if (fscanf(file, "%lu %llu", &count, &last) != 2) {
            count = 0;
        }
        fclose(file);
    }
    unsigned long long now = wallClockMs();
    if (resetPeriod != INFINITE &&
        now - last > static_cast<unsigned long long>(resetPeriod) * 1000) {
        count = 0;
    }
    ++count;
    std::string temp = path + ".tmp";
    if (FILE* file = fopen(temp.c_str(), "we")) {
        fprintf(file, "%lu %llu\n", count, now);
        fclose(file);
        rename(temp.c_str(), path.c_str());
    }
    return count;
}

// Whether the run that `pid` was failed; false also when a newer run has taken over.
bool runFailed(const std::wstring& name, pid_t pid, const FailureSettings& settings,
               SERVICE_STATUS* last) {
    Lock lock;
    Record record;
    if (!readRecord(name, &record)) {
        return false;
    }
    *last = record.status;
    if (record.pid != 0 && record.pid != pid) {
        return false; // started again meanwhile
    }
    if (record.pid == pid) {
        // Ended without reporting stopped: a crash.
        refreshStatus(name, last, nullptr);
        return true;
    }
    if (record.status.dwWin32ExitCode == ERROR_PROCESS_ABORTED) {
        return true; // the crash was noticed by a query first
    }
    return settings.onNonCrashFailures && record.status.dwWin32ExitCode != NO_ERROR;
}

// A run whose root has gone has no manager left to recover it: nothing is read, counted or
// started there, which would make the removed root again.
bool rootLeft(const RootMark& root, const std::string& shown) {
    if (!rootGone(root)) {
        return false;
    }
    say("%s: the root directory %s is gone: no recovery", shown.c_str(),
        standin::rootDirectory().c_str());
    return true;
}

int watch(pid_t pid, unsigned long long startTime, const std::wstring& name) {
    std::string shown = standin::toUtf8(name.c_str());
    RootMark root = markRoot();
    waitForExit(pid, startTime);
    if (rootLeft(root, shown)) {
        return 0;
    }
    FailureSettings settings;
    if (!readFailureActions(name, &settings) || settings.actions.empty()) {
        return 0;
    }
    SERVICE_STATUS last = {};
    if (!runFailed(name, pid, settings, &last)) {
        say("%s: process %d ended, no failure", shown.c_str(), static_cast<int>(pid));
        return 0;
    }
    unsigned long count = countFailure(name, settings.resetPeriod);
    const SC_ACTION& action =
        settings.actions[count < settings.actions.size() ? count - 1 : settings.actions.size() - 1];
    bool restart = action.Type == SC_ACTION_RESTART;
    say("%s: failure %lu (process %d, win32 exit %lu, service exit %lu): %s after %lu ms",
        shown.c_str(), count, static_cast<int>(pid),
        static_cast<unsigned long>(last.dwWin32ExitCode),
        static_cast<unsigned long>(last.dwServiceSpecificExitCode), restart ? "restart" : "none",
        static_cast<unsigned long>(action.Delay));
    if (!restart) {
        return 0;
    }
    // The action's delay is a timer, not a wait for anything.
    timespec delay = {static_cast<time_t>(action.Delay / 1000),
                      static_cast<long>(action.Delay % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
    if (rootLeft(root, shown)) {
        return 0;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name.c_str(), SERVICE_START) : nullptr;
    if (service != nullptr && StartServiceW(service, 0, nullptr)) {
        say("%s: restarted", shown.c_str());
    } else {
        say("%s: restart failed %lu", shown.c_str(), static_cast<unsigned long>(GetLastError()));
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return 0;
}

} // namespace

namespace standin {
namespace scm {

void startRecoveryWatcher(const std::wstring& name, const std::string& program, pid_t pid,
                          unsigned long long startTime) {
    // Everything the child needs is prepared before fork: only async-signal-safe calls follow.
    std::vector<std::string> envStore;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (strncmp(*entry, "BRONTEL_SCM_", 12) != 0) {
            envStore.push_back(*entry);
        }
    }
    envStore.push_back(std::string(watcherVar) + "=" + std::to_string(pid) + " " +
                       std::to_string(startTime) + " " + toUtf8(name.c_str()));
    std::vector<char*> envp;
    for (std::string& entry : envStore) {
        envp.push_back(&entry[0]);
    }
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {&arg0[0], nullptr};
    std::string logPath = recoveryLogPath(name);
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd < 0 || nullFd < 0) {
        if (logFd >= 0)
            close(logFd);
        if (nullFd >= 0)
            close(nullFd);
        return;
    }
    pid_t middle = fork();
    if (middle == 0) {
        // A session of its own, and no parent that has to collect it.
        setsid();
        if (fork() == 0) {
            if (dup2(nullFd, 0) < 0 || dup2(logFd, 1) < 0 || dup2(logFd, 2) < 0) {
                _exit(127);
            }
#ifdef SYS_close_range
            syscall(SYS_close_range, 3, ~0U, 0);
#endif
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        _exit(0);
    }
    close(logFd);
    close(nullFd);
    if (middle > 0) {
        waitpid(middle, nullptr, 0);
    }
}

bool runRecoveryWatcherIfAsked(int* exitCode) {
    const char* value = getenv(watcherVar);
    if (value == nullptr) {
        return false;
    }
    long long pid = 0;
    unsigned long long startTime = 0;
    int consumed = 0;
    if (sscanf(value, "%lld %llu %n", &pid, &startTime, &consumed) < 2 || consumed == 0) {
        *exitCode = 1;
        return true;
    }
    std::wstring name = fromUtf8(value + consumed);
    unsetenv(watcherVar);
    *exitCode = watch(static_cast<pid_t>(pid), startTime, name);
    return true;
}

} // namespace scm
} // namespace standin
