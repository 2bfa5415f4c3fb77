// Removal (-u, -r): stops a service that this program installed and deletes it.
#include "install/installer.h"

#include "install/event_source.h"
#include "registry/service_manager.h"
#include "settings/config_keys.h"

#include <wchar.h>

#include <string>

namespace {

// The program a service runs, from its image path: "<program>" -Z "<name>" as installation
// writes it, or unquoted as some installers write it.
std::wstring serviceProgram(const wchar_t* serviceName) {
    wchar_t imagePath[2000];
    if (getRegStrValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, serviceName, REGVAL_IMAGE_PATH,
                       imagePath, sizeof imagePath) == nullptr) {
        return std::wstring();
    }
    std::wstring text = imagePath;
    if (!text.empty() && text[0] == L'"') {
        size_t close = text.find(L'"', 1);
        return text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    size_t option = text.rfind(L" -Z");
    return option == std::wstring::npos ? text : text.substr(0, option);
}

} // namespace

int CInstaller::uninstall() {
    logger->logEntry(L"CInstaller::uninstall");
    int result = 0;
    CConfigFile* config = nullptr;
    const wchar_t* serviceName = request.serviceName;
    if (serviceName == nullptr) {
        if (request.configFileName != nullptr) {
            config = new CConfigFile(logger);
            result = config->parseConfigFile(request.configFileName, request.configFileUnicode);
            if (result == 0) {
                serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
            }
        } else {
            logger->logMessage(L"Uninstall requires a config file name or service name.");
            result = BRONTEL_RESULT_NOTHING_TO_REMOVE;
        }
    }

    if (result == 0 && serviceName != nullptr) {
        if (!isBrontelService(serviceName)) {
            logger->logMessage(L"The service ", serviceName,
                               L" is not a service created by Brontel.  Therefore it will not be "
                               L"removed.");
            result = BRONTEL_RESULT_NOT_INSTALLED;
        } else {
            CServiceManager manager(logger);
            CServiceHandle service;
            if (!manager.open(GENERIC_WRITE | GENERIC_EXECUTE,
                              L"Cannot open the service control manager.")) {
                // Nothing was removed: say so in the exit code too.
                result = BRONTEL_RESULT_SCM_FAILED;
            } else if (!manager.stopService(serviceName)) {
                result = BRONTEL_RESULT_STOP_FAILED;
            } else if (!manager.openService(service, serviceName, DELETE,
                                            L"Cannot open service for deletion.")) {
                result = BRONTEL_RESULT_DELETE_FAILED;
            } else {
                // Read while the service's key still exists: whose event source to remove.
                std::wstring program = serviceProgram(serviceName);
                if (DeleteService(service.get())) {
                    logger->logMessage(L"Service ", serviceName, L" deleted successfully.");
                    unregisterEventSource(serviceName, program.empty() ? nullptr : program.c_str(),
                                          logger);
                } else {
                    logger->logSystemError(L"Cannot delete service.", GetLastError());
                    result = BRONTEL_RESULT_DELETE_FAILED;
                }
            }
        }
    }

    delete config;
    logger->logExit(L"CInstaller::uninstall", result);
    return result;
}
