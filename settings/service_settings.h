// A service's settings as one run uses them: every Parameters value of the key table, read once
// when the run starts, for the VM host, the output capture, the stop watchdog and the
// pre-initialization command.
#ifndef BRONTEL_SETTINGS_SERVICE_SETTINGS_H
#define BRONTEL_SETTINGS_SERVICE_SETTINGS_H

#include "settings/config_keys.h"

#include <string>
#include <vector>

class CServiceSettings {
  public:
    CServiceSettings();
    ~CServiceSettings();
    CServiceSettings(const CServiceSettings&) = delete;
    CServiceSettings& operator=(const CServiceSettings&) = delete;

    // Reads the service's values (%NAME% references expanded where the table says so; numbered
    // values up to the first missing number). Nothing is traced here: a reader that needs a
    // value traces why it is missing. 0, or 9 when memory ran out (what was read stays).
    int load(const wchar_t* serviceName);
    const wchar_t* getServiceName() const { return serviceName.c_str(); }

    // The value of a key of the table, or null when the service has none; with traceMissing, a
    // missing value's registry failure is traced as the registry reader traces it.
    const wchar_t* text(const wchar_t* configName, CLogger* logger = nullptr,
                        int traceMissing = 0) const;
    // The stored number of a number key, or its table default when it has none. A malformed
    // value is traced as `malformedMessage`, the value name and "; using its default.", and the
    // default used. 1 when *value was set (0: neither a good value nor a default).
    int number(const wchar_t* configName, CLogger* logger, const wchar_t* malformedMessage,
               DWORD* value) const;
    // The same for a TRUE/FALSE key.
    int flag(const wchar_t* configName, CLogger* logger, const wchar_t* malformedMessage,
             int* value) const;
    // The values of a numbered key, from 1 on.
    int numberedCount(const wchar_t* configName) const;
    const wchar_t* numbered(const wchar_t* configName, int number) const;

  private:
    struct Value {
        const ConfigKey* key;
        int number; // of a numbered key's value; 0 otherwise
        wchar_t* text;
        ServiceParamFailure failure;
    };
    const Value* find(const wchar_t* configName, int number) const;
    // A number or flag value by `parse`, else the key's default (see number()).
    template <class T>
    int parsed(const wchar_t* configName, CLogger* logger, const wchar_t* malformedMessage,
               T* result, int (*parse)(const ConfigKey& key, const wchar_t* text, T* value)) const;
    void clear();

    std::wstring serviceName;
    std::vector<Value> values;
};

#endif
