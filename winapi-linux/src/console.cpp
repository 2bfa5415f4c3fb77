// Console control events from signals: SIGINT is Ctrl+C, SIGQUIT Ctrl+Break, SIGHUP the closing
// of the console, SIGTERM a shutdown.
//
// The signal handler only writes the signal's number into a pipe. A dispatcher thread reads it
// and, as Windows does, runs the registered handlers on a new thread per event, newest first.
// When none of them handles the event, the action that was installed for the signal before the
// first registration runs there: the Java VM's own handler (which only notes the signal for the
// VM's signal thread), or the default action, which ends the process by that signal.
// A signal the process raises itself (the C library's raise(), as the Java VM does to dump its
// threads) is no console event, as on Windows: it goes straight to that earlier action.
#include "kobject.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Mapping {
    int signal;
    DWORD event;
};
const Mapping mappings[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};
const size_t mappingCount = sizeof mappings / sizeof mappings[0];

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}
std::vector<PHANDLER_ROUTINE> handlers;
bool ignoreCtrlC = false;
bool hooked = false;
int eventPipe[2] = {-1, -1};
struct sigaction previousActions[mappingCount];

const unsigned char raisedFlag = 0x80;

void onSignal(int sig, siginfo_t* info, void*) {
    int saved = errno;
    unsigned char number = static_cast<unsigned char>(sig);
    if (info != nullptr && info->si_code == SI_TKILL && info->si_pid == getpid()) {
        number |= raisedFlag;
    }
    // The pipe never blocks: should it ever be full, the event is dropped rather than the
    // interrupted thread held.
    ssize_t ignored = write(eventPipe[1], &number, 1);
    (void)ignored;
    errno = saved;
}

// The action that was in place before the handlers were hooked in.
void runPreviousAction(size_t index) {
    const struct sigaction& previous = previousActions[index];
    int sig = mappings[index].signal;
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction != nullptr) {
            siginfo_t info{};
            info.si_signo = sig;
            info.si_code = SI_USER;
            info.si_pid = getpid();
            info.si_uid = getuid();
            previous.sa_sigaction(sig, &info, nullptr);
        }
        return;
    }
    if (previous.sa_handler == SIG_IGN) {
        return;
    }
    if (previous.sa_handler != SIG_DFL) {
        previous.sa_handler(sig);
        return;
    }
    // The default action: end the process by the signal itself, as an unhooked process would.
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig);
}

void runHandlers(size_t index, bool raised) {
    if (raised) {
        runPreviousAction(index);
        return;
    }
    DWORD event = mappings[index].event;
    std::vector<PHANDLER_ROUTINE> snapshot;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        if (event == CTRL_C_EVENT && ignoreCtrlC) {
            return;
        }
        snapshot = handlers;
    }
    for (auto handler = snapshot.rbegin(); handler != snapshot.rend(); ++handler) {
        if ((*handler)(event)) {
            return;
        }
    }
    runPreviousAction(index);
}

void dispatch() {
    for (;;) {
        unsigned char number;
        ssize_t n = read(eventPipe[0], &number, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n != 1) {
            return;
        }
        bool raised = (number & raisedFlag) != 0;
        int sig = number & ~raisedFlag;
        for (size_t index = 0; index < mappingCount; ++index) {
            if (mappings[index].signal == sig) {
                std::thread(runHandlers, index, raised).detach();
            }
        }
    }
}

// Called with the registry lock held.
bool hookSignals() {
    if (hooked) {
        return true;
    }
    if (pipe2(eventPipe, O_CLOEXEC) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return false;
    }
    fcntl(eventPipe[1], F_SETFL, fcntl(eventPipe[1], F_GETFL) | O_NONBLOCK);
    std::thread(dispatch).detach();
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (size_t index = 0; index < mappingCount; ++index) {
        sigaction(mappings[index].signal, &action, &previousActions[index]);
    }
    hooked = true;
    return true;
}

} // namespace

extern "C" BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    std::lock_guard<std::mutex> guard(registryLock());
    if (add && !hookSignals()) {
        return FALSE;
    }
    if (handler == nullptr) {
        ignoreCtrlC = add != FALSE;
        return TRUE;
    }
    if (add) {
        handlers.push_back(handler);
        return TRUE;
    }
    for (auto found = handlers.rbegin(); found != handlers.rend(); ++found) {
        if (*found == handler) {
            handlers.erase(std::next(found).base());
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

extern "C" BOOL WINAPI GenerateConsoleCtrlEvent(DWORD ctrlEvent, DWORD processGroupId) {
    int sig;
    if (ctrlEvent == CTRL_C_EVENT) {
        sig = SIGINT;
    } else if (ctrlEvent == CTRL_BREAK_EVENT) {
        sig = SIGQUIT;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Group 0 is every process that shares the console: here, the caller's process group.
    pid_t target = processGroupId == 0 ? 0 : -static_cast<pid_t>(processGroupId);
    if (kill(target, sig) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
