// Removal (-u, -r): stops a service that this program installed and deletes it.
#include "install/installer.h"

#include "app/service_list.h"
#include "install/capture_install.h"
#include "install/stop_progress.h"
#include "settings/config_keys.h"

#include <wchar.h>

int CInstaller::uninstall() {
    logger->logEntry(L"CInstaller::uninstall");
    int result = 0;
    CConfigFile* config = nullptr;
    const wchar_t* serviceName = params->getServiceName();
    if (serviceName == nullptr) {
        if (params->getConfigFileName() != nullptr) {
            config = new CConfigFile(logger);
            result =
                config->parseConfigFile(params->getConfigFileName(), params->isConfigFileUnicode());
            if (result == 0) {
                serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
            }
        } else {
            logger->logMessage(L"Uninstall requires a config file name or service name.");
            result = 10;
        }
    }

    if (result == 0 && serviceName != nullptr) {
        if (!isBrontelService(serviceName)) {
            logger->logMessage(L"The service ", serviceName,
                               L" is not a service created by Brontel.  Therefore it will not be "
                               L"removed.");
            result = 11;
        } else {
            SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, GENERIC_WRITE | GENERIC_EXECUTE);
            if (manager == nullptr) {
                DWORD error = GetLastError();
                logger->logMessage(L"Cannot open the service control manager.", error);
                logger->logSystemError(error);
                // Nothing was removed: say so in the exit code too.
                result = 8;
            } else {
                if (!stopService(manager, serviceName)) {
                    result = BRONTEL_RESULT_STOP_FAILED;
                } else {
                    SC_HANDLE service = OpenServiceW(manager, serviceName, DELETE);
                    if (service == nullptr) {
                        DWORD error = GetLastError();
                        logger->logMessage(L"Cannot open service for deletion.", error);
                        logger->logSystemError(error);
                        result = BRONTEL_RESULT_DELETE_FAILED;
                    } else {
                        if (DeleteService(service)) {
                            logger->logMessage(L"Service ", serviceName, L" deleted successfully.");
                            unregisterEventSource(serviceName, logger);
                        } else {
                            DWORD error = GetLastError();
                            logger->logMessage(L"Cannot delete service.", error);
                            logger->logSystemError(error);
                            result = BRONTEL_RESULT_DELETE_FAILED;
                        }
                        CloseServiceHandle(service);
                    }
                }
                CloseServiceHandle(manager);
            }
        }
    }

    delete config;
    logger->logExit(L"CInstaller::uninstall", result);
    return result;
}

int CInstaller::stopService(SC_HANDLE scManager, const wchar_t* serviceName) {
    int result = 1;
    logger->logEntry(L"CInstaller::stopService");
    SC_HANDLE service = OpenServiceW(scManager, serviceName, GENERIC_READ | GENERIC_EXECUTE);
    if (service == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot open service for stopping, rc= ", error);
        logger->logSystemError(error);
    } else {
        SERVICE_STATUS status = {};
        BOOL ok = ControlService(service, SERVICE_CONTROL_STOP, &status);
        CStopProgress progress;
        int gaveUp = 0;
        while (ok && status.dwCurrentState != SERVICE_STOPPED) {
            DWORD wait = progress.nextWait(status);
            if (wait == 0) {
                gaveUp = 1;
                break;
            }
            Sleep(wait);
            ok = QueryServiceStatus(service, &status);
        }
        if (!ok) {
            DWORD error = GetLastError();
            // A service that was not running counts as stopped.
            if (error != ERROR_SERVICE_NOT_ACTIVE) {
                logger->logMessage(L"Error stopping service rc = ", error);
                logger->logSystemError(error);
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
        CloseServiceHandle(service);
    }
    logger->logExit(L"CInstaller::stopService", 0);
    return result;
}
