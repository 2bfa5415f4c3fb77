#include "registry/service_manager.h"

#include "registry/registry.h"
#include "registry/stop_progress.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {
// Sizes are counted in Windows' two-byte characters and converted to bytes with the width of
// wchar_t, so that both builds accept the same values. "ImagePath" and "IBrontelClass" are read
// into 1024 characters whose last one stays zero.
const size_t valueAreaChars = 1024;
const DWORD valueOfferedBytes = (valueAreaChars - 1) * sizeof(wchar_t);
const size_t keyPathChars = 512;

// A service of the local manager opened for `access`, without tracing; empty when either
// cannot be opened.
int openQuietly(CServiceHandle& manager, CServiceHandle& service, const wchar_t* serviceName,
                DWORD access) {
    manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.isOpen()) {
        service.reset(OpenServiceW(manager.get(), serviceName, access));
    }
    return service.isOpen() ? 1 : 0;
}
} // namespace

CServiceManager::CServiceManager(CLogger* logger) : logger(logger) {}

int CServiceManager::open(DWORD access, const wchar_t* failureText) {
    return take(manager, OpenSCManagerW(nullptr, nullptr, access), failureText);
}

int CServiceManager::openService(CServiceHandle& service, const wchar_t* serviceName, DWORD access,
                                 const wchar_t* failureText) {
    return take(service, OpenServiceW(manager.get(), serviceName, access), failureText);
}

int CServiceManager::take(CServiceHandle& into, SC_HANDLE opened, const wchar_t* failureText) {
    // The error first: closing what `into` held may change it.
    DWORD error = opened == nullptr ? GetLastError() : 0;
    into.reset(opened);
    if (opened == nullptr) {
        if (failureText != nullptr) {
            logger->logSystemError(failureText, error);
        }
        return 0;
    }
    return 1;
}

int CServiceManager::stopService(const wchar_t* serviceName) {
    int result = 1;
    logger->logEntry(L"CInstaller::stopService");
    CServiceHandle service;
    if (openService(service, serviceName, GENERIC_READ | GENERIC_EXECUTE,
                    L"Cannot open service for stopping, rc= ")) {
        SERVICE_STATUS status = {};
        DWORD error = askToStop(service.get(), &status);
        CStopProgress progress;
        int gaveUp = 0;
        while (error == 0 && status.dwCurrentState != SERVICE_STOPPED) {
            DWORD wait = progress.nextWait(status);
            if (wait == 0) {
                gaveUp = 1;
                break;
            }
            Sleep(wait);
            error = QueryServiceStatus(service.get(), &status) ? 0 : GetLastError();
        }
        if (error != 0) {
            // A service that was not running counts as stopped.
            if (error != ERROR_SERVICE_NOT_ACTIVE) {
                logger->logSystemError(L"Error stopping service rc = ", error);
                result = 0;
            }
        } else if (gaveUp) {
            wchar_t message[700];
            swprintf(message, 700,
                     L"The service %ls did not stop: it is still in state %ls, %lu seconds "
                     L"after its last progress. Giving up.",
                     serviceName, serviceStateName(status.dwCurrentState),
                     static_cast<unsigned long>(progress.getStalledMs() / 1000));
            logger->logMessage(message);
            result = 0;
        }
    }
    logger->logExit(L"CInstaller::stopService", 0);
    return result;
}

int isBrontelService(const wchar_t* serviceName) {
    if (serviceName == nullptr) {
        return 0;
    }
    wchar_t keyPath[keyPathChars];
    if (swprintf(keyPath, keyPathChars, L"%ls\\%ls", BRONTEL_SERVICES_KEY, serviceName) < 0) {
        // A name this long cannot be a service.
        return 0;
    }
    wchar_t value[valueAreaChars];
    memset(value, 0, sizeof value);
    if (getRegStrValue(HKEY_LOCAL_MACHINE, keyPath, nullptr, L"ImagePath", value,
                       valueOfferedBytes) != nullptr &&
        wcsstr(value, L"brontel") != nullptr) {
        return 1;
    }
    memset(value, 0, sizeof value);
    return getRegStrValue(HKEY_LOCAL_MACHINE, keyPath, BRONTEL_PARAMETERS_SUBKEY,
                          REGVAL_SERVICE_CLASS, value, valueOfferedBytes) != nullptr;
}

int isServiceRunning(const wchar_t* serviceName) {
    CServiceHandle manager;
    CServiceHandle service;
    if (!openQuietly(manager, service, serviceName, SERVICE_QUERY_STATUS)) {
        return 0;
    }
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
}

int isDelayedAutoStart(const wchar_t* serviceName) {
    CServiceHandle manager;
    CServiceHandle service;
    if (!openQuietly(manager, service, serviceName, SERVICE_QUERY_CONFIG)) {
        return 0;
    }
    SERVICE_DELAYED_AUTO_START_INFO info;
    DWORD needed = 0;
    return QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                                reinterpret_cast<LPBYTE>(&info), sizeof info, &needed) &&
           info.fDelayedAutostart != FALSE;
}

DWORD askToStop(SC_HANDLE service, SERVICE_STATUS* status) {
    if (ControlService(service, SERVICE_CONTROL_STOP, status)) {
        return 0;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && QueryServiceStatus(service, status) &&
        status->dwCurrentState == SERVICE_STOP_PENDING) {
        return 0;
    }
    return error;
}
