// Installation (-i): the service's entry through the Service Control Manager, then its Java
// settings in the Parameters key.
#include "install/installer.h"

#include "install/config_check.h"
#include "install/capture_folder_check.h"
#include "install/capture_install.h"
#include "install/logon_right.h"
#include "install/service_security.h"
#include "registry/config_keys.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

// Room for the image path, terminator included.
const size_t imagePathChars = 2000;

struct NamedValue {
    const wchar_t* name;
    DWORD value;
};
// An automatic start that Windows holds back until the other automatic services have started.
const DWORD delayedAutoStart = 0x100 | SERVICE_AUTO_START;
const NamedValue startTypes[] = {{L"SERVICE_AUTO_START", SERVICE_AUTO_START},
                                 {L"SERVICE_DELAYED_AUTO_START", delayedAutoStart},
                                 {L"SERVICE_DEMAND_START", SERVICE_DEMAND_START},
                                 {L"SERVICE_DISABLED", SERVICE_DISABLED}};
const NamedValue errorControls[] = {{L"SERVICE_ERROR_IGNORE", SERVICE_ERROR_IGNORE},
                                    {L"SERVICE_ERROR_NORMAL", SERVICE_ERROR_NORMAL},
                                    {L"SERVICE_ERROR_SEVERE", SERVICE_ERROR_SEVERE},
                                    {L"SERVICE_ERROR_CRITICAL", SERVICE_ERROR_CRITICAL}};

template <size_t N> int lookUp(const NamedValue (&table)[N], const wchar_t* text, DWORD* value) {
    for (const NamedValue& entry : table) {
        if (asciiEqualNoCase(text, entry.name)) {
            *value = entry.value;
            return 1;
        }
    }
    return 0;
}

void appendPart(wchar_t* buffer, size_t* length, const wchar_t* text) {
    size_t n = wcslen(text);
    wmemcpy(buffer + *length, text, n + 1);
    *length += n;
}

} // namespace

CInstaller::CInstaller(CLogger* logger, CParameters* params) : logger(logger), params(params) {}

int CInstaller::install() {
    logger->logEntry(L"CInstaller::install");
    CConfigFile* config = new CConfigFile(logger);
    int result =
        config->parseConfigFile(params->getConfigFileName(), params->isConfigFileUnicode());
    if (result == 0) {
        warnUnknownConfigKeys(config, logger);
        // An unedited skeleton would install a service literally named $$SERVICENAME$$.
        result = refuseSkeletonPlaceholders(config, logger);
    }
    if (result == 0 && !requiredOptionsPresent(config)) {
        result = 7;
    }
    if (result == 0) {
        result = checkStopAndRecoveryOptions(config);
    }
    if (result == 0) {
        result = checkCaptureOptions(config, logger);
    }
    if (result == 0) {
        result = createMSService(config);
    }
    if (result == 0) {
        result = installOtherProperties(config);
    }
    if (result == 0) {
        result = saveCaptureOptions(config->getStrOptionValue(CFG_SERVICE_NAME, nullptr), config,
                                    logger);
    }
    if (result == 0) {
        warnAboutCaptureFolders(config, params->getAccountName(), logger);
    }
    if (result == 0) {
        protectParametersKey(config->getStrOptionValue(CFG_SERVICE_NAME, nullptr),
                             params->getAccountName(), logger);
        registerAsEventSource(config);
    }
    if (result == 0) {
        logger->logMessage(L"Service successfully installed.");
    }
    delete config;
    logger->logExit(L"CInstaller::install", result);
    return result;
}

int CInstaller::requiredOptionsPresent(CConfigFile* config) {
    static const wchar_t* const required[] = {CFG_SERVICE_DISPLAY_NAME, CFG_SERVICE_NAME,
                                              CFG_SERVICE_CLASS};
    for (const wchar_t* key : required) {
        if (config->getOption(key) == nullptr) {
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
        return 7;
    }
    // The name is quoted on the service's command line; a quote inside it would end that
    // quoting and start the service under another name.
    if (wcschr(serviceName, L'"') != nullptr) {
        logger->logMessage(L"The service name ", serviceName,
                           L" cannot be used: it contains a double quote.");
        logger->logExit(L"CInstaller::createMSService", 8);
        return 8;
    }

    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    if (config->getBoolOptionValue(CFG_INTERACTIVE_SERVICE, 0)) {
        serviceType |= SERVICE_INTERACTIVE_PROCESS;
    }
    DWORD startType = SERVICE_DEMAND_START;
    wchar_t* text = config->getStrOptionValue(CFG_START_TYPE, nullptr);
    if (text != nullptr && !lookUp(startTypes, text, &startType)) {
        logger->logMessage(text, L" unreconized for startType; assuming SERVICE_DEMAND_START");
    }
    int delayedStart = startType == delayedAutoStart;
    startType &= 0xFF;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    text = config->getStrOptionValue(CFG_ERROR_CONTROL, nullptr);
    if (text != nullptr && !lookUp(errorControls, text, &errorControl)) {
        logger->logMessage(text, L" unreconized for errorControl; assuming SERVICE_ERROR_NORMAL");
    }

    int result = 0;
    wchar_t* dependencies = nullptr;
    wchar_t* imagePath = static_cast<wchar_t*>(calloc(imagePathChars, sizeof(wchar_t)));
    if (imagePath == nullptr) {
        logger->logMessage(L"Memory error!");
        result = 9;
    }

    // The image path: "<executable>" -Z "<service name>".
    if (result == 0) {
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
            result = 9;
        } else {
            if (binaryPath != nullptr) {
                appendPart(imagePath, &length, binaryPath);
            }
            appendPart(imagePath, &length, L"\" -Z \"");
            appendPart(imagePath, &length, serviceName);
            appendPart(imagePath, &length, L"\"");
        }
    }

    // The logon right, when the service is to run under an account with its password.
    wchar_t* account = params->getAccountName();
    wchar_t* password = params->getAccountPassword();
    if (result == 0 && account != nullptr && password != nullptr) {
        // The whole name: a domain account must never lend its right to a local namesake.
        std::wstring user = accountForLookup(account);
        logger->logMessage(L"Setting logon as a service right on account ", user.c_str());
        NTSTATUS status = SetServiceRightW(user.c_str(), nullptr);
        if (status == 0) {
            logger->logMessage(L"Logon as a service right set successfullly.");
        } else {
            logger->logMessage(L"Failed to set logon as a service right.",
                               static_cast<DWORD>(status));
        }
    }

    // Dependencies: the comma-separated list as a multi-string; the zero fill ends it.
    wchar_t* dependencyText = config->getStrOptionValue(CFG_SERVICE_DEPENDENCIES, nullptr);
    if (result == 0 && dependencyText != nullptr) {
        size_t length = wcslen(dependencyText);
        dependencies = static_cast<wchar_t*>(calloc(length + 10, sizeof(wchar_t)));
        if (dependencies == nullptr) {
            logger->logMessage(L"Could not allocate memory for dependency list.");
            result = 9;
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
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
        if (manager == nullptr) {
            DWORD error = GetLastError();
            logger->logMessage(L"Could not open the service control manager", error);
            logger->logSystemError(error);
            result = 8;
        } else {
            SC_HANDLE service = CreateServiceW(
                manager, serviceName, displayName, SERVICE_ALL_ACCESS, serviceType, startType,
                errorControl, imagePath, nullptr, nullptr, dependencies, account, password);
            if (service == nullptr) {
                DWORD error = GetLastError();
                logger->logMessage(L"Could create service", error);
                logger->logSystemError(error);
                result = 8;
            } else {
                result = applyServiceConfig2(service, config, delayedStart);
                if (result == 0) {
                    restrictUserControls(service, logger);
                }
                // Half a configuration would run the service without its recovery: none at all.
                if (result != 0 && !DeleteService(service)) {
                    DWORD error = GetLastError();
                    logger->logMessage(L"Cannot delete the incomplete service", error);
                    logger->logSystemError(error);
                }
                CloseServiceHandle(service);
            }
            CloseServiceHandle(manager);
        }
    }

    free(dependencies);
    free(imagePath);
    logger->logExit(L"CInstaller::createMSService", result);
    return result;
}

int CInstaller::installOtherProperties(CConfigFile* config) {
    logger->logEntry(L"CInstaller::installOtherProperties");
    const wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    // Each value is written, or deleted when its key is absent, so a reinstallation leaves
    // nothing of an earlier configuration behind.
    static const struct {
        const wchar_t* valueName;
        const wchar_t* configKey;
    } afterOptions[] = {{REGVAL_COMMAND_LINE, CFG_COMMAND_LINE},
                        {REGVAL_SERVICE_CLASS, CFG_SERVICE_CLASS},
                        {REGVAL_VERBOSE_FILE, CFG_VERBOSE_OUTPUT},
                        {REGVAL_PREINIT_CMD, CFG_PREINIT_COMMAND},
                        {REGVAL_PREINIT_HINT, CFG_PREINIT_WAIT_HINT},
                        {REGVAL_STOP_TIMEOUT, CFG_STOP_TIMEOUT},
                        {REGVAL_FAILURE_ACTIONS, CFG_FAILURE_ACTIONS},
                        {REGVAL_FAILURE_RESET_PERIOD, CFG_FAILURE_RESET_PERIOD},
                        {REGVAL_FAILURE_ON_NON_ZERO_EXIT, CFG_FAILURE_ON_NON_ZERO_EXIT}};
    int result = addServiceDescription(config);
    if (result == 0) {
        result = setRegServiceParameter(serviceName, REGVAL_JVM_DLL,
                                        config->getStrOptionValue(CFG_JVM_DLL, nullptr), logger);
    }
    if (result == 0) {
        result = saveJVMOptions(config);
    }
    for (const auto& entry : afterOptions) {
        if (result != 0) {
            break;
        }
        result =
            setRegServiceParameter(serviceName, entry.valueName,
                                   config->getStrOptionValue(entry.configKey, nullptr), logger);
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
    HKEY key = nullptr;
    LSTATUS rc = written < 0 ? ERROR_INVALID_NAME
                             : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(L"Cannot add description field to service", static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    if (description != nullptr) {
        rc = RegSetValueExW(key, REGVAL_DESCRIPTION, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(description),
                            static_cast<DWORD>((wcslen(description) + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS) {
            logger->logMessage(L"Error writing description to service entry.",
                               static_cast<DWORD>(rc));
            logger->logSystemError(static_cast<DWORD>(rc));
        }
    } else {
        RegDeleteValueW(key, REGVAL_DESCRIPTION);
    }
    RegCloseKey(key);
    return 0;
}

int CInstaller::saveJVMOptions(CConfigFile* config) {
    const wchar_t* serviceName = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    if (serviceName == nullptr) {
        logger->logMessage(L"CInstaller::saveJVMOptions has no service name!");
        return 4;
    }
    wchar_t key[200];
    int n = 1;
    for (;; ++n) {
        swprintf(key, 200, L"%ls%d", CFG_JVM_OPTION, n);
        wchar_t* value = config->getStrOptionValue(key, nullptr);
        if (value == nullptr) {
            break;
        }
        // An option that cannot be stored fails the installation: the service would run
        // without it.
        int result = setRegServiceParameter(serviceName, key, value, logger);
        if (result != 0) {
            return result;
        }
    }
    // Options left from an earlier installation with more of them.
    for (;; ++n) {
        swprintf(key, 200, L"%ls%d", REGVAL_JVM_OPTION, n);
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
