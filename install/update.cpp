// Update in place (-m): an edited configuration file applied to an installed brontel service
// without removing it. The service settings go through the Service Control Manager, the Java
// settings into Parameters; the account and the service's security stay unless -a is given.
#include "install/installer.h"

#include "install/capture_folder_check.h"
#include "install/path_check.h"
#include "install/service_config2.h"
#include "install/service_entry.h"
#include "install/service_account.h"
#include "install/service_security.h"
#include "registry/option_values.h"
#include "registry/service_manager.h"
#include "registry/service_strings.h"
#include "settings/value_check.h"

#include <stdlib.h>
#include <string>
#include <vector>
#include <wchar.h>

namespace {

const DWORD notPresent = 0xFFFFFFFFu;
const wchar_t notSet[] = L"(not set)";

struct Change {
    std::wstring key;
    std::wstring before; // empty with `wasSet` 0: not set
    std::wstring after;
    int wasSet;
    int isSet;
};

struct ServiceState {
    std::wstring displayName, imagePath, dependencies, description, account;
    DWORD type, start, errorControl;
    int delayed;
};

ServiceState readServiceState(const wchar_t* name) {
    ServiceState state;
    const wchar_t* services = BRONTEL_SERVICES_KEY;
    state.displayName = readServiceText(name, REGVAL_DISPLAY_NAME, nullptr);
    state.imagePath = readServiceText(name, REGVAL_IMAGE_PATH, nullptr);
    state.description = readServiceText(name, REGVAL_DESCRIPTION, nullptr);
    state.account = readServiceText(name, L"ObjectName", nullptr);
    state.dependencies = readServiceList(name, REGVAL_DEPEND_ON_SERVICE, L',');
    state.type = getRegDwValue(HKEY_LOCAL_MACHINE, services, name, REGVAL_TYPE, notPresent);
    state.start = getRegDwValue(HKEY_LOCAL_MACHINE, services, name, REGVAL_START, notPresent);
    state.errorControl =
        getRegDwValue(HKEY_LOCAL_MACHINE, services, name, REGVAL_ERROR_CONTROL, notPresent);
    state.delayed = isDelayedAutoStart(name);
    return state;
}

void note(std::vector<Change>& changes, const wchar_t* key, const std::wstring& before, int wasSet,
          const std::wstring& after, int isSet) {
    if (wasSet == isSet && (!isSet || before == after)) {
        return;
    }
    changes.push_back(Change{key, before, after, wasSet, isSet});
}

std::wstring choiceText(const wchar_t* configName, DWORD value) {
    const wchar_t* name = configChoiceName(*findConfigKey(configName), value);
    return name != nullptr ? name : std::to_wstring(value);
}

void printChanges(const std::vector<Change>& changes, size_t from, size_t to, CLogger* logger) {
    for (size_t i = from; i < to; ++i) {
        const Change& c = changes[i];
        std::wstring line =
            c.key + L": " + (c.wasSet ? c.before : notSet) + L" -> " + (c.isSet ? c.after : notSet);
        logger->logMessage(line.c_str());
    }
}

void printNotMade(const std::vector<Change>& changes, size_t from, CLogger* logger) {
    std::wstring keys;
    for (size_t i = from; i < changes.size(); ++i) {
        keys += (keys.empty() ? L"" : L", ") + changes[i].key;
    }
    logger->logMessage(L"The update stopped: the changes listed above were made; these were not: ",
                       keys.c_str());
}

// A list value of the service key (Environment) against the file's numbered items, item by item.
void noteListChanges(std::vector<Change>& changes, const wchar_t* serviceName, const ConfigKey& key,
                     const std::vector<std::wstring>& wanted) {
    std::vector<std::wstring> stored;
    readServiceStrings(serviceName, key.valueName, &stored);
    for (size_t n = 0; n < stored.size() || n < wanted.size(); ++n) {
        std::wstring fileKey = key.configName + std::to_wstring(n + 1);
        int wasSet = n < stored.size();
        int isSet = n < wanted.size();
        note(changes, fileKey.c_str(), wasSet ? stored[n] : L"", wasSet, isSet ? wanted[n] : L"",
             isSet);
    }
}

// The dependency list of the file as the Service Control Manager takes it: items separated by
// zeros, ended by an empty one ("" alone: none).
std::vector<wchar_t> dependencyList(const wchar_t* text) {
    std::vector<wchar_t> list;
    if (text != nullptr) {
        for (const wchar_t* c = text; *c != L'\0'; ++c) {
            list.push_back(*c == L',' ? L'\0' : *c);
        }
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

} // namespace

int CInstaller::update(int* running, std::wstring* serviceNameOut) {
    logger->logEntry(L"CInstaller::update");
    *running = 0;
    CConfigFile* config = new CConfigFile(logger);
    // Every value is checked before anything is changed.
    int result = checkConfig(config);
    const wchar_t* name = config->getStrOptionValue(CFG_SERVICE_NAME, nullptr);
    if (result == 0 && !isBrontelService(name)) {
        logger->logMessage(L"The service ", name,
                           L" is not installed (brontel -b lists the services brontel installed).");
        result = BRONTEL_RESULT_NOT_INSTALLED;
    }
    if (result != 0) {
        delete config;
        logger->logExit(L"CInstaller::update", result);
        return result;
    }
    serviceNameOut->assign(name);
    ServiceState old = readServiceState(name);

    // The service settings the file asks for, as installation would set them.
    std::vector<wchar_t> imagePath(imagePathChars, L'\0');
    result = buildImagePath(config, name, imagePath.data());
    if (result != 0) {
        delete config;
        logger->logExit(L"CInstaller::update", result);
        return result;
    }
    const wchar_t* displayName = config->getStrOptionValue(CFG_SERVICE_DISPLAY_NAME, nullptr);
    const ServiceKind kind = serviceKindOf(config, logger);
    DWORD type = kind.type, start = kind.start, errorControl = kind.errorControl;
    int delayed = kind.delayed;
    const wchar_t* dependencies = config->getStrOptionValue(CFG_SERVICE_DEPENDENCIES, nullptr);
    const wchar_t* description = config->getStrOptionValue(CFG_DESCRIPTION, nullptr);

    std::vector<Change> changes;
    note(changes, CFG_SERVICE_DISPLAY_NAME, old.displayName, 1, displayName, 1);
    note(changes, CFG_INTERACTIVE_SERVICE,
         (old.type & BRONTEL_INTERACTIVE_TYPE_BIT) != 0 ? L"TRUE" : L"FALSE", 1,
         (type & BRONTEL_INTERACTIVE_TYPE_BIT) != 0 ? L"TRUE" : L"FALSE", 1);
    note(changes, CFG_START_TYPE,
         choiceText(CFG_START_TYPE,
                    old.start | (old.delayed && old.start == SERVICE_AUTO_START ? 0x100u : 0u)),
         1, choiceText(CFG_START_TYPE, start | (delayed ? 0x100u : 0u)), 1);
    note(changes, CFG_ERROR_CONTROL, choiceText(CFG_ERROR_CONTROL, old.errorControl), 1,
         choiceText(CFG_ERROR_CONTROL, errorControl), 1);
    note(changes, CFG_BINARY_PATH, old.imagePath, 1, imagePath.data(), 1);
    note(changes, CFG_SERVICE_DEPENDENCIES, old.dependencies, !old.dependencies.empty(),
         dependencies != nullptr ? dependencies : L"", dependencies != nullptr);
    // The account (install/service_account.h): -a, else the file's; the built-in accounts in
    // full, and a password only for the accounts that have one.
    std::wstring startName = serviceStartName(
        request.account != nullptr ? request.account
                                   : config->getStrOptionValue(CFG_ACCOUNT, nullptr));
    const wchar_t* account = startName.empty() ? nullptr : startName.c_str();
    if (account != nullptr) {
        note(changes, L"account", old.account, 1, account, 1);
    }
    size_t scmChanges = changes.size();
    int passwordGiven = account != nullptr && request.password != nullptr &&
                        serviceAccountKind(account) == ACCOUNT_USER;
    // A new account, or a password, needs what installation gives it, said in the same words.
    int accountSetUp =
        account != nullptr && (old.account != account || request.password != nullptr);

    // The recovery settings, kept in Parameters too: changed ones are applied again.
    int recoveryChanged = 0;
    int flagChanged = 0; // set alone: not every manager knows the flag (Wine's does not)
    size_t parametersFrom = changes.size();
    note(changes, CFG_DESCRIPTION, old.description, !old.description.empty(),
         description != nullptr ? description : L"", description != nullptr);
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& key = configKeys[i];
        if (key.store == CONFIG_STORE_SERVICE && (key.flags & CONFIG_NUMBERED) != 0) {
            noteListChanges(changes, name, key, serviceListOf(config, key));
            continue;
        }
        if (key.store != CONFIG_STORE_PARAMETERS) {
            continue;
        }
        size_t before = changes.size();
        int fileEnded = 0; // the file's numbered values end at their first gap, as installed
        for (int n = 1;; ++n) {
            wchar_t fileKey[64];
            wchar_t valueName[64];
            if ((key.flags & CONFIG_NUMBERED) != 0) {
                swprintf(fileKey, 64, L"%ls%d", key.configName, n);
                swprintf(valueName, 64, L"%ls%d", key.valueName, n);
            } else {
                swprintf(fileKey, 64, L"%ls", key.configName);
                swprintf(valueName, 64, L"%ls", key.valueName);
            }
            wchar_t* stored = getRegServiceParam(name, valueName, logger, 0, 0);
            const wchar_t* wanted =
                fileEnded ? nullptr : config->getStrOptionValue(fileKey, nullptr);
            fileEnded = wanted == nullptr;
            note(changes, fileKey, stored != nullptr ? stored : L"", stored != nullptr,
                 wanted != nullptr ? wanted : L"", wanted != nullptr);
            free(stored);
            if ((key.flags & CONFIG_NUMBERED) == 0 || (stored == nullptr && wanted == nullptr)) {
                break;
            }
        }
        if (changes.size() != before && (wcscmp(key.configName, CFG_FAILURE_ACTIONS) == 0 ||
                                         wcscmp(key.configName, CFG_FAILURE_RESET_PERIOD) == 0)) {
            recoveryChanged = 1;
        }
        if (changes.size() != before && wcscmp(key.configName, CFG_FAILURE_ON_NON_ZERO_EXIT) == 0) {
            flagChanged = 1;
        }
    }

    // What installation warns about, also when nothing changes: the file's paths are still used.
    warnAboutMissingPaths(config, logger);
    warnAboutCaptureFolders(config, account != nullptr ? account : old.account.c_str(), logger);

    if (changes.empty() && !passwordGiven) {
        logger->logMessage(L"The service ", name, L" already has these settings: nothing changed.");
        delete config;
        logger->logExit(L"CInstaller::update", 0);
        return 0;
    }

    CServiceManager manager(logger);
    CServiceHandle service;
    if (!manager.open(SC_MANAGER_CONNECT, L"Could not open the service control manager")) {
        result = BRONTEL_RESULT_SCM_FAILED;
    } else {
        service.reset(
            OpenServiceW(manager.get(), name,
                         SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                             SERVICE_START)); // Windows asks for it to set a restart action
        if (!service.isOpen()) {
            logger->logSystemError(L"Failed to open service ", GetLastError());
            result = BRONTEL_RESULT_SCM_FAILED;
        }
    }
    if (result != 0) {
        logger->logMessage(L"Nothing was changed.");
        delete config;
        logger->logExit(L"CInstaller::update", result);
        return result;
    }

    // One call for the service settings: Windows makes all of them or none.
    if (scmChanges > 0 || passwordGiven) {
        std::vector<wchar_t> list = dependencyList(dependencies);
        if (accountSetUp) {
            prepareServiceLogon(account, request.password, logger);
        }
        if (!ChangeServiceConfigW(service.get(), type, start, errorControl, imagePath.data(),
                                  nullptr, nullptr, list.data(), account,
                                  passwordGiven ? request.password : nullptr, displayName)) {
            logger->logSystemError(L"Cannot change the service's settings", GetLastError());
            logger->logMessage(L"Nothing was changed.");
            delete config;
            logger->logExit(L"CInstaller::update", BRONTEL_RESULT_SCM_FAILED);
            return BRONTEL_RESULT_SCM_FAILED;
        }
        printChanges(changes, 0, scmChanges, logger);
        if (passwordGiven) {
            logger->logMessage(L"password: changed (not shown)");
        }
        if (account != nullptr) {
            protectParametersKey(name, account, logger);
        }
    }
    // The delayed start and the recovery settings, each set to what the file says.
    if (old.delayed != delayed && start == SERVICE_AUTO_START) {
        SERVICE_DELAYED_AUTO_START_INFO info;
        info.fDelayedAutostart = delayed ? TRUE : FALSE;
        result =
            changeServiceConfig2(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info,
                                 L"Cannot set the delayed automatic start of the service", logger);
    }
    if (result == 0 && recoveryChanged) {
        FailureActionList list;
        list.count = 0;
        const wchar_t* actionsText = config->getStrOptionValue(CFG_FAILURE_ACTIONS, nullptr);
        const wchar_t* periodText = config->getStrOptionValue(CFG_FAILURE_RESET_PERIOD, nullptr);
        const ConfigKey& periodKey = *findConfigKey(CFG_FAILURE_RESET_PERIOD);
        DWORD period = 0;
        if (actionsText != nullptr) {
            wchar_t problem[200];
            parseFailureActions(actionsText, &list, problem, 200);
            parseConfigNumber(periodKey,
                              periodText != nullptr ? periodText : periodKey.defaultValue, &period);
        }
        SERVICE_FAILURE_ACTIONSW actions;
        actions.dwResetPeriod = period;
        actions.lpRebootMsg = nullptr;
        actions.lpCommand = nullptr;
        actions.cActions = list.count;
        // Never null: the manager keeps the actions it has when given no list, and a key dropped
        // from the file must drop them.
        actions.lpsaActions = list.actions;
        result = changeServiceConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions,
                                      L"Cannot set the recovery actions of the service", logger);
    }
    if (result == 0 && flagChanged) {
        SERVICE_FAILURE_ACTIONS_FLAG flag;
        flag.fFailureActionsOnNonCrashFailures =
            config->getBoolOptionValue(CFG_FAILURE_ON_NON_ZERO_EXIT, 0) ? TRUE : FALSE;
        result =
            changeServiceConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag,
                                 L"Cannot set the failure-actions flag of the service", logger);
    }
    if (result != 0) {
        printNotMade(changes, parametersFrom, logger);
        delete config;
        logger->logExit(L"CInstaller::update", result);
        return result;
    }

    // The description and the Parameters values, one by one, each said once it is made.
    const ConfigKey* listWritten = nullptr; // a list value is written whole, once
    for (size_t i = parametersFrom; i < changes.size() && result == 0; ++i) {
        const Change& c = changes[i];
        const ConfigKey* key = findConfigKey(c.key.c_str());
        if (c.key == CFG_DESCRIPTION) {
            result = addServiceDescription(config);
        } else if (key->store == CONFIG_STORE_SERVICE) {
            if (key != listWritten) {
                result = saveServiceList(config, *key, name, logger);
                listWritten = key;
            }
        } else {
            std::wstring valueName = key->valueName;
            if ((key->flags & CONFIG_NUMBERED) != 0) {
                valueName += c.key.substr(wcslen(key->configName));
            }
            result = setRegServiceParameter(name, valueName.c_str(),
                                            c.isSet ? c.after.c_str() : nullptr, logger);
        }
        if (result == 0) {
            printChanges(changes, i, i + 1, logger);
        } else {
            printNotMade(changes, i, logger);
        }
    }
    // Wine's service manager saves a service's settings without a Description it did not write
    // itself, so an unchanged description is written again after any change made through it.
    bool scmWrote =
        scmChanges > 0 || passwordGiven || old.delayed != delayed || recoveryChanged || flagChanged;
    bool descriptionChanged = false;
    for (size_t i = parametersFrom; i < changes.size(); ++i) {
        descriptionChanged = descriptionChanged || changes[i].key == CFG_DESCRIPTION;
    }
    if (result == 0 && scmWrote && !descriptionChanged &&
        config->getStrOptionValue(CFG_DESCRIPTION, nullptr) != nullptr) {
        addServiceDescription(config);
    }
    if (result == 0) {
        logger->logMessage(L"Service successfully updated.");
        *running = isServiceRunning(name);
    }
    delete config;
    logger->logExit(L"CInstaller::update", result);
    return result;
}
