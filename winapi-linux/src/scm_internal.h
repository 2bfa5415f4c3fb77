// Shared pieces of the stand-in Service Control Manager. There is no daemon: a service's entry
// is its registry key, its run-time status is a small record file under <root>/scm that the
// service process publishes, and controls travel over a Unix socket beside it.
#ifndef BRONTEL_WINAPI_SCM_INTERNAL_H
#define BRONTEL_WINAPI_SCM_INTERNAL_H

#include "kobject.h"

#include <string>
#include <vector>
#include <sys/types.h>

// What an SC_HANDLE points at: the manager itself, or one service by its registry spelling.
struct brontel_sc_handle {
    uint32_t magic;
    bool manager;
    DWORD access;
    std::wstring name;
};

namespace standin {
namespace scm {

const wchar_t servicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
// Environment of a process started by StartServiceW: the service's name, and the descriptor
// on which its dispatcher reports that it has connected.
const char startServiceVar[] = "BRONTEL_SCM_SERVICE";
const char startFdVar[] = "BRONTEL_SCM_START_FD";
// ... and, for a service run as its account's user, the descriptor it appends events to.
const char eventLogFdVar[] = "BRONTEL_SCM_EVENTLOG_FD";
// Longest service name Windows accepts.
const size_t maxServiceName = 256;

// Serializes the state changes of all processes and threads using the same root (flock on
// <root>/scm/lock). `held()` is false when the root cannot be written, except in a running
// service (`runningService`), which may hold the lock by a descriptor open for reading.
class Lock {
  public:
    explicit Lock(bool runningService = false);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_;
};

// <root>/scm, created on demand; empty when it cannot be created.
std::string stateDirectory();
// Per-service files: the status record, the control socket and the captured output.
std::string statusPath(const std::wstring& name);
std::string socketPath(const std::wstring& name);
std::string outputPath(const std::wstring& name);
bool rootWritable();

// The root directory as it was when marked. A service process does not outlive its machine:
// once the root has been removed (or made anew), no manager is left to stop or restart it.
struct RootMark {
    bool valid = false;
    dev_t device = 0;
    ino_t inode = 0;
};
RootMark markRoot();
// True when the marked root no longer exists at its path; also when it could not be marked.
bool rootGone(const RootMark& mark);

// The status a service published, with the process that runs it.
struct Record {
    pid_t pid = 0;
    unsigned long long startTime = 0;
    SERVICE_STATUS status = {};
};
bool readRecord(const std::wstring& name, Record* record);
// Written to a temporary file and renamed, so readers never see half a record.
bool writeRecord(const std::wstring& name, const Record& record);
void removeServiceFiles(const std::wstring& name);
unsigned long long processStartTime(pid_t pid);
bool processAlive(pid_t pid, unsigned long long startTime);

// The local user a service's account stands for, resolved before the manager forks.
struct ServiceUser {
    bool switchTo = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};
// Whom the service runs as: its account's local user (the name's last part) when the manager
// runs as root; else, and for LocalSystem, NT AUTHORITY and NT SERVICE accounts, the starter.
// `note` receives a line for the service's output when a named user cannot be switched to.
ServiceUser resolveServiceUser(const std::wstring& name, std::string* note);
// Before a service starts as another user: shares the state and pipe folders with it and
// removes its socket left from an earlier run. Returns the event log open for appending, which
// the service inherits, or -1 with `error` set.
int prepareUserState(const std::wstring& name, DWORD* error);
// Gives the user the status record the manager wrote for it, which the service replaces.
bool handOverRecord(const std::wstring& name, const ServiceUser& user);
// In the forked child before exec (async-signal-safe): 0 or the errno of the failed step.
int becomeUser(const ServiceUser& user);

// Registry side of a service entry.
std::wstring serviceKeyPath(const std::wstring& name);
// True when the key exists with a service type; `spelling` receives the name as the key spells it.
bool serviceExists(const std::wstring& name, std::wstring* spelling);
DWORD readServiceDword(const std::wstring& name, const wchar_t* value, DWORD defaultValue);
bool readServiceString(const std::wstring& name, const wchar_t* value, std::wstring* text);
// The strings of a REG_MULTI_SZ value of the service key (none when it is missing).
std::vector<std::wstring> readServiceStrings(const std::wstring& name, const wchar_t* value);
bool setServiceDword(const std::wstring& name, const wchar_t* value, DWORD data);
// Removes the key with its subkeys and the run-time files.
void deleteService(const std::wstring& name);

// The service's current status: a process that died is seen as stopped (and recorded so), and
// a service marked for deletion is removed once it has stopped. Call with the lock held.
// False when the service no longer exists (`status` then reads stopped).
bool refreshStatus(const std::wstring& name, SERVICE_STATUS* status, Record* record);
// A stopped status as Windows reports it for a service that never ran or whose process ended.
SERVICE_STATUS stoppedStatus(const std::wstring& name, DWORD win32ExitCode);

// Recovery settings (ChangeServiceConfig2W). False when no actions are stored.
struct FailureSettings {
    DWORD resetPeriod = 0;
    std::vector<SC_ACTION> actions;
    bool onNonCrashFailures = false;
};
bool readFailureActions(const std::wstring& name, FailureSettings* settings);
// The recovery watcher of one run of a service: a process of the service's own program that
// waits for the run to end, counts a failure and carries out its action. Started by
// StartServiceW once the service has connected, when the service has recovery actions.
void startRecoveryWatcher(const std::wstring& name, const std::string& program, pid_t pid,
                          unsigned long long startTime);
// In a program's main(): runs the watcher when the process was started as one (true, with its
// exit code), else returns false at once.
bool runRecoveryWatcherIfAsked(int* exitCode);
// The count of failures and the watcher's log, beside the status record.
std::string failuresPath(const std::wstring& name);
std::string recoveryLogPath(const std::wstring& name);

// How long the manager waits for a service process to connect or answer a control
// (SYSTEM\CurrentControlSet\Control\ServicesPipeTimeout, 30 s by default).
DWORD pipeTimeoutMs();

// Binds or connects a Unix socket to `path`, also when the path is longer than a socket address
// holds (through the directory's descriptor). 0 or an errno value.
int bindSocket(int sock, const std::string& path);
int connectSocket(int sock, const std::string& path);

// Handles: registered while open so that stale or foreign ones are refused.
SC_HANDLE newHandle(bool manager, DWORD access, const std::wstring& name);
// The handle's object when it is open and of the wanted kind (else ERROR_INVALID_HANDLE), and
// grants `access` (else ERROR_ACCESS_DENIED). Sets the last error and returns null on failure.
brontel_sc_handle* checkHandle(SC_HANDLE handle, bool manager, DWORD access);
// A service handle that may query the configuration, and somewhere to say the size needed.
brontel_sc_handle* checkConfigQuery(SC_HANDLE service, LPDWORD bytesNeeded);
bool closeHandle(SC_HANDLE handle);
DWORD mapServiceAccess(DWORD access);
DWORD mapManagerAccess(DWORD access);

// The dispatcher's wire format: the client sends the control code (4 bytes); the service
// answers with an error code and the status after its handler ran.
struct ControlReply {
    DWORD error;
    SERVICE_STATUS status;
};

} // namespace scm
} // namespace standin

#endif
