// ChangeServiceConfig2W and QueryServiceConfig2W for the three settings the program uses:
// recovery actions, the failure-actions flag and the delayed automatic start. They live in the
// service's key as Windows keeps them there: FailureActions (binary), FailureActionsOnNonCrash-
// Failures and DelayedAutostart (DWORDs).
#include "scm_internal.h"

#include <cstring>
#include <vector>

using namespace standin::scm;

namespace {

bool writeValue(const std::wstring& name, const wchar_t* value, DWORD type, const void* data,
                DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool ok =
        RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool validAction(const SC_ACTION& action) {
    // Rebooting the machine or running a command is never asked for by the program.
    return action.Type == SC_ACTION_NONE || action.Type == SC_ACTION_RESTART;
}

} // namespace

namespace standin {
namespace scm {

bool readFailureActions(const std::wstring& name, FailureSettings* settings) {
    settings->resetPeriod = 0;
    settings->actions.clear();
    settings->onNonCrashFailures =
        readServiceDword(name, L"FailureActionsOnNonCrashFailures", 0) != 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    DWORD type = 0;
    bool ok =
        RegQueryValueExW(key, L"FailureActions", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size >= 8 && size % 8 == 0;
    std::vector<DWORD> data(size / sizeof(DWORD));
    if (ok) {
        ok = RegQueryValueExW(key, L"FailureActions", nullptr, nullptr,
                              reinterpret_cast<LPBYTE>(data.data()), &size) == ERROR_SUCCESS &&
             size == data.size() * sizeof(DWORD) && data[1] == (data.size() - 2) / 2;
    }
    RegCloseKey(key);
    if (!ok) {
        return false;
    }
    settings->resetPeriod = data[0];
    for (DWORD i = 0; i < data[1]; ++i) {
        SC_ACTION action;
        action.Type = static_cast<SC_ACTION_TYPE>(data[2 + 2 * i]);
        action.Delay = data[3 + 2 * i];
        settings->actions.push_back(action);
    }
    return true;
}

} // namespace scm
} // namespace standin

extern "C" BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_CHANGE_CONFIG);
    if (handle == nullptr) {
        return FALSE;
    }
    if (info == nullptr) {
        // Windows leaves the configuration as it is.
        return TRUE;
    }
    Lock lock;
    if (!lock.held()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!serviceExists(handle->name, nullptr) ||
        readServiceDword(handle->name, L"DeleteFlag", 0) != 0) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    bool ok = false;
    if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
        if ((actions->lpRebootMsg != nullptr && *actions->lpRebootMsg != L'\0') ||
            (actions->lpCommand != nullptr && *actions->lpCommand != L'\0') ||
            (actions->cActions > 0 && actions->lpsaActions == nullptr)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (actions->lpsaActions == nullptr) {
            // No array: the actions and the reset period stay as they are.
            return TRUE;
        }
        std::vector<DWORD> data;
        data.push_back(actions->dwResetPeriod);
        data.push_back(actions->cActions);
        for (DWORD i = 0; i < actions->cActions; ++i) {
            const SC_ACTION& action = actions->lpsaActions[i];
            if (!validAction(action)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            if (action.Type == SC_ACTION_RESTART && (handle->access & SERVICE_START) == 0) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            data.push_back(static_cast<DWORD>(action.Type));
            data.push_back(action.Delay);
        }
        ok = writeValue(handle->name, L"FailureActions", REG_BINARY, data.data(),
                        static_cast<DWORD>(data.size() * sizeof(DWORD)));
    } else if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        DWORD flag = static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(info)
                             ->fFailureActionsOnNonCrashFailures
                         ? 1
                         : 0;
        ok = writeValue(handle->name, L"FailureActionsOnNonCrashFailures", REG_DWORD, &flag,
                        sizeof flag);
    } else if (infoLevel == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
        DWORD flag =
            static_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart ? 1 : 0;
        ok = writeValue(handle->name, L"DelayedAutostart", REG_DWORD, &flag, sizeof flag);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ok) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPBYTE buffer,
                                            DWORD bufferSize, LPDWORD bytesNeeded) {
    brontel_sc_handle* handle = checkConfigQuery(service, bytesNeeded);
    if (handle == nullptr) {
        return FALSE;
    }
    DWORD needed = 0;
    FailureSettings settings;
    if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        readFailureActions(handle->name, &settings);
        needed = static_cast<DWORD>(sizeof(SERVICE_FAILURE_ACTIONSW) +
                                    settings.actions.size() * sizeof(SC_ACTION));
    } else if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        needed = sizeof(SERVICE_FAILURE_ACTIONS_FLAG);
    } else if (infoLevel == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
        needed = sizeof(SERVICE_DELAYED_AUTO_START_INFO);
    } else {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *bytesNeeded = needed;
    if (buffer == nullptr || bufferSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memset(buffer, 0, needed);
    if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
        actions->dwResetPeriod = settings.resetPeriod;
        actions->cActions = static_cast<DWORD>(settings.actions.size());
        if (!settings.actions.empty()) {
            // The array follows the structure in the caller's buffer, as Windows lays it out.
            actions->lpsaActions = reinterpret_cast<SC_ACTION*>(buffer + sizeof(*actions));
            memcpy(actions->lpsaActions, settings.actions.data(),
                   settings.actions.size() * sizeof(SC_ACTION));
        }
    } else if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(buffer)->fFailureActionsOnNonCrashFailures =
            settings.onNonCrashFailures ||
            readServiceDword(handle->name, L"FailureActionsOnNonCrashFailures", 0) != 0;
    } else {
        reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(buffer)->fDelayedAutostart =
            readServiceDword(handle->name, L"DelayedAutostart", 0) != 0;
    }
    return TRUE;
}
