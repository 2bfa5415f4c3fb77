// Installation (-i): the service's entry through the Service Control Manager, then its Java
// settings in the Parameters key.
#include "install/installer.h"

#include "install/config_check.h"
#include "install/capture_folder_check.h"
#include "install/event_source.h"
#include "install/logon_right.h"
#include "install/path_check.h"
#include "install/service_entry.h"
#include "install/service_account.h"
#include "install/service_security.h"
#include "registry/registry.h"
#include "registry/service_manager.h"
#include "settings/config_keys.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

void appendPart(wchar_t* buffer, size_t* length, const wchar_t* text) {
    size_t n = wcslen(text);
    wmemcpy(buffer + *length, text, n + 1);
    *length += n;
}

} // namespace

CInstaller::CInstaller(CLogger* logger, const InstallRequest& request)
    : logger(logger), request(request) {}

int CInstaller::install() {
    logger->logEntry(L"CInstaller::install");
    CConfigFile* config = new CConfigFile(logger);
    int result = checkConfig(config);
    // -a, else the file's account (a saved report's); the built-in accounts in full.
    const wchar_t* givenAccount = request.account;
    if (request.account == nullptr) {
        request.account = config->getStrOptionValue(CFG_ACCOUNT, nullptr);
    }
    std::wstring startName = serviceStartName(request.account);
    if (request.account != nullptr) {
        request.account = startName.c_str();
    }
    if (result == 0) {
        result = createMSService(config);
    }
    if (result == 0) {
        result = installOtherProperties(config);
    }
    if (result == 0) {
        warnAboutMissingPaths(config, logger);
        warnAboutCaptureFolders(config, request.account, logger);
        protectParametersKey(config->getStrOptionValue(CFG_SERVICE_NAME, nullptr), request.account,
                             logger);
        registerAsEventSource(config);
    }
    if (result == 0) {
        logger->logMessage(L"Service successfully installed.");
    }
    request.account = givenAccount;
    delete config;
    logger->logExit(L"CInstaller::install", result);
    return result;
}

int CInstaller::checkConfig(CConfigFile* config) {
    int result = config->parseConfigFile(request.configFileName, request.configFileUnicode);
    if (result == 0) {
        warnUnknownConfigKeys(config, logger);
        // An unedited skeleton would install a service literally named $$SERVICENAME$$.
        result = refuseSkeletonPlaceholders(config, logger);
    }
    if (result == 0 && !requiredOptionsPresent(config)) {
        result = BRONTEL_RESULT_MISSING_KEY;
    }
    if (result == 0) {
        result = refuseMalformedValues(config, logger);
    }
    return result;
}

int CInstaller::requiredOptionsPresent(CConfigFile* config) {
    for (int i = 0; i < configKeyCount; ++i) {
        const wchar_t* key = configKeys[i].configName;
        if ((configKeys[i].flags & CONFIG_REQUIRED) != 0 && config->getOption(key) == nullptr) {
            logger->logMessage(L"Missing config option : ", key);
            return 0;
        }
    }
    return 1;
}

int CInstaller::createMSService(CConfigFile* config) {
    logger->logEntry(L"CInstaller::createMSService");
    wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    wchar_t* displayName = config->getStrOptionValue(CFG_SERVICE_DISPLAY_NAME, nullptr);
    if (serviceName == nullptr || displayName == nullptr) {
        logger->logMessage(L"Bad config file: displayName or serviceName is missing");
        return BRONTEL_RESULT_MISSING_KEY;
    }
    // The name is quoted on the service's command line; a quote inside it would end that
    // quoting and start the service under another name.
    if (wcschr(serviceName, L'"') != nullptr) {
        logger->logMessage(L"The service name ", serviceName,
                           L" cannot be used: it contains a double quote.");
        logger->logExit(L"CInstaller::createMSService", BRONTEL_RESULT_SCM_FAILED);
        return BRONTEL_RESULT_SCM_FAILED;
    }

    // The delayed start is set apart from the start type, once the service exists.
    const ServiceKind kind = serviceKindOf(config, logger);
    DWORD serviceType = kind.type, startType = kind.start, errorControl = kind.errorControl;
    int delayedStart = kind.delayed;

    int result = 0;
    wchar_t* dependencies = nullptr;
    wchar_t* imagePath = static_cast<wchar_t*>(calloc(imagePathChars, sizeof(wchar_t)));
    if (imagePath == nullptr) {
        logger->logMessage(L"Memory error!");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else {
        result = buildImagePath(config, serviceName, imagePath);
    }

    // The logon right where Windows needs it; the accounts without a password get none.
    const wchar_t* account = request.account;
    const wchar_t* password = nullptr;
    if (result == 0 && (account != nullptr || request.password != nullptr)) {
        // A password without an account is LocalSystem's, which takes none: said, not dropped.
        password = prepareServiceLogon(account != nullptr ? account : L"LocalSystem",
                                       request.password, logger);
    }

    // Dependencies: the comma-separated list as a multi-string; the zero fill ends it.
    wchar_t* dependencyText = config->getStrOptionValue(CFG_SERVICE_DEPENDENCIES, nullptr);
    if (result == 0 && dependencyText != nullptr) {
        size_t length = wcslen(dependencyText);
        dependencies = static_cast<wchar_t*>(calloc(length + 10, sizeof(wchar_t)));
        if (dependencies == nullptr) {
            logger->logMessage(L"Could not allocate memory for dependency list.");
            result = BRONTEL_RESULT_OUT_OF_MEMORY;
        } else {
            wmemcpy(dependencies, dependencyText, length);
            for (size_t i = 0; i < length; ++i) {
                if (dependencies[i] == L',') {
                    dependencies[i] = L'\0';
                }
            }
        }
    }

    if (result == 0) {
        CServiceManager manager(logger);
        if (!manager.open(SC_MANAGER_CREATE_SERVICE,
                          L"Could not open the service control manager")) {
            result = BRONTEL_RESULT_SCM_FAILED;
        } else {
            CServiceHandle service(CreateServiceW(
                manager.get(), serviceName, displayName, SERVICE_ALL_ACCESS, serviceType, startType,
                errorControl, imagePath, nullptr, nullptr, dependencies, account, password));
            if (!service.isOpen()) {
                logger->logSystemError(L"Could create service", GetLastError());
                result = BRONTEL_RESULT_SCM_FAILED;
            } else {
                result = applyServiceConfig2(service.get(), config, delayedStart);
                if (result == 0) {
                    restrictUserControls(service.get(), logger);
                }
                // Half a configuration would run the service without its recovery: none at all.
                if (result != 0 && !DeleteService(service.get())) {
                    logger->logSystemError(L"Cannot delete the incomplete service", GetLastError());
                }
            }
        }
    }

    free(dependencies);
    free(imagePath);
    logger->logExit(L"CInstaller::createMSService", result);
    return result;
}

int CInstaller::buildImagePath(CConfigFile* config, const wchar_t* serviceName,
                               wchar_t* imagePath) {
    // The image path: "<executable>" -Z "<service name>".
    int result = 0;
    wchar_t* binaryPath = config->getStrOptionValue(CFG_BINARY_PATH, nullptr);
    size_t length = 1;
    imagePath[0] = L'"';
    if (binaryPath == nullptr) {
        DWORD offered = static_cast<DWORD>(imagePathChars - 2);
        DWORD got = GetModuleFileNameW(nullptr, imagePath + 1, offered);
        if (got == 0 || got >= offered) {
            // A path cut short would name another file: treat it as not found.
            DWORD error = got == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
            logger->logMessage(L"Cannot get the file name of the executable.", error);
            logger->logSystemError(error);
            imagePath[1] = L'\0';
        } else {
            length += got;
        }
    }
    const wchar_t* path = binaryPath != nullptr ? binaryPath : imagePath + 1;
    size_t needed = 1 + wcslen(path) + wcslen(L"\" -Z \"") + wcslen(serviceName) + 1 + 1;
    if (needed > imagePathChars) {
        logger->logMessage(L"The image path for the service ", serviceName,
                           L" would be longer than 1999 characters; shorten binaryPath or "
                           L"the service name.");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else {
        if (binaryPath != nullptr) {
            appendPart(imagePath, &length, binaryPath);
        }
        appendPart(imagePath, &length, L"\" -Z \"");
        appendPart(imagePath, &length, serviceName);
        appendPart(imagePath, &length, L"\"");
    }
    return result;
}

int CInstaller::installOtherProperties(CConfigFile* config) {
    logger->logEntry(L"CInstaller::installOtherProperties");
    const wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    int result = addServiceDescription(config);
    // Each Parameters value is written, or deleted when its key is absent, so a reinstallation
    // leaves nothing of an earlier configuration behind.
    for (int i = 0; i < configKeyCount && result == 0; ++i) {
        const ConfigKey& key = configKeys[i];
        if (key.store == CONFIG_STORE_SERVICE && (key.flags & CONFIG_NUMBERED) != 0) {
            result = saveServiceList(config, key, serviceName, logger);
            continue;
        }
        if (key.store != CONFIG_STORE_PARAMETERS) {
            continue;
        }
        if ((key.flags & CONFIG_NUMBERED) != 0) {
            result = saveNumberedValues(config, key);
            continue;
        }
        result = setRegServiceParameter(serviceName, key.valueName,
                                        config->getStrOptionValue(key.configName, nullptr), logger);
    }
    logger->logExit(L"CInstaller::installOtherProperties", result);
    return result;
}

int CInstaller::addServiceDescription(CConfigFile* config) {
    wchar_t* description = config->getStrOptionValue(CFG_DESCRIPTION, nullptr);
    wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    wchar_t path[1024];
    int written = swprintf(path, 1024, L"%ls\\%ls", BRONTEL_SERVICES_KEY,
                           serviceName != nullptr ? serviceName : L"");
    CRegKey key;
    LSTATUS rc = written < 0 ? ERROR_INVALID_NAME
                             : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, key.receive());
    if (rc != ERROR_SUCCESS) {
        logger->logSystemError(L"Cannot add description field to service", static_cast<DWORD>(rc));
        return 0;
    }
    if (description != nullptr) {
        rc = RegSetValueExW(key.get(), REGVAL_DESCRIPTION, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(description),
                            static_cast<DWORD>((wcslen(description) + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS) {
            logger->logSystemError(L"Error writing description to service entry.",
                                   static_cast<DWORD>(rc));
        }
    } else {
        RegDeleteValueW(key.get(), REGVAL_DESCRIPTION);
    }
    return 0;
}

int CInstaller::saveNumberedValues(CConfigFile* config, const ConfigKey& entry) {
    const wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    if (serviceName == nullptr) {
        logger->logMessage(L"CInstaller::saveJVMOptions has no service name!");
        return BRONTEL_RESULT_CONFIG_NOT_READ;
    }
    wchar_t key[200];
    int n = 1;
    for (;; ++n) {
        swprintf(key, 200, L"%ls%d", entry.configName, n);
        wchar_t* value = config->getStrOptionValue(key, nullptr);
        if (value == nullptr) {
            break;
        }
        // A value that cannot be stored fails the installation: the service would run
        // without it. (Stored under the file's spelling: value names ignore case.)
        int result = setRegServiceParameter(serviceName, key, value, logger);
        if (result != 0) {
            return result;
        }
    }
    // Values left from an earlier installation with more of them.
    for (;; ++n) {
        swprintf(key, 200, L"%ls%d", entry.valueName, n);
        wchar_t* stale = getRegServiceParam(serviceName, key, logger, 0, 0);
        if (stale == nullptr) {
            break;
        }
        free(stale);
        setRegServiceParameter(serviceName, key, nullptr, logger);
    }
    return 0;
}

void CInstaller::registerAsEventSource(CConfigFile* config) {
    // The messages are in the program the service runs.
    wchar_t program[imagePathChars];
    const wchar_t* messageFile = config->getStrOptionValue(CFG_BINARY_PATH, nullptr);
    if (messageFile == nullptr) {
        DWORD got = GetModuleFileNameW(nullptr, program, static_cast<DWORD>(imagePathChars));
        if (got == 0 || got >= imagePathChars) {
            logger->logMessage(L"Cannot get the file name of the executable; the service is not "
                               L"registered as an event source.");
            return;
        }
        messageFile = program;
    }
    registerEventSource(config->getStrOptionValue(CFG_SERVICE_NAME, nullptr), messageFile, logger);
}
