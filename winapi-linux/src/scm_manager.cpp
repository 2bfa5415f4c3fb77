// The stand-in manager's database calls: a service's entry is its registry key, written as
// Windows writes it.
#include "scm_internal.h"

#include <cstring>
#include <cwchar>
#include <pwd.h>
#include <vector>

using namespace standin::scm;

namespace {

// Rights that change something; a caller who cannot write the root is refused them, as a
// non-administrator is on Windows.
const DWORD serviceWriteRights = DELETE | SERVICE_CHANGE_CONFIG | SERVICE_START | SERVICE_STOP |
                                 SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL |
                                 0x00040000L /* WRITE_DAC */ | 0x00080000L /* WRITE_OWNER */;
const DWORD managerWriteRights = SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG |
                                 SC_MANAGER_LOCK | 0x00040000L | 0x00080000L;

bool validServiceName(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        return false;
    }
    size_t length = wcslen(name);
    return length <= maxServiceName && wcschr(name, L'\\') == nullptr &&
           wcschr(name, L'/') == nullptr;
}

bool equalNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z')
            x += L'a' - L'A';
        if (y >= L'A' && y <= L'Z')
            y += L'a' - L'A';
        if (x != y) {
            return false;
        }
    }
    return true;
}

// Whether another service already uses `displayName` as its name or display name.
bool displayNameTaken(const wchar_t* displayName) {
    HKEY services = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, servicesKey, 0, KEY_ENUMERATE_SUB_KEYS, &services) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool taken = false;
    wchar_t name[maxServiceName + 2];
    for (DWORD i = 0; !taken; ++i) {
        DWORD chars = maxServiceName + 2;
        LSTATUS rc = RegEnumKeyExW(services, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            break;
        }
        if (!serviceExists(name, nullptr)) {
            continue;
        }
        std::wstring other;
        taken =
            equalNoCase(name, displayName) ||
            (readServiceString(name, L"DisplayName", &other) && equalNoCase(other, displayName));
    }
    RegCloseKey(services);
    return taken;
}

// Local accounts as Windows names them: "user", ".\\user", "HOST\\user", the built-in ones, or
// the virtual account of the service itself, NT SERVICE\\<its name>.
bool knownAccount(const wchar_t* account, const std::wstring& serviceName) {
    std::wstring text = account;
    const wchar_t* const builtIn[] = {
        L"LocalSystem", L"NT AUTHORITY\\LocalService", L"NT AUTHORITY\\Local Service",
        L"NT AUTHORITY\\NetworkService", L"NT AUTHORITY\\Network Service"};
    for (const wchar_t* known : builtIn) {
        if (equalNoCase(text, known)) {
            return true;
        }
    }
    if (equalNoCase(text, L"NT SERVICE\\" + serviceName)) {
        return true;
    }
    size_t slash = text.rfind(L'\\');
    std::wstring user = slash == std::wstring::npos ? text : text.substr(slash + 1);
    if (user.empty()) {
        return false;
    }
    return getpwnam(standin::toUtf8(user.c_str()).c_str()) != nullptr;
}

LSTATUS setString(HKEY key, const wchar_t* name, DWORD type, const wchar_t* text, size_t chars) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(chars * sizeof(wchar_t)));
}

LSTATUS setDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

} // namespace

extern "C" SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName,
                                           DWORD access) {
    if (machineName != nullptr && *machineName != L'\0') {
        // Only the local machine exists here.
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (databaseName != nullptr && wcscmp(databaseName, SERVICES_ACTIVE_DATABASEW) != 0) {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    DWORD granted = mapManagerAccess(access);
    if ((granted & managerWriteRights) != 0 && !rootWritable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return newHandle(true, granted, std::wstring());
}

extern "C" SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName,
                                           LPCWSTR displayName, DWORD access, DWORD serviceType,
                                           DWORD startType, DWORD errorControl,
                                           LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
                                           LPDWORD tagId, LPCWSTR dependencies,
                                           LPCWSTR serviceStartName, LPCWSTR password) {
    (void)password; // Windows keeps it as a secret of the LSA; nothing here checks it.
    if (checkHandle(manager, true, SC_MANAGER_CREATE_SERVICE) == nullptr) {
        return nullptr;
    }
    if (!validServiceName(serviceName)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    DWORD baseType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
    bool interactive = (serviceType & SERVICE_INTERACTIVE_PROCESS) != 0;
    bool localSystem = serviceStartName == nullptr ||
                       equalNoCase(serviceStartName, L"LocalSystem") ||
                       equalNoCase(serviceStartName, L".\\LocalSystem");
    if ((baseType != SERVICE_WIN32_OWN_PROCESS && baseType != SERVICE_WIN32_SHARE_PROCESS) ||
        startType > SERVICE_DISABLED || startType < SERVICE_AUTO_START ||
        errorControl > SERVICE_ERROR_CRITICAL || binaryPathName == nullptr ||
        *binaryPathName == L'\0' || (interactive && !localSystem) || tagId != nullptr ||
        (loadOrderGroup != nullptr && *loadOrderGroup != L'\0') ||
        (displayName != nullptr && wcslen(displayName) > maxServiceName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!localSystem && !knownAccount(serviceStartName, serviceName)) {
        SetLastError(ERROR_INVALID_SERVICE_ACCOUNT);
        return nullptr;
    }

    Lock lock;
    if (!lock.held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // A stopped service that was marked for deletion goes now; one still running blocks its name.
    if (refreshStatus(serviceName, nullptr, nullptr)) {
        SetLastError(readServiceDword(serviceName, L"DeleteFlag", 0) != 0
                         ? ERROR_SERVICE_MARKED_FOR_DELETE
                         : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    const wchar_t* shownName = displayName != nullptr ? displayName : serviceName;
    if (displayNameTaken(serviceName) || displayNameTaken(shownName)) {
        SetLastError(ERROR_DUPLICATE_SERVICE_NAME);
        return nullptr;
    }
    // A run-time record left from an earlier service of this name does not belong to this one.
    removeServiceFiles(serviceName);

    HKEY key = nullptr;
    LSTATUS rc =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(serviceName).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return nullptr;
    }
    rc = setDword(key, L"Type", serviceType);
    if (rc == ERROR_SUCCESS)
        rc = setDword(key, L"Start", startType);
    if (rc == ERROR_SUCCESS)
        rc = setDword(key, L"ErrorControl", errorControl);
    if (rc == ERROR_SUCCESS) {
        rc =
            setString(key, L"ImagePath", REG_EXPAND_SZ, binaryPathName, wcslen(binaryPathName) + 1);
    }
    if (rc == ERROR_SUCCESS) {
        rc = setString(key, L"DisplayName", REG_SZ, shownName, wcslen(shownName) + 1);
    }
    if (rc == ERROR_SUCCESS && dependencies != nullptr && *dependencies != L'\0') {
        // The list ends at its first empty item.
        std::vector<wchar_t> list;
        for (const wchar_t* item = dependencies; *item != L'\0'; item += wcslen(item) + 1) {
            list.insert(list.end(), item, item + wcslen(item) + 1);
        }
        list.push_back(L'\0');
        rc = setString(key, L"DependOnService", REG_MULTI_SZ, list.data(), list.size());
    }
    if (rc == ERROR_SUCCESS) {
        const wchar_t* account = localSystem ? L"LocalSystem" : serviceStartName;
        rc = setString(key, L"ObjectName", REG_SZ, account, wcslen(account) + 1);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        deleteService(serviceName);
        SetLastError(static_cast<DWORD>(rc));
        return nullptr;
    }
    return newHandle(false, mapServiceAccess(access), serviceName);
}

extern "C" BOOL WINAPI ChangeServiceConfigW(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                            DWORD errorControl, LPCWSTR binaryPathName,
                                            LPCWSTR loadOrderGroup, LPDWORD tagId,
                                            LPCWSTR dependencies, LPCWSTR serviceStartName,
                                            LPCWSTR password, LPCWSTR displayName) {
    (void)password; // as for CreateServiceW: nothing here checks it
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_CHANGE_CONFIG);
    if (handle == nullptr) {
        return FALSE;
    }
    const std::wstring& name = handle->name;
    bool localSystem =
        serviceStartName != nullptr && (equalNoCase(serviceStartName, L"LocalSystem") ||
                                        equalNoCase(serviceStartName, L".\\LocalSystem"));
    DWORD baseType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
    if ((serviceType != SERVICE_NO_CHANGE && baseType != SERVICE_WIN32_OWN_PROCESS &&
         baseType != SERVICE_WIN32_SHARE_PROCESS) ||
        (startType != SERVICE_NO_CHANGE &&
         (startType > SERVICE_DISABLED || startType < SERVICE_AUTO_START)) ||
        (errorControl != SERVICE_NO_CHANGE && errorControl > SERVICE_ERROR_CRITICAL) ||
        (binaryPathName != nullptr && *binaryPathName == L'\0') || tagId != nullptr ||
        (loadOrderGroup != nullptr && *loadOrderGroup != L'\0') ||
        (displayName != nullptr &&
         (*displayName == L'\0' || wcslen(displayName) > maxServiceName))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (serviceStartName != nullptr && !localSystem &&
        !knownAccount(serviceStartName, handle->name)) {
        SetLastError(ERROR_INVALID_SERVICE_ACCOUNT);
        return FALSE;
    }
    Lock lock;
    if (!lock.held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!serviceExists(name, nullptr) || readServiceDword(name, L"DeleteFlag", 0) != 0) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (displayName != nullptr && displayNameTaken(displayName)) {
        // Taken by this service itself is no conflict.
        std::wstring current;
        bool same =
            readServiceString(name, L"DisplayName", &current) && equalNoCase(current, displayName);
        if (!same && !equalNoCase(name, displayName)) {
            SetLastError(ERROR_DUPLICATE_SERVICE_NAME);
            return FALSE;
        }
    }
    HKEY key = nullptr;
    LSTATUS rc =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return FALSE;
    }
    if (rc == ERROR_SUCCESS && serviceType != SERVICE_NO_CHANGE)
        rc = setDword(key, L"Type", serviceType);
    if (rc == ERROR_SUCCESS && startType != SERVICE_NO_CHANGE)
        rc = setDword(key, L"Start", startType);
    if (rc == ERROR_SUCCESS && errorControl != SERVICE_NO_CHANGE)
        rc = setDword(key, L"ErrorControl", errorControl);
    if (rc == ERROR_SUCCESS && binaryPathName != nullptr) {
        rc =
            setString(key, L"ImagePath", REG_EXPAND_SZ, binaryPathName, wcslen(binaryPathName) + 1);
    }
    if (rc == ERROR_SUCCESS && displayName != nullptr) {
        rc = setString(key, L"DisplayName", REG_SZ, displayName, wcslen(displayName) + 1);
    }
    if (rc == ERROR_SUCCESS && dependencies != nullptr) {
        if (*dependencies == L'\0') {
            RegDeleteValueW(key, L"DependOnService");
        } else {
            std::vector<wchar_t> list;
            for (const wchar_t* item = dependencies; *item != L'\0'; item += wcslen(item) + 1) {
                list.insert(list.end(), item, item + wcslen(item) + 1);
            }
            list.push_back(L'\0');
            rc = setString(key, L"DependOnService", REG_MULTI_SZ, list.data(), list.size());
        }
    }
    if (rc == ERROR_SUCCESS && serviceStartName != nullptr) {
        const wchar_t* account = localSystem ? L"LocalSystem" : serviceStartName;
        rc = setString(key, L"ObjectName", REG_SZ, account, wcslen(account) + 1);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return FALSE;
    }
    return TRUE;
}

extern "C" SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
    if (checkHandle(manager, true, SC_MANAGER_CONNECT) == nullptr) {
        return nullptr;
    }
    if (serviceName == nullptr || *serviceName == L'\0' || wcslen(serviceName) > maxServiceName) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    std::wstring spelling;
    {
        Lock lock;
        if (lock.held()) {
            refreshStatus(serviceName, nullptr, nullptr);
        }
        if (!validServiceName(serviceName) || !serviceExists(serviceName, &spelling)) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
    }
    DWORD granted = mapServiceAccess(access);
    if ((granted & serviceWriteRights) != 0 && !rootWritable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return newHandle(false, granted, spelling);
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE service) {
    brontel_sc_handle* handle = checkHandle(service, false, DELETE);
    if (handle == nullptr) {
        return FALSE;
    }
    Lock lock;
    if (!lock.held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    SERVICE_STATUS status;
    if (!refreshStatus(handle->name, &status, nullptr)) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (readServiceDword(handle->name, L"DeleteFlag", 0) != 0) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        deleteService(handle->name);
        return TRUE;
    }
    // Still running: the entry goes when the service stops.
    if (!setServiceDword(handle->name, L"DeleteFlag", 1)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE object) {
    if (!closeHandle(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_QUERY_STATUS);
    if (handle == nullptr) {
        return FALSE;
    }
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER); // Windows: ERROR_INVALID_ADDRESS
        return FALSE;
    }
    Lock lock;
    SERVICE_STATUS current;
    if (lock.held()) {
        refreshStatus(handle->name, &current, nullptr);
    } else {
        // A reader without write access sees the record as published.
        Record record;
        if (!readRecord(handle->name, &record)) {
            current = stoppedStatus(handle->name, ERROR_SERVICE_NEVER_STARTED);
        } else {
            current = record.status;
            if (current.dwCurrentState != SERVICE_STOPPED &&
                !processAlive(record.pid, record.startTime)) {
                current = stoppedStatus(handle->name, ERROR_PROCESS_ABORTED);
            }
        }
    }
    *status = current;
    return TRUE;
}
