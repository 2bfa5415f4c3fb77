// Run-time state of stand-in services: the lock, the status records and process liveness.
#include "scm_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace standin {
namespace scm {

namespace {

// File names stay short and safe whatever the service is called: a hash of its name with
// ASCII letters folded, as service names compare.
std::string serviceTag(const std::wstring& name) {
    uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : name) {
        uint32_t folded = static_cast<uint32_t>(c);
        if (folded >= 'A' && folded <= 'Z') {
            folded += 'a' - 'A';
        }
        for (int shift = 0; shift < 32; shift += 8) {
            hash = (hash ^ ((folded >> shift) & 0xFF)) * 1099511628211ull;
        }
    }
    char hex[17];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

std::string servicePath(const std::wstring& name, const char* suffix) {
    std::string dir = stateDirectory();
    return dir.empty() ? std::string() : dir + "/" + serviceTag(name) + suffix;
}

// Fills a socket address for `path`; long paths go through /proc/self/fd of their directory.
int withAddress(int sock, const std::string& path, bool bindIt) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    int dirFd = -1;
    std::string target = path;
    if (target.size() >= sizeof address.sun_path) {
        size_t slash = path.rfind('/');
        dirFd = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            return errno;
        }
        target = "/proc/self/fd/" + std::to_string(dirFd) + path.substr(slash);
        if (target.size() >= sizeof address.sun_path) {
            close(dirFd);
            return ENAMETOOLONG;
        }
    }
    memcpy(address.sun_path, target.c_str(), target.size() + 1);
    int rc = bindIt ? bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address)
                    : connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = rc == 0 ? 0 : errno;
    if (dirFd >= 0) {
        close(dirFd);
    }
    return error;
}

} // namespace

std::string stateDirectory() {
    if (!ensureRootDirectory()) {
        return std::string();
    }
    std::string dir = rootDirectory() + "/scm";
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        return std::string();
    }
    return dir;
}

std::string statusPath(const std::wstring& name) {
    return servicePath(name, ".status");
}
std::string socketPath(const std::wstring& name) {
    return servicePath(name, ".sock");
}
std::string outputPath(const std::wstring& name) {
    return servicePath(name, ".out");
}
std::string failuresPath(const std::wstring& name) {
    return servicePath(name, ".failures");
}
std::string recoveryLogPath(const std::wstring& name) {
    return servicePath(name, ".recovery");
}

bool rootWritable() {
    return ensureRootDirectory() && access(rootDirectory().c_str(), W_OK) == 0;
}

RootMark markRoot() {
    RootMark mark;
    struct stat info;
    if (stat(rootDirectory().c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        mark.valid = true;
        mark.device = info.st_dev;
        mark.inode = info.st_ino;
    }
    return mark;
}

bool rootGone(const RootMark& mark) {
    RootMark now = markRoot();
    return !mark.valid || !now.valid || now.device != mark.device || now.inode != mark.inode;
}

Lock::Lock(bool runningService) : fd_(-1) {
    std::string dir = stateDirectory();
    if (dir.empty()) {
        return;
    }
    std::string path = dir + "/lock";
    int fd = rootWritable() ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : -1;
    // A service run as its account's user cannot write the lock its manager made; flock takes
    // a descriptor open for reading as well.
    if (fd < 0 && runningService) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        return;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return;
        }
    }
    fd_ = fd;
}

Lock::~Lock() {
    if (fd_ >= 0) {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
}

bool readRecord(const std::wstring& name, Record* record) {
    std::string path = statusPath(name);
    FILE* file = path.empty() ? nullptr : fopen(path.c_str(), "re");
    if (file == nullptr) {
        return false;
    }
    long long pid = 0;
    unsigned long long start = 0;
    unsigned long v[7] = {0};
    int fields = fscanf(file, "%lld %llu %lu %lu %lu %lu %lu %lu %lu", &pid, &start, &v[0], &v[1],
                        &v[2], &v[3], &v[4], &v[5], &v[6]);
    fclose(file);
    if (fields != 9) {
        return false;
    }
    record->pid = static_cast<pid_t>(pid);
    record->startTime = start;
    SERVICE_STATUS& s = record->status;
    s.dwServiceType = static_cast<DWORD>(v[0]);
    s.dwCurrentState = static_cast<DWORD>(v[1]);
    s.dwControlsAccepted = static_cast<DWORD>(v[2]);
    s.dwWin32ExitCode = static_cast<DWORD>(v[3]);
    s.dwServiceSpecificExitCode = static_cast<DWORD>(v[4]);
    s.dwCheckPoint = static_cast<DWORD>(v[5]);
    s.dwWaitHint = static_cast<DWORD>(v[6]);
    return true;
}

bool writeRecord(const std::wstring& name, const Record& record) {
    std::string path = statusPath(name);
    if (path.empty()) {
        return false;
    }
    char temp[64];
    snprintf(temp, sizeof temp, ".tmp.%d.%u", static_cast<int>(getpid()), GetCurrentThreadId());
    std::string tempPath = path + temp;
    FILE* file = fopen(tempPath.c_str(), "we");
    if (file == nullptr) {
        return false;
    }
    const SERVICE_STATUS& s = record.status;
    int written = fprintf(
        file, "%lld %llu %lu %lu %lu %lu %lu %lu %lu\n", static_cast<long long>(record.pid),
        record.startTime, static_cast<unsigned long>(s.dwServiceType),
        static_cast<unsigned long>(s.dwCurrentState),
        static_cast<unsigned long>(s.dwControlsAccepted),
        static_cast<unsigned long>(s.dwWin32ExitCode),
        static_cast<unsigned long>(s.dwServiceSpecificExitCode),
        static_cast<unsigned long>(s.dwCheckPoint), static_cast<unsigned long>(s.dwWaitHint));
    bool ok = written > 0 && fflush(file) == 0;
    ok = (fclose(file) == 0) && ok;
    if (!ok || rename(tempPath.c_str(), path.c_str()) != 0) {
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

void removeServiceFiles(const std::wstring& name) {
    std::string status = statusPath(name);
    if (!status.empty()) {
        unlink(status.c_str());
        unlink(socketPath(name).c_str());
        unlink(failuresPath(name).c_str());
    }
}

// Field 22 of /proc/PID/stat: when the process started, so that a reused PID is not mistaken
// for the service. 0 when the process does not exist.
unsigned long long processStartTime(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = fopen(path, "re");
    if (file == nullptr) {
        return 0;
    }
    char line[1024];
    size_t n = fread(line, 1, sizeof line - 1, file);
    fclose(file);
    line[n] = '\0';
    // The command name may hold blanks and parentheses: fields resume after the last ')'.
    char* rest = strrchr(line, ')');
    if (rest == nullptr) {
        return 0;
    }
    char state = 0;
    unsigned long long start = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime cutime
    // cstime priority nice threads itrealvalue starttime
    if (sscanf(rest + 1,
               " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
               &state, &start) != 2) {
        return 0;
    }
    // A zombie has ended; only its parent has not collected it yet.
    if (state == 'Z' || state == 'X' || start == 0) {
        return 0;
    }
    return start;
}

bool processAlive(pid_t pid, unsigned long long startTime) {
    if (pid <= 0) {
        return false;
    }
    unsigned long long now = processStartTime(pid);
    return now != 0 && (startTime == 0 || now == startTime);
}

std::wstring serviceKeyPath(const std::wstring& name) {
    return std::wstring(servicesKey) + L"\\" + name;
}

bool serviceExists(const std::wstring& name, std::wstring* spelling) {
    if (name.empty() || name.find(L'\\') != std::wstring::npos) {
        return false;
    }
    HKEY services = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, servicesKey, 0, KEY_ENUMERATE_SUB_KEYS, &services) !=
        ERROR_SUCCESS) {
        return false;
    }
    HKEY key = nullptr;
    bool found = RegOpenKeyExW(services, name.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
    if (found) {
        // As when Windows loads its database: a key without a service type is no service.
        found = RegQueryValueExW(key, L"Type", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (found) {
        if (spelling != nullptr) {
            *spelling = name;
            // Report the name as it was created, as the manager does.
            wchar_t entry[maxServiceName + 2];
            for (DWORD i = 0;; ++i) {
                DWORD chars = maxServiceName + 2;
                if (RegEnumKeyExW(services, i, entry, &chars, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS) {
                    break;
                }
                if (chars == name.size()) {
                    bool same = true;
                    for (size_t k = 0; k < chars && same; ++k) {
                        wchar_t a = entry[k], b = name[k];
                        if (a >= L'A' && a <= L'Z')
                            a += L'a' - L'A';
                        if (b >= L'A' && b <= L'Z')
                            b += L'a' - L'A';
                        same = a == b;
                    }
                    if (same) {
                        *spelling = std::wstring(entry, chars);
                        break;
                    }
                }
            }
        }
    }
    RegCloseKey(services);
    return found;
}

DWORD readServiceDword(const std::wstring& name, const wchar_t* value, DWORD defaultValue) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return defaultValue;
    }
    DWORD data = defaultValue;
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
        data = defaultValue;
    }
    RegCloseKey(key);
    return data;
}

bool readServiceString(const std::wstring& name, const wchar_t* value, std::wstring* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, value, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        ok = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data[0]),
                              &size) == ERROR_SUCCESS;
        if (ok) {
            data.resize(wcsnlen(data.c_str(), size / sizeof(wchar_t)));
            *text = data;
        }
    }
    RegCloseKey(key);
    return ok;
}

std::vector<std::wstring> readServiceStrings(const std::wstring& name, const wchar_t* value) {
    std::vector<std::wstring> items;
    std::wstring data;
    // The whole value, nulls included: readServiceString stops at the first one.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return items;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, value, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data[0]),
                             &size) != ERROR_SUCCESS) {
            data.clear();
        } else {
            data.resize(size / sizeof(wchar_t));
        }
    }
    RegCloseKey(key);
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(L'\0', start);
        if (end == std::wstring::npos) {
            end = data.size();
        }
        if (end == start) {
            break; // the empty string that ends the list
        }
        items.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool setServiceDword(const std::wstring& name, const wchar_t* value, DWORD data) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool ok = RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof data) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void deleteService(const std::wstring& name) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str());
    removeServiceFiles(name);
}

SERVICE_STATUS stoppedStatus(const std::wstring& name, DWORD win32ExitCode) {
    SERVICE_STATUS status = {};
    status.dwServiceType = readServiceDword(name, L"Type", SERVICE_WIN32_OWN_PROCESS);
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = win32ExitCode;
    return status;
}

bool refreshStatus(const std::wstring& name, SERVICE_STATUS* status, Record* record) {
    Record current;
    bool exists = serviceExists(name, nullptr);
    if (!readRecord(name, &current)) {
        // Never started since it was created.
        current.status = stoppedStatus(name, ERROR_SERVICE_NEVER_STARTED);
    } else if (current.status.dwCurrentState != SERVICE_STOPPED &&
               !processAlive(current.pid, current.startTime)) {
        // The process ended without saying so: stopped, as after a crash.
        current.status = stoppedStatus(name, ERROR_PROCESS_ABORTED);
        current.pid = 0;
        current.startTime = 0;
        if (exists) {
            writeRecord(name, current);
        }
        unlink(socketPath(name).c_str());
    }
    if (exists && current.status.dwCurrentState == SERVICE_STOPPED &&
        readServiceDword(name, L"DeleteFlag", 0) != 0) {
        deleteService(name);
        exists = false;
    }
    if (status != nullptr) {
        *status = current.status;
    }
    if (record != nullptr) {
        *record = current;
    }
    return exists;
}

DWORD pipeTimeoutMs() {
    HKEY key = nullptr;
    DWORD timeout = 30000;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS) {
        DWORD data = 0;
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegQueryValueExW(key, L"ServicesPipeTimeout", nullptr, &type,
                             reinterpret_cast<LPBYTE>(&data), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof data && data > 0) {
            timeout = data;
        }
        RegCloseKey(key);
    }
    return timeout;
}

int bindSocket(int sock, const std::string& path) {
    return withAddress(sock, path, true);
}
int connectSocket(int sock, const std::string& path) {
    return withAddress(sock, path, false);
}

} // namespace scm
} // namespace standin
