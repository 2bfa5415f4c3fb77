// The configuration-file keys and where each one is stored in the registry: the one table that
// the installation and the installed-service report share.
#ifndef BRONTEL_REGISTRY_CONFIG_KEYS_H
#define BRONTEL_REGISTRY_CONFIG_KEYS_H

#include "platform/textutil.h"
#include "registry/registry.h"

// Keys of the configuration file (compared without regard to ASCII case).
#define CFG_SERVICE_NAME L"serviceName"
#define CFG_SERVICE_DISPLAY_NAME L"serviceDisplayName"
#define CFG_SERVICE_CLASS L"ibrontelClass"
#define CFG_INTERACTIVE_SERVICE L"interactiveService"
#define CFG_START_TYPE L"startType"
#define CFG_ERROR_CONTROL L"errorControl"
#define CFG_BINARY_PATH L"binaryPath"
#define CFG_SERVICE_DEPENDENCIES L"serviceDependencies"
#define CFG_DESCRIPTION L"description"
#define CFG_JVM_DLL L"jvmDLL"
#define CFG_JVM_OPTION L"jvmOption" // followed by 1, 2, ... without gaps
#define CFG_COMMAND_LINE L"commandLineParms"
#define CFG_VERBOSE_OUTPUT L"verboseOutput"
#define CFG_PREINIT_COMMAND L"preinitCommand"
#define CFG_PREINIT_WAIT_HINT L"preinitWaitHint"
// Stop timeout and recovery actions.
#define CFG_STOP_TIMEOUT L"stopTimeout"
#define CFG_FAILURE_ACTIONS L"failureActions"
#define CFG_FAILURE_RESET_PERIOD L"failureResetPeriod"
#define CFG_FAILURE_ON_NON_ZERO_EXIT L"failureOnNonZeroExit"
// TRUE lets the trace show arguments that may hold secrets.
#define CFG_TRACE_ARGUMENTS L"traceArguments"

// Output capture of a service's standard output and error, with its Parameters values.
#define CFG_STDOUT_FILE L"stdoutFile"
#define CFG_STDERR_FILE L"stderrFile"
#define CFG_LOG_ROTATE_BYTES L"logRotateBytes"
#define CFG_LOG_KEEP_FILES L"logKeepFiles"
#define CFG_LOG_TIMESTAMPS L"logTimestamps"
#define REGVAL_STDOUT_FILE L"StdoutFile"
#define REGVAL_STDERR_FILE L"StderrFile"
#define REGVAL_LOG_ROTATE_BYTES L"LogRotateBytes"
#define REGVAL_LOG_KEEP_FILES L"LogKeepFiles"
#define REGVAL_LOG_TIMESTAMPS L"LogTimestamps"

// Values of the service key, written through the Service Control Manager (Description directly).
#define REGVAL_DISPLAY_NAME L"DisplayName"
#define REGVAL_TYPE L"Type"
#define REGVAL_START L"Start"
#define REGVAL_ERROR_CONTROL L"ErrorControl"
#define REGVAL_IMAGE_PATH L"ImagePath"
#define REGVAL_DEPEND_ON_SERVICE L"DependOnService"
#define REGVAL_DESCRIPTION L"Description"

// Bit of the "Type" value that marks a service allowed to interact with the desktop.
#define BRONTEL_INTERACTIVE_TYPE_BIT 0x100

enum ConfigKeyStore {
    CONFIG_STORE_KEY_NAME,   // the name of the service key itself
    CONFIG_STORE_SERVICE,    // a value of the service key
    CONFIG_STORE_PARAMETERS, // a value of the Parameters key
};

struct ConfigKey {
    const wchar_t* configName; // key in the configuration file
    int required;              // installation fails without it
    ConfigKeyStore store;
    const wchar_t* valueName; // registry value; null for the service key's own name
    int numbered;             // configName and valueName are followed by 1, 2, ...
};

// In the order in which the report lists them.
inline const ConfigKey configKeys[] = {
    {CFG_SERVICE_DISPLAY_NAME, 1, CONFIG_STORE_SERVICE, REGVAL_DISPLAY_NAME, 0},
    {CFG_SERVICE_NAME, 1, CONFIG_STORE_KEY_NAME, nullptr, 0},
    {CFG_INTERACTIVE_SERVICE, 0, CONFIG_STORE_SERVICE, REGVAL_TYPE, 0},
    {CFG_START_TYPE, 0, CONFIG_STORE_SERVICE, REGVAL_START, 0},
    {CFG_ERROR_CONTROL, 0, CONFIG_STORE_SERVICE, REGVAL_ERROR_CONTROL, 0},
    {CFG_BINARY_PATH, 0, CONFIG_STORE_SERVICE, REGVAL_IMAGE_PATH, 0},
    {CFG_SERVICE_DEPENDENCIES, 0, CONFIG_STORE_SERVICE, REGVAL_DEPEND_ON_SERVICE, 0},
    {CFG_DESCRIPTION, 0, CONFIG_STORE_SERVICE, REGVAL_DESCRIPTION, 0},
    {CFG_JVM_DLL, 0, CONFIG_STORE_PARAMETERS, REGVAL_JVM_DLL, 0},
    {CFG_SERVICE_CLASS, 1, CONFIG_STORE_PARAMETERS, REGVAL_SERVICE_CLASS, 0},
    {CFG_COMMAND_LINE, 0, CONFIG_STORE_PARAMETERS, REGVAL_COMMAND_LINE, 0},
    {CFG_VERBOSE_OUTPUT, 0, CONFIG_STORE_PARAMETERS, REGVAL_VERBOSE_FILE, 0},
    {CFG_PREINIT_COMMAND, 0, CONFIG_STORE_PARAMETERS, REGVAL_PREINIT_CMD, 0},
    {CFG_PREINIT_WAIT_HINT, 0, CONFIG_STORE_PARAMETERS, REGVAL_PREINIT_HINT, 0},
    {CFG_STOP_TIMEOUT, 0, CONFIG_STORE_PARAMETERS, REGVAL_STOP_TIMEOUT, 0},
    {CFG_FAILURE_ACTIONS, 0, CONFIG_STORE_PARAMETERS, REGVAL_FAILURE_ACTIONS, 0},
    {CFG_FAILURE_RESET_PERIOD, 0, CONFIG_STORE_PARAMETERS, REGVAL_FAILURE_RESET_PERIOD, 0},
    {CFG_FAILURE_ON_NON_ZERO_EXIT, 0, CONFIG_STORE_PARAMETERS, REGVAL_FAILURE_ON_NON_ZERO_EXIT, 0},
    {CFG_TRACE_ARGUMENTS, 0, CONFIG_STORE_PARAMETERS, REGVAL_TRACE_ARGUMENTS, 0},
    {CFG_JVM_OPTION, 0, CONFIG_STORE_PARAMETERS, REGVAL_JVM_OPTION, 1},
    // Output capture, reported only when set.
    {CFG_STDOUT_FILE, 0, CONFIG_STORE_PARAMETERS, REGVAL_STDOUT_FILE, 0},
    {CFG_STDERR_FILE, 0, CONFIG_STORE_PARAMETERS, REGVAL_STDERR_FILE, 0},
    {CFG_LOG_ROTATE_BYTES, 0, CONFIG_STORE_PARAMETERS, REGVAL_LOG_ROTATE_BYTES, 0},
    {CFG_LOG_KEEP_FILES, 0, CONFIG_STORE_PARAMETERS, REGVAL_LOG_KEEP_FILES, 0},
    {CFG_LOG_TIMESTAMPS, 0, CONFIG_STORE_PARAMETERS, REGVAL_LOG_TIMESTAMPS, 0},
};
inline const int configKeyCount = static_cast<int>(sizeof(configKeys) / sizeof(configKeys[0]));

// The entry for a configuration key (ASCII case ignored; jvmOption followed by a number), or null.
inline const ConfigKey* findConfigKey(const wchar_t* configName) {
    if (configName == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& entry = configKeys[i];
        if (!entry.numbered) {
            if (asciiEqualNoCase(configName, entry.configName)) {
                return &entry;
            }
            continue;
        }
        size_t prefix = wcslen(entry.configName);
        if (wcslen(configName) <= prefix) {
            continue;
        }
        wchar_t head[32] = {0};
        if (prefix >= 32) {
            continue;
        }
        wmemcpy(head, configName, prefix);
        const wchar_t* digits = configName + prefix;
        bool allDigits = *digits != L'0';
        for (const wchar_t* d = digits; *d && allDigits; ++d) {
            allDigits = *d >= L'0' && *d <= L'9';
        }
        if (allDigits && asciiEqualNoCase(head, entry.configName)) {
            return &entry;
        }
    }
    return nullptr;
}

// The output capture keys: a contiguous group of the table, from stdoutFile on, in report order.
inline const int captureConfigKeyCount = 5;
inline const ConfigKey* captureConfigKeys() {
    return findConfigKey(CFG_STDOUT_FILE);
}

#endif
