// Checking and storing the output capture keys.
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
