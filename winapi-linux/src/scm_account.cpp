// The local user a service runs as. A manager running as root starts a service whose account
// names a local user as that user; before it does, it prepares what the service process must
// write with that user's rights: the shared folders of the manager's state and of the pipes,
// the service's own status record, and the event log, which the service appends to through a
// descriptor it inherits.
#include "scm_internal.h"

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {
namespace scm {

namespace {

// Accounts that keep the starter's identity: Windows' own, and the virtual accounts, which
// have no local user on this machine.
bool builtInAccount(const std::wstring& account) {
    size_t slash = account.rfind(L'\\');
    std::wstring domain = slash == std::wstring::npos ? std::wstring() : account.substr(0, slash);
    std::wstring user = slash == std::wstring::npos ? account : account.substr(slash + 1);
    if (wcscasecmp(domain.c_str(), L"NT AUTHORITY") == 0 ||
        wcscasecmp(domain.c_str(), L"NT SERVICE") == 0) {
        return true;
    }
    const wchar_t* const ownNames[] = {L"LocalSystem", L"LocalService", L"NetworkService"};
    for (const wchar_t* own : ownNames) {
        if ((domain.empty() || domain == L".") && wcscasecmp(user.c_str(), own) == 0) {
            return true;
        }
    }
    return account.empty();
}

// A folder that every service user creates its own files in, as in /tmp: the sticky bit keeps
// each user's files its own.
bool shareFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return chmod(path.c_str(), 01777) == 0;
}

// The local user an account names: the part after the domain when the domain is this
// computer's (or "." or none); another domain's account is no user of this machine.
std::string localUserName(const std::wstring& account) {
    size_t slash = account.rfind(L'\\');
    if (slash == std::wstring::npos) {
        return toUtf8(account.c_str());
    }
    std::wstring domain = account.substr(0, slash);
    wchar_t computer[64];
    DWORD chars = 64;
    if (domain != L"." &&
        (!GetComputerNameW(computer, &chars) || wcscasecmp(domain.c_str(), computer) != 0)) {
        return std::string();
    }
    return toUtf8(account.substr(slash + 1).c_str());
}

} // namespace

ServiceUser resolveServiceUser(const std::wstring& name, std::string* note) {
    ServiceUser user;
    std::wstring account;
    if (!readServiceString(name, L"ObjectName", &account) || builtInAccount(account)) {
        return user;
    }
    std::string userName = localUserName(account);
    const std::string shown =
        "service " + toUtf8(name.c_str()) + ": account " + toUtf8(account.c_str()) + ": ";
    struct passwd* entry = userName.empty() ? nullptr : getpwnam(userName.c_str());
    if (entry == nullptr) {
        *note = shown + "no local user of this name on this machine: the service runs as the "
                        "user who starts it\n";
        return user;
    }
    if (geteuid() != 0) {
        if (entry->pw_uid != geteuid()) {
            *note = shown + "the manager does not run as root: the service runs as the user "
                            "who starts it\n";
        }
        return user;
    }
    if (entry->pw_uid == geteuid()) {
        return user;
    }
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) {
        // The list was too long: `count` now tells how long it is.
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) {
            count = 0;
        }
    }
    groups.resize(static_cast<size_t>(count > 0 ? count : 0));
    if (groups.empty()) {
        groups.push_back(entry->pw_gid);
    }
    user.switchTo = true;
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    user.groups = groups;
    return user;
}

int prepareUserState(const std::wstring& name, DWORD* error) {
    std::string state = stateDirectory();
    if (state.empty() || !shareFolder(state) || !shareFolder(rootDirectory() + "/pipes")) {
        *error = errorFromErrno(errno);
        return -1;
    }
    // A socket left by an earlier run is the manager's, which the service could not replace.
    unlink(socketPath(name).c_str());
    std::string events = rootDirectory() + "/eventlog";
    if (mkdir(events.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = errorFromErrno(errno);
        return -1;
    }
    int fd = open((events + "/Application.jsonl").c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errorFromErrno(errno);
    }
    return fd;
}

bool handOverRecord(const std::wstring& name, const ServiceUser& user) {
    return !user.switchTo || chown(statusPath(name).c_str(), user.uid, user.gid) == 0;
}

int becomeUser(const ServiceUser& user) {
    if (!user.switchTo) {
        return 0;
    }
    if (setgroups(user.groups.size(), user.groups.data()) != 0 || setgid(user.gid) != 0 ||
        setuid(user.uid) != 0) {
        return errno;
    }
    return 0;
}

} // namespace scm
} // namespace standin
