#include "install/service_entry.h"

#include "registry/service_strings.h"

#include <stdio.h>

DWORD choiceOf(CConfigFile* config, const wchar_t* configName, CLogger* logger) {
    const ConfigKey& key = *findConfigKey(configName);
    DWORD value = 0;
    configChoiceValue(key, key.defaultValue, &value);
    wchar_t* text = config->getStrOptionValue(configName, nullptr);
    if (text != nullptr && !configChoiceValue(key, text, &value)) {
        std::wstring rest =
            std::wstring(L" unreconized for ") + key.configName + L"; assuming " + key.defaultValue;
        logger->logMessage(text, rest.c_str());
    }
    return value;
}

ServiceKind serviceKindOf(CConfigFile* config, CLogger* logger) {
    ServiceKind kind;
    kind.type = SERVICE_WIN32_OWN_PROCESS;
    if (config->getBoolOptionValue(CFG_INTERACTIVE_SERVICE, 0)) {
        kind.type |= SERVICE_INTERACTIVE_PROCESS;
    }
    kind.start = choiceOf(config, CFG_START_TYPE, logger);
    kind.delayed = (kind.start & ~0xFFu) != 0;
    kind.start &= 0xFF;
    kind.errorControl = choiceOf(config, CFG_ERROR_CONTROL, logger);
    return kind;
}

std::vector<std::wstring> serviceListOf(CConfigFile* config, const ConfigKey& entry) {
    std::vector<std::wstring> items;
    for (int n = 1;; ++n) {
        wchar_t key[64];
        swprintf(key, 64, L"%ls%d", entry.configName, n);
        wchar_t* value = config->getStrOptionValue(key, nullptr);
        if (value == nullptr) {
            break;
        }
        items.push_back(value);
    }
    return items;
}

int saveServiceList(CConfigFile* config, const ConfigKey& entry, const wchar_t* serviceName,
                    CLogger* logger) {
    return writeServiceStrings(serviceName, entry.valueName, serviceListOf(config, entry), logger);
}
