// QueryServiceStatusEx and QueryServiceConfigW: the status with its process, and the settings
// CreateServiceW stored in the service's key.
#include "scm_internal.h"

#include <cstring>
#include <vector>

using namespace standin::scm;

namespace {

// A string of the key, or the empty one.
std::wstring keyString(const std::wstring& name, const wchar_t* value) {
    std::wstring text;
    if (!readServiceString(name, value, &text)) {
        text.clear();
    }
    return text;
}

// DependOnService as Windows hands it out: the items, each ended, and an empty one.
std::vector<wchar_t> dependencies(const std::wstring& name) {
    std::vector<wchar_t> list;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        DWORD size = 0;
        DWORD type = 0;
        if (RegQueryValueExW(key, L"DependOnService", nullptr, &type, nullptr, &size) ==
                ERROR_SUCCESS &&
            type == REG_MULTI_SZ && size >= sizeof(wchar_t)) {
            list.resize(size / sizeof(wchar_t));
            if (RegQueryValueExW(key, L"DependOnService", nullptr, nullptr,
                                 reinterpret_cast<LPBYTE>(list.data()), &size) != ERROR_SUCCESS) {
                list.clear();
            }
        }
        RegCloseKey(key);
    }
    while (list.size() >= 2 && list[list.size() - 1] == L'\0' && list[list.size() - 2] == L'\0') {
        list.pop_back();
    }
    if (list.empty() || list.back() != L'\0') {
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

} // namespace

extern "C" BOOL WINAPI QueryServiceStatusEx(SC_HANDLE service, int infoLevel, LPBYTE buffer,
                                            DWORD bufferSize, LPDWORD bytesNeeded) {
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_QUERY_STATUS);
    if (handle == nullptr) {
        return FALSE;
    }
    if (infoLevel != SC_STATUS_PROCESS_INFO) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (bytesNeeded == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER); // Windows: ERROR_INVALID_ADDRESS
        return FALSE;
    }
    *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    if (buffer == nullptr || bufferSize < sizeof(SERVICE_STATUS_PROCESS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    Record record;
    Lock lock;
    if (lock.held()) {
        refreshStatus(handle->name, nullptr, &record);
    } else if (!readRecord(handle->name, &record)) {
        record = Record();
        record.status = stoppedStatus(handle->name, ERROR_SERVICE_NEVER_STARTED);
    } else if (record.status.dwCurrentState != SERVICE_STOPPED &&
               !processAlive(record.pid, record.startTime)) {
        record.status = stoppedStatus(handle->name, ERROR_PROCESS_ABORTED);
        record.pid = 0;
    }
    SERVICE_STATUS_PROCESS out = {};
    out.dwServiceType = record.status.dwServiceType;
    out.dwCurrentState = record.status.dwCurrentState;
    out.dwControlsAccepted = record.status.dwControlsAccepted;
    out.dwWin32ExitCode = record.status.dwWin32ExitCode;
    out.dwServiceSpecificExitCode = record.status.dwServiceSpecificExitCode;
    out.dwCheckPoint = record.status.dwCheckPoint;
    out.dwWaitHint = record.status.dwWaitHint;
    // A stopped service has no process, as on Windows.
    out.dwProcessId =
        record.status.dwCurrentState == SERVICE_STOPPED ? 0 : static_cast<DWORD>(record.pid);
    memcpy(buffer, &out, sizeof out);
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceConfigW(SC_HANDLE service, LPQUERY_SERVICE_CONFIGW config,
                                           DWORD bufferSize, LPDWORD bytesNeeded) {
    brontel_sc_handle* handle = checkConfigQuery(service, bytesNeeded);
    if (handle == nullptr) {
        return FALSE;
    }
    const std::wstring& name = handle->name;
    std::wstring image = keyString(name, L"ImagePath");
    std::wstring group = keyString(name, L"Group");
    std::wstring account = keyString(name, L"ObjectName");
    std::wstring shown = keyString(name, L"DisplayName");
    std::vector<wchar_t> depends = dependencies(name);
    size_t chars = image.size() + 1 + group.size() + 1 + account.size() + 1 + shown.size() + 1 +
                   depends.size();
    size_t needed = sizeof(QUERY_SERVICE_CONFIGW) + chars * sizeof(wchar_t);
    *bytesNeeded = static_cast<DWORD>(needed);
    if (config == nullptr || bufferSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memset(config, 0, needed);
    config->dwServiceType = readServiceDword(name, L"Type", SERVICE_WIN32_OWN_PROCESS);
    config->dwStartType = readServiceDword(name, L"Start", SERVICE_DEMAND_START);
    config->dwErrorControl = readServiceDword(name, L"ErrorControl", SERVICE_ERROR_NORMAL);
    config->dwTagId = 0;
    wchar_t* next = reinterpret_cast<wchar_t*>(reinterpret_cast<LPBYTE>(config) + sizeof(*config));
    auto place = [&next](const wchar_t* text, size_t count) {
        wchar_t* start = next;
        memcpy(start, text, count * sizeof(wchar_t));
        next += count;
        return start;
    };
    config->lpBinaryPathName = place(image.c_str(), image.size() + 1);
    config->lpLoadOrderGroup = place(group.c_str(), group.size() + 1);
    config->lpDependencies = place(depends.data(), depends.size());
    config->lpServiceStartName = place(account.c_str(), account.size() + 1);
    config->lpDisplayName = place(shown.c_str(), shown.size() + 1);
    return TRUE;
}
