// The configuration keys: the one table from which installation, the installed-service report
// (-d, -e), the skeleton (-c), the unknown-key suggestions and the run-time settings all work.
// Adding a key means one entry in settings/config_keys.cpp plus the code that uses its value.
#ifndef BRONTEL_SETTINGS_CONFIG_KEYS_H
#define BRONTEL_SETTINGS_CONFIG_KEYS_H

#include "platform/result_codes.h"
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
// Whether the trace may show the arguments of commands (they may hold secrets).
#define CFG_TRACE_ARGUMENTS L"traceArguments"
// The service process's environment variables (NAME=VALUE, numbered from 1) and its working
// directory.
#define CFG_ENVIRONMENT L"environment"
#define CFG_WORKING_DIRECTORY L"workingDirectory"
// The account the service logs on as (the service key's ObjectName); -a overrides it. Its
// password is never stored in a file: -p gives it.
#define CFG_ACCOUNT L"account"
#define REGVAL_WORKING_DIRECTORY L"WorkingDirectory"

// Output capture of a service's standard output and error, with its Parameters values.
#define CFG_STDOUT_FILE L"stdoutFile"
#define CFG_STDERR_FILE L"stderrFile"
#define CFG_LOG_ROTATE_BYTES L"logRotateBytes"
#define CFG_LOG_KEEP_FILES L"logKeepFiles"
#define CFG_LOG_TIMESTAMPS L"logTimestamps"
#define CFG_LOG_ROTATE_DAILY L"logRotateDaily"
#define REGVAL_STDOUT_FILE L"StdoutFile"
#define REGVAL_STDERR_FILE L"StderrFile"
#define REGVAL_LOG_ROTATE_BYTES L"LogRotateBytes"
#define REGVAL_LOG_KEEP_FILES L"LogKeepFiles"
#define REGVAL_LOG_TIMESTAMPS L"LogTimestamps"
#define REGVAL_LOG_ROTATE_DAILY L"LogRotateDaily"

// Values of the service key, written through the Service Control Manager (Description directly).
#define REGVAL_DISPLAY_NAME L"DisplayName"
#define REGVAL_TYPE L"Type"
#define REGVAL_START L"Start"
#define REGVAL_ERROR_CONTROL L"ErrorControl"
#define REGVAL_IMAGE_PATH L"ImagePath"
#define REGVAL_DEPEND_ON_SERVICE L"DependOnService"
#define REGVAL_DESCRIPTION L"Description"
#define REGVAL_OBJECT_NAME L"ObjectName"
// NAME=VALUE strings (REG_MULTI_SZ) that the Service Control Manager adds to the process's
// environment; written directly, as no service manager call sets it.
#define REGVAL_ENVIRONMENT L"Environment"

// Bit of the "Type" value that marks a service allowed to interact with the desktop.
#define BRONTEL_INTERACTIVE_TYPE_BIT 0x100

enum ConfigKeyStore {
    CONFIG_STORE_KEY_NAME,   // the name of the service key itself
    CONFIG_STORE_SERVICE,    // a value of the service key, set through the Service Control Manager
    CONFIG_STORE_PARAMETERS, // a value of the Parameters key, written as the file gives it
};

enum ConfigKeyKind {
    CONFIG_KIND_TEXT,
    CONFIG_KIND_PATH,
    CONFIG_KIND_NUMBER, // 0 to the entry's maximum
    CONFIG_KIND_FLAG,   // TRUE or FALSE
    CONFIG_KIND_LIST,   // items separated by commas
    CONFIG_KIND_CHOICE, // one of the entry's choices
};

// How installation checks a value before anything is created.
enum ConfigKeyCheck {
    CONFIG_CHECK_NONE,            // any text is taken
    CONFIG_CHECK_WHOLE_NUMBER,    // digits up to the maximum, blanks around them allowed
    CONFIG_CHECK_DIGITS,          // digits up to the maximum and nothing else
    CONFIG_CHECK_TRUE_FALSE,      // TRUE or FALSE in any case
    CONFIG_CHECK_FAILURE_ACTIONS, // action/delay items (registry/option_values.h)
    CONFIG_CHECK_VARIABLE,        // NAME=VALUE with a name before the first = sign
};

// The flags of an entry.
#define CONFIG_REQUIRED 0x01      // installation fails without it
#define CONFIG_NUMBERED 0x02      // configName and valueName are followed by 1, 2, ... no gaps
#define CONFIG_EXPANDED 0x04      // the service reads it with %NAME% references expanded
#define CONFIG_REPORT_STORED 0x08 // -d shows it as stored (else with references resolved)
#define CONFIG_REPORT_NEVER 0x10  // -d and -e leave it out

// A named value of a choice key.
struct ConfigChoice {
    const wchar_t* name;
    DWORD value;
};

// How a malformed value is refused: its result code and its one wording, "The value <value> of
// <key> cannot be used: <why>. Nothing was installed." (code 5) or "The value <value> is not
// valid for <key>: expected <why>. Nothing was installed." (code 34).
struct ConfigRefusal {
    int code;
    int firstOnly; // the first malformed value of this kind ends the check
    void (*report)(CLogger* logger, const wchar_t* key, const wchar_t* value, const wchar_t* why);
};
extern const ConfigRefusal stopAndRecoveryRefusal;
extern const ConfigRefusal captureRefusal;

struct ConfigKey {
    const wchar_t* configName; // key in the configuration file
    const wchar_t* valueName;  // registry value; null for the service key's own name
    ConfigKeyStore store;
    ConfigKeyKind kind;
    int flags;                   // CONFIG_ flags above
    DWORD maximum;               // CONFIG_KIND_NUMBER: the largest value
    const wchar_t* defaultValue; // in force when the key is absent; null: nothing
    const ConfigChoice* choices; // CONFIG_KIND_CHOICE: ends with a null name
    ConfigKeyCheck check;
    const ConfigRefusal* refusal; // with a check: how a malformed value is refused
    const wchar_t* expected;      // with a check: what a good value is, in the refusal's words
    int skeletonOrder;            // place in the skeleton (1 first); 0: not in its first text
    // The skeleton's lines for the key, each ending with a newline. With skeletonOrder 0, the
    // lines of a key added since the skeleton's first text: one comment saying what it does and
    // the commented key line, listed after that text in table order.
    const char* skeleton;
};

// In the order in which -d and -e list them.
extern const ConfigKey configKeys[];
extern const int configKeyCount;

// The entry for a configuration key (ASCII case ignored; a numbered key followed by a number
// from 1 without leading zeros), or null.
const ConfigKey* findConfigKey(const wchar_t* configName);
// The name of a choice's value, or null when no choice has that value.
const wchar_t* configChoiceName(const ConfigKey& key, DWORD value);
// The value of a choice's name (ASCII case ignored); 1 when found.
int configChoiceValue(const ConfigKey& key, const wchar_t* name, DWORD* value);

#endif
