// Processes: CreateProcessW over posix_spawn, with process handles that can be waited on.
#include "cmdline.h"
#include "kobject.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Shared by the process handle, its primary-thread handle and the thread that reaps the child,
// so that closing the handles early neither leaks a zombie nor leaves a dangling pointer.
struct ProcessState {
    std::mutex lock;
    std::condition_variable cv;
    pid_t pid = 0;
    bool done = false;
    bool killed = false;
    DWORD killCode = 0;
    DWORD exitCode = STILL_ACTIVE;

    DWORD wait(DWORD ms) {
        std::unique_lock<std::mutex> guard(lock);
        auto finished = [&] { return done; };
        if (ms == INFINITE) {
            cv.wait(guard, finished);
            return WAIT_OBJECT_0;
        }
        return cv.wait_for(guard, std::chrono::milliseconds(ms), finished) ? WAIT_OBJECT_0
                                                                           : WAIT_TIMEOUT;
    }
};

class ProcessObject : public standin::KObject {
  public:
    ProcessObject(Kind kind, std::shared_ptr<ProcessState> state)
        : KObject(kind), state_(std::move(state)) {}
    DWORD wait(DWORD ms) override { return state_->wait(ms); }
    ProcessState& state() { return *state_; }

  private:
    std::shared_ptr<ProcessState> state_;
};

// Waits for the child and records how it ended. The child is seen as ended (without being
// reaped) first, so TerminateProcess never signals a process id that was already reused.
void reap(std::shared_ptr<ProcessState> state) {
    siginfo_t info{};
    int rc;
    do {
        rc = waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT);
    } while (rc != 0 && errno == EINTR);
    std::lock_guard<std::mutex> guard(state->lock);
    int status = 0;
    if (rc == 0 && waitpid(state->pid, &status, 0) == state->pid) {
        if (state->killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            state->exitCode = state->killCode;
        } else if (WIFEXITED(status)) {
            state->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
        } else {
            // Ended by a signal: the shell's convention.
            state->exitCode = 128u + static_cast<DWORD>(WTERMSIG(status));
        }
    } else {
        // Someone else reaped it (SIGCHLD ignored); how it ended is unknown.
        state->exitCode = state->killed ? state->killCode : 0;
    }
    state->done = true;
    state->cv.notify_all();
}

bool isExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string directoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// Windows' search order for a bare program name: the directory of the running program, the
// current directory, then PATH. A name with a directory part is taken as it is.
// Returns the path, or an empty string with `error` set.
std::string searchProgram(const std::string& name, DWORD& error) {
    error = ERROR_FILE_NOT_FOUND;
    if (name.empty()) {
        return std::string();
    }
    auto check = [&](const std::string& path) {
        if (isExecutableFile(path)) {
            return true;
        }
        if (exists(path)) {
            error = ERROR_ACCESS_DENIED;
        }
        return false;
    };
    if (name.find('/') != std::string::npos) {
        return check(name) ? name : std::string();
    }
    std::vector<std::string> directories;
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        directories.push_back(directoryOf(self));
    }
    directories.push_back(".");
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::string::size_type start = 0;;) {
        std::string::size_type colon = list.find(':', start);
        std::string dir = list.substr(start, colon == std::string::npos ? colon : colon - start);
        directories.push_back(dir.empty() ? std::string(".") : dir);
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    for (const std::string& dir : directories) {
        std::string candidate = dir + "/" + name;
        if (check(candidate)) {
            return candidate;
        }
    }
    return std::string();
}

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The names Windows tries for the program of a command line: the quoted name, or for an
// unquoted one each longer prefix that ends before a blank.
std::vector<std::wstring> programCandidates(const wchar_t* commandLine) {
    std::vector<std::wstring> candidates;
    if (commandLine == nullptr) {
        return candidates;
    }
    const wchar_t* start = commandLine;
    while (isBlank(*start)) {
        ++start;
    }
    if (*start == L'"') {
        const wchar_t* end = wcschr(start + 1, L'"');
        size_t length = end ? static_cast<size_t>(end - start - 1) : wcslen(start + 1);
        candidates.push_back(std::wstring(start + 1, length));
        return candidates;
    }
    // An unquoted name with blanks: each longer prefix that ends before a blank, in turn.
    for (const wchar_t* p = start;; ++p) {
        if (*p == L'\0' || isBlank(*p)) {
            if (p > start) {
                candidates.push_back(std::wstring(start, p));
            }
            if (*p == L'\0') {
                break;
            }
        }
    }
    return candidates;
}

DWORD spawnError(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return standin::errorFromErrno(error);
    }
}

} // namespace

extern "C" BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                      DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                      LPPROCESS_INFORMATION processInformation) {
    (void)processAttributes, (void)threadAttributes;
    const DWORD supportedFlags = CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
    // Inherited handles and custom environments are never asked for by the program.
    if (commandLine == nullptr || startupInfo == nullptr || processInformation == nullptr ||
        inheritHandles || environment != nullptr || (creationFlags & ~supportedFlags) != 0 ||
        (startupInfo->dwFlags & ~static_cast<DWORD>(STARTF_USESHOWWINDOW)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::wstring> args = standin::splitCommandLine(commandLine);
    if (args.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    DWORD error = ERROR_FILE_NOT_FOUND;
    std::string program;
    if (applicationName != nullptr) {
        program = searchProgram(standin::toUtf8(applicationName), error);
    } else {
        for (const std::wstring& candidate : programCandidates(commandLine)) {
            DWORD candidateError = ERROR_FILE_NOT_FOUND;
            program = searchProgram(standin::toUtf8(candidate.c_str()), candidateError);
            if (!program.empty()) {
                break;
            }
            if (candidateError != ERROR_FILE_NOT_FOUND) {
                error = candidateError;
            }
        }
    }
    if (program.empty()) {
        SetLastError(error);
        return FALSE;
    }

    std::vector<std::string> narrow;
    for (const std::wstring& arg : args) {
        narrow.push_back(standin::toUtf8(arg.c_str()));
    }
    std::vector<char*> argv;
    for (std::string& arg : narrow) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    // The child starts with every signal at its default action and none blocked, whatever the
    // parent (a Java VM) has set up.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigemptyset(&all);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP) {
            sigaddset(&all, sig);
        }
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (creationFlags & CREATE_NEW_CONSOLE) {
        // A console of its own: a new session, no input; its output stays on the terminal when
        // there is one, so an operator sees the new window's text, and is dropped otherwise.
        flags |= POSIX_SPAWN_SETSID;
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (!isatty(1)) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        }
        if (!isatty(2)) {
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        }
    } else if (creationFlags & CREATE_NEW_PROCESS_GROUP) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);
    // Handles are not inherited: nothing but the standard streams crosses over.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string directory;
    if (currentDirectory != nullptr) {
        directory = standin::toUtf8(currentDirectory);
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        SetLastError(spawnError(rc));
        return FALSE;
    }

    auto state = std::make_shared<ProcessState>();
    state->pid = pid;
    std::thread(reap, state).detach();
    processInformation->hProcess =
        standin::registerHandle(new ProcessObject(standin::KObject::Process, state));
    processInformation->hThread =
        standin::registerHandle(new ProcessObject(standin::KObject::ProcessThread, state));
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    auto* object = standin::handleAs<ProcessObject>(process, standin::KObject::Process);
    if (object == nullptr || exitCode == nullptr) {
        if (object != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(object->state().lock);
    *exitCode = object->state().exitCode;
    return TRUE;
}

// The pseudo handle Windows gives for the calling process.
extern "C" HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
    if (process == GetCurrentProcess()) {
        // Nothing of the process runs on: no exit handlers, no flushing of C streams.
        _exit(static_cast<int>(exitCode & 0xFF));
    }
    auto* object = standin::handleAs<ProcessObject>(process, standin::KObject::Process);
    if (object == nullptr) {
        return FALSE;
    }
    ProcessState& state = object->state();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.done) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The child is not reaped while the lock is held, so the id is still its own.
    if (!state.killed) {
        state.killed = true;
        state.killCode = exitCode;
        kill(state.pid, SIGKILL);
    }
    return TRUE;
}
