// The Local Security Authority: local users from the passwd database with stable identifiers,
// and account rights recorded in the registry (SECURITY\Policy\Accounts\<SID>).
#include "kobject.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <pwd.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

const wchar_t accountsKey[] = L"SECURITY\\Policy\\Accounts";
const uint32_t policyMagic = 0x4c534150; // "LSAP"
const DWORD sidBytes = 8 + 5 * 4;        // revision, count, authority, five sub-authorities

struct Policy {
    uint32_t magic;
    ACCESS_MASK access;
};

std::mutex& policyLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<Policy*>& policies() {
    static std::unordered_set<Policy*> open;
    return open;
}

Policy* findPolicy(LSA_HANDLE handle) {
    std::lock_guard<std::mutex> guard(policyLock());
    auto* policy = static_cast<Policy*>(handle);
    return policies().count(policy) != 0 && policy->magic == policyMagic ? policy : nullptr;
}

bool equalNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (towupper(a[i]) != towupper(b[i])) {
            return false;
        }
    }
    return true;
}

// The computer's name, which is also the domain of its local accounts.
std::wstring computerName() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        wchar_t name[256] = {0};
        DWORD size = sizeof name - sizeof(wchar_t);
        LSTATUS rc = RegQueryValueExW(key, L"ComputerName", nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(name), &size);
        RegCloseKey(key);
        if (rc == ERROR_SUCCESS && name[0] != L'\0') {
            return name;
        }
    }
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        strcpy(host, "localhost");
    }
    for (char* c = host; *c; ++c) {
        *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
    }
    return standin::fromUtf8(host);
}

// S-1-5-21-a-b-c-rid: the machine part from the computer name, the relative part from the
// user id (500 for the administrator, root).
void buildSid(const std::wstring& machine, uid_t uid, BYTE* sid) {
    uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : machine) {
        hash = (hash ^ static_cast<uint32_t>(towupper(c))) * 1099511628211ull;
    }
    DWORD sub[5] = {21, static_cast<DWORD>(hash & 0x7FFFFFFF),
                    static_cast<DWORD>((hash >> 31) & 0x7FFFFFFF),
                    static_cast<DWORD>(0x10000000u + (hash >> 62)),
                    uid == 0 ? 500u : 1000u + static_cast<DWORD>(uid)};
    sid[0] = 1;
    sid[1] = 5;
    const BYTE authority[6] = {0, 0, 0, 0, 0, 5};
    memcpy(sid + 2, authority, 6);
    memcpy(sid + 8, sub, sizeof sub);
}

std::wstring sidText(PSID sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = (authority << 8) | bytes[i];
    }
    wchar_t part[32];
    swprintf(part, 32, L"S-%u-%llu", bytes[0], static_cast<unsigned long long>(authority));
    std::wstring text = part;
    for (BYTE i = 0; i < bytes[1]; ++i) {
        DWORD value;
        memcpy(&value, bytes + 8 + 4 * i, sizeof value);
        swprintf(part, 32, L"-%lu", static_cast<unsigned long>(value));
        text += part;
    }
    return text;
}

bool knownRight(const std::wstring& name) {
    auto endsWith = [&](const wchar_t* suffix) {
        size_t n = wcslen(suffix);
        return name.size() > n && name.compare(name.size() - n, n, suffix) == 0;
    };
    return name.size() > 2 && name.compare(0, 2, L"Se") == 0 &&
           (endsWith(L"Right") || endsWith(L"Privilege"));
}

std::wstring lsaText(const LSA_UNICODE_STRING& text) {
    if (text.Buffer == nullptr) {
        return std::wstring();
    }
    // The length counts bytes of UTF-16 units, two per character.
    return std::wstring(text.Buffer, text.Length / 2);
}

} // namespace

extern "C" BOOL WINAPI IsValidSid(PSID sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return bytes != nullptr && bytes[0] == 1 && bytes[1] <= 15;
}

extern "C" DWORD WINAPI GetLengthSid(PSID sid) {
    return IsValidSid(sid) ? 8u + 4u * static_cast<const BYTE*>(sid)[1] : 0;
}

namespace {

// S-1-5-<sub...>: an identifier of the NT authority.
std::vector<BYTE> ntSid(const std::vector<DWORD>& sub) {
    std::vector<BYTE> sid(8 + 4 * sub.size());
    sid[0] = 1;
    sid[1] = static_cast<BYTE>(sub.size());
    const BYTE authority[6] = {0, 0, 0, 0, 0, 5};
    memcpy(sid.data() + 2, authority, 6);
    memcpy(sid.data() + 8, sub.data(), 4 * sub.size());
    return sid;
}

struct WellKnown {
    const wchar_t* name;
    DWORD rid;
};
// The accounts Windows itself signs services on as, under NT AUTHORITY or alone.
const WellKnown wellKnown[] = {{L"SYSTEM", 18},          {L"LocalSystem", 18},
                               {L"LOCAL SERVICE", 19},   {L"LocalService", 19},
                               {L"NETWORK SERVICE", 20}, {L"NetworkService", 20}};

bool serviceExists(const std::wstring& name) {
    HKEY key = nullptr;
    std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    if (name.empty() || name.find(L'\\') != std::wstring::npos ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// S-1-5-80-a-b-c-d-e: a virtual account's SID, derived from its service's name (upper case)
// as Windows derives it from a digest; here from five independent hashes of it.
std::vector<BYTE> virtualSid(const std::wstring& service) {
    std::vector<DWORD> sub = {80};
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        uint64_t hash = 1469598103934665603ull ^ (seed * 0x9E3779B97F4A7C15ull);
        for (wchar_t c : service) {
            hash = (hash ^ static_cast<uint32_t>(towupper(c))) * 1099511628211ull;
        }
        sub.push_back(static_cast<DWORD>(hash ^ (hash >> 32)));
    }
    return ntSid(sub);
}

// The SID and domain of an account name; false (error set) when none is known by it.
bool resolveAccount(const std::wstring& account, std::vector<BYTE>* sid, std::wstring* domainName,
                    SID_NAME_USE* use) {
    std::wstring machine = computerName();
    size_t slash = account.rfind(L'\\');
    std::wstring user = slash == std::wstring::npos ? account : account.substr(slash + 1);
    std::wstring domain = slash == std::wstring::npos ? std::wstring() : account.substr(0, slash);
    if (domain.empty() || equalNoCase(domain, L"NT AUTHORITY")) {
        for (const WellKnown& known : wellKnown) {
            if (equalNoCase(user, known.name)) {
                *sid = ntSid({known.rid});
                *domainName = L"NT AUTHORITY";
                *use = SidTypeWellKnownGroup;
                return true;
            }
        }
    }
    // A virtual account exists while its service does.
    if (equalNoCase(domain, L"NT SERVICE")) {
        if (!serviceExists(user)) {
            SetLastError(ERROR_NONE_MAPPED);
            return false;
        }
        *sid = virtualSid(user);
        *domainName = L"NT SERVICE";
        *use = SidTypeWellKnownGroup;
        return true;
    }
    if (!domain.empty() && domain != L"." && !equalNoCase(domain, machine)) {
        SetLastError(ERROR_NONE_MAPPED);
        return false;
    }
    struct passwd* entry = user.empty() ? nullptr : getpwnam(standin::toUtf8(user.c_str()).c_str());
    if (entry == nullptr) {
        SetLastError(ERROR_NONE_MAPPED);
        return false;
    }
    sid->assign(sidBytes, 0);
    buildSid(machine, entry->pw_uid, sid->data());
    *domainName = machine;
    *use = SidTypeUser;
    return true;
}

} // namespace

extern "C" BOOL WINAPI LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid,
                                          LPDWORD sidSize, LPWSTR domainName, LPDWORD domainChars,
                                          PSID_NAME_USE use) {
    if (systemName != nullptr && *systemName != L'\0') {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    if (accountName == nullptr || sidSize == nullptr || domainChars == nullptr || use == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> found;
    std::wstring domain;
    SID_NAME_USE kind = SidTypeUser;
    if (!resolveAccount(accountName, &found, &domain, &kind)) {
        return FALSE;
    }
    DWORD neededSid = static_cast<DWORD>(found.size());
    DWORD neededDomain = static_cast<DWORD>(domain.size() + 1);
    if (sid == nullptr || *sidSize < neededSid || domainName == nullptr ||
        *domainChars < neededDomain) {
        *sidSize = neededSid;
        *domainChars = neededDomain;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(sid, found.data(), found.size());
    wmemcpy(domainName, domain.c_str(), domain.size() + 1);
    *sidSize = neededSid;
    *domainChars = neededDomain - 1;
    *use = kind;
    return TRUE;
}

namespace standin {

std::vector<BYTE> userSid(uid_t uid) {
    std::vector<BYTE> sid(sidBytes);
    buildSid(computerName(), uid, sid.data());
    return sid;
}

std::wstring sidString(PSID sid) {
    return sidText(sid);
}

} // namespace standin

extern "C" BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring machine = computerName();
    if (buffer == nullptr || *size <= machine.size()) {
        *size = static_cast<DWORD>(machine.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    wmemcpy(buffer, machine.c_str(), machine.size() + 1);
    *size = static_cast<DWORD>(machine.size());
    return TRUE;
}

extern "C" NTSTATUS NTAPI LsaOpenPolicy(PLSA_UNICODE_STRING systemName,
                                        PLSA_OBJECT_ATTRIBUTES attributes, ACCESS_MASK access,
                                        PLSA_HANDLE policy) {
    if (attributes == nullptr || policy == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (systemName != nullptr && systemName->Length != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    // Changing the policy is for administrators: here, whoever may write the root.
    if (!standin::ensureRootDirectory() || ::access(standin::rootDirectory().c_str(), W_OK) != 0) {
        return STATUS_ACCESS_DENIED;
    }
    auto* opened = new Policy{policyMagic, access};
    std::lock_guard<std::mutex> guard(policyLock());
    policies().insert(opened);
    *policy = opened;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI LsaAddAccountRights(LSA_HANDLE policyHandle, PSID sid,
                                              PLSA_UNICODE_STRING rights, ULONG count) {
    Policy* policy = findPolicy(policyHandle);
    if (policy == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    if (!IsValidSid(sid) || rights == nullptr || count == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if ((policy->access & POLICY_CREATE_ACCOUNT) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!knownRight(lsaText(rights[i]))) {
            return STATUS_NO_SUCH_PRIVILEGE;
        }
    }
    std::wstring path = std::wstring(accountsKey) + L"\\" + sidText(sid);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return STATUS_ACCESS_DENIED;
    }
    NTSTATUS status = STATUS_SUCCESS;
    for (ULONG i = 0; i < count && status == STATUS_SUCCESS; ++i) {
        DWORD granted = 1;
        if (RegSetValueExW(key, lsaText(rights[i]).c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&granted),
                           sizeof granted) != ERROR_SUCCESS) {
            status = STATUS_ACCESS_DENIED;
        }
    }
    RegCloseKey(key);
    return status;
}

extern "C" NTSTATUS NTAPI LsaRemoveAccountRights(LSA_HANDLE policyHandle, PSID sid, BOOL allRights,
                                                 PLSA_UNICODE_STRING rights, ULONG count) {
    if (findPolicy(policyHandle) == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    if (!IsValidSid(sid) || (!allRights && (rights == nullptr || count == 0))) {
        return STATUS_INVALID_PARAMETER;
    }
    std::wstring path = std::wstring(accountsKey) + L"\\" + sidText(sid);
    if (allRights) {
        LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
        return rc == ERROR_SUCCESS          ? STATUS_SUCCESS
               : rc == ERROR_FILE_NOT_FOUND ? STATUS_OBJECT_NAME_NOT_FOUND
                                            : STATUS_ACCESS_DENIED;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    for (ULONG i = 0; i < count; ++i) {
        RegDeleteValueW(key, lsaText(rights[i]).c_str());
    }
    RegCloseKey(key);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI LsaClose(LSA_HANDLE object) {
    std::lock_guard<std::mutex> guard(policyLock());
    auto* policy = static_cast<Policy*>(object);
    if (policies().erase(policy) == 0) {
        return STATUS_INVALID_HANDLE;
    }
    policy->magic = 0;
    delete policy;
    return STATUS_SUCCESS;
}

extern "C" ULONG NTAPI LsaNtStatusToWinError(NTSTATUS status) {
    switch (status) {
    case STATUS_SUCCESS:
        return ERROR_SUCCESS;
    case STATUS_ACCESS_DENIED:
        return ERROR_ACCESS_DENIED;
    case STATUS_INVALID_HANDLE:
        return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case STATUS_NO_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case STATUS_OBJECT_NAME_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    case STATUS_NO_SUCH_PRIVILEGE:
        return ERROR_NO_SUCH_PRIVILEGE;
    default:
        return 317; // ERROR_MR_MID_NOT_FOUND: no Win32 equivalent
    }
}
