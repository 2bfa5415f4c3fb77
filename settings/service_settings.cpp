// Reading a service's Parameters values once, and handing them out by key.
#include "settings/service_settings.h"

#include "settings/value_check.h"

#include <stdio.h>
#include <stdlib.h>

CServiceSettings::CServiceSettings() {}

CServiceSettings::~CServiceSettings() {
    clear();
}

void CServiceSettings::clear() {
    for (Value& value : values) {
        free(value.text);
    }
    values.clear();
}

int CServiceSettings::load(const wchar_t* name) {
    clear();
    serviceName = name != nullptr ? name : L"";
    int result = 0;
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& key = configKeys[i];
        if (key.store != CONFIG_STORE_PARAMETERS) {
            continue;
        }
        int numbered = (key.flags & CONFIG_NUMBERED) != 0;
        for (int n = numbered ? 1 : 0;; ++n) {
            wchar_t valueName[64];
            swprintf(valueName, 64, numbered ? L"%ls%d" : L"%ls", key.valueName, n);
            Value value = {&key, n, nullptr, {SERVICE_PARAM_READ, ERROR_SUCCESS}};
            value.text = readServiceParam(serviceName.c_str(), valueName,
                                          (key.flags & CONFIG_EXPANDED) != 0, &value.failure);
            if (value.failure.step == SERVICE_PARAM_NO_MEMORY) {
                result = 9;
            }
            // A numbered key's values end at the first missing number.
            if (numbered && value.text == nullptr) {
                break;
            }
            values.push_back(value);
            if (!numbered) {
                break;
            }
        }
    }
    return result;
}

const CServiceSettings::Value* CServiceSettings::find(const wchar_t* configName, int number) const {
    for (const Value& value : values) {
        if (value.number == number && asciiEqualNoCase(value.key->configName, configName)) {
            return &value;
        }
    }
    return nullptr;
}

const wchar_t* CServiceSettings::text(const wchar_t* configName, CLogger* logger,
                                      int traceMissing) const {
    const Value* value = find(configName, 0);
    if (value == nullptr) {
        return nullptr;
    }
    if (value->text == nullptr && traceMissing && logger != nullptr) {
        traceServiceParamFailure(serviceName.c_str(), value->key->valueName, value->failure,
                                 logger);
    }
    return value->text;
}

template <class T>
int CServiceSettings::parsed(const wchar_t* configName, CLogger* logger,
                             const wchar_t* malformedMessage, T* result,
                             int (*parse)(const ConfigKey& key, const wchar_t* text,
                                          T* value)) const {
    const Value* value = find(configName, 0);
    if (value == nullptr) {
        return 0;
    }
    const ConfigKey& key = *value->key;
    if (value->text != nullptr) {
        if (parse(key, value->text, result)) {
            return 1;
        }
        if (malformedMessage != nullptr && logger != nullptr) {
            logger->logMessage(malformedMessage, key.valueName, L"; using its default.");
        }
    }
    return key.defaultValue != nullptr && parse(key, key.defaultValue, result);
}

int CServiceSettings::number(const wchar_t* configName, CLogger* logger,
                             const wchar_t* malformedMessage, DWORD* result) const {
    return parsed<DWORD>(configName, logger, malformedMessage, result, parseConfigNumber);
}

int CServiceSettings::flag(const wchar_t* configName, CLogger* logger,
                           const wchar_t* malformedMessage, int* result) const {
    return parsed<int>(configName, logger, malformedMessage, result,
                       [](const ConfigKey&, const wchar_t* text, int* value) {
                           return parseConfigFlag(text, value);
                       });
}

int CServiceSettings::numberedCount(const wchar_t* configName) const {
    int count = 0;
    while (find(configName, count + 1) != nullptr) {
        ++count;
    }
    return count;
}

const wchar_t* CServiceSettings::numbered(const wchar_t* configName, int number) const {
    const Value* value = find(configName, number);
    return value != nullptr ? value->text : nullptr;
}
