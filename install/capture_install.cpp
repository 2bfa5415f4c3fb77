// Checking and storing the output capture keys, and the event source registration.
#include "install/capture_install.h"

#include "registry/config_keys.h"
#include "registry/option_values.h"

#include <stdio.h>

namespace {
struct CaptureValueRule {
    const wchar_t* configKey;
    const wchar_t* expected;
    int (*wellFormed)(const wchar_t* text);
};
int rotateBytesOk(const wchar_t* text) {
    DWORD value;
    return parseRotateBytes(text, &value);
}
int keepFilesOk(const wchar_t* text) {
    DWORD value;
    return parseKeepFiles(text, &value);
}
int timestampsOk(const wchar_t* text) {
    int value;
    return parseTimestamps(text, &value);
}
const CaptureValueRule rules[] = {
    {CFG_LOG_ROTATE_BYTES, L"a whole number of bytes from 0 to 4294967295", rotateBytesOk},
    {CFG_LOG_KEEP_FILES, L"a whole number from 0 to 999", keepFilesOk},
    {CFG_LOG_TIMESTAMPS, L"TRUE or FALSE", timestampsOk},
};

const size_t keyPathChars = 600;
} // namespace

int checkCaptureOptions(CConfigFile* config, CLogger* logger) {
    int result = 0;
    for (const CaptureValueRule& rule : rules) {
        wchar_t* value = config->getStrOptionValue(rule.configKey, nullptr);
        if (value != nullptr && !rule.wellFormed(value)) {
            wchar_t message[300];
            swprintf(message, 300, L" is not valid for %ls: expected %ls. Nothing was installed.",
                     rule.configKey, rule.expected);
            logger->logMessage(L"The value ", value, message);
            result = BRONTEL_RESULT_BAD_CAPTURE_VALUE;
        }
    }
    return result;
}

int saveCaptureOptions(const wchar_t* serviceName, CConfigFile* config, CLogger* logger) {
    const ConfigKey* keys = captureConfigKeys();
    int result = 0;
    for (int i = 0; i < captureConfigKeyCount && result == 0; ++i) {
        result =
            setRegServiceParameter(serviceName, keys[i].valueName,
                                   config->getStrOptionValue(keys[i].configName, nullptr), logger);
    }
    return result;
}

int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger) {
    wchar_t path[keyPathChars];
    int written = swprintf(path, keyPathChars, L"%ls\\%ls", BRONTEL_EVENT_SOURCES_KEY, serviceName);
    HKEY key = nullptr;
    LSTATUS rc = written < 0
                     ? ERROR_INVALID_NAME
                     : RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile),
                            static_cast<DWORD>((wcslen(messageFile) + 1) * sizeof(wchar_t)));
    }
    if (rc == ERROR_SUCCESS) {
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(L"Cannot register the service as an event source; its events will "
                           L"lack their text in Event Viewer.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    return 1;
}

int unregisterEventSource(const wchar_t* serviceName, CLogger* logger) {
    wchar_t path[keyPathChars];
    int written = swprintf(path, keyPathChars, L"%ls\\%ls", BRONTEL_EVENT_SOURCES_KEY, serviceName);
    if (written < 0) {
        return 0;
    }
    LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        logger->logMessage(L"Cannot remove the service's event source registration.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    return 1;
}
