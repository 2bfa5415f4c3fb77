// The configuration key table, with each key's skeleton text.
#include "settings/config_keys.h"

#include "registry/option_values.h"

namespace {

// An automatic start that Windows holds back until the other automatic services have started.
const DWORD delayedAutoStart = 0x100 | SERVICE_AUTO_START;
const ConfigChoice startTypes[] = {{L"SERVICE_AUTO_START", SERVICE_AUTO_START},
                                   {L"SERVICE_DELAYED_AUTO_START", delayedAutoStart},
                                   {L"SERVICE_DEMAND_START", SERVICE_DEMAND_START},
                                   {L"SERVICE_DISABLED", SERVICE_DISABLED},
                                   {nullptr, 0}};
const ConfigChoice errorControls[] = {{L"SERVICE_ERROR_IGNORE", SERVICE_ERROR_IGNORE},
                                      {L"SERVICE_ERROR_NORMAL", SERVICE_ERROR_NORMAL},
                                      {L"SERVICE_ERROR_SEVERE", SERVICE_ERROR_SEVERE},
                                      {L"SERVICE_ERROR_CRITICAL", SERVICE_ERROR_CRITICAL},
                                      {nullptr, 0}};

// The skeleton's text of each key: the comment, then the line to fill in.
const char* const displayNameText[] = {
    "# serviceDisplayName (required): the name under which the service is shown",
    "# in the Services control panel.", "serviceDisplayName=$$DISPLAYNAME$$", nullptr};
const char* const serviceNameText[] = {
    "# serviceName (required): the name by which Windows knows the service.",
    "# End users do not see it. Keep it simple, best without blanks and without",
    "# characters other than letters and digits.", "serviceName=$$SERVICENAME$$", nullptr};
const char* const serviceClassText[] = {
    "# ibrontelClass (required): the fully qualified name of the Java class that",
    "# implements the IBrontel interface.", "ibrontelClass=$$SERVICECLASSNAME$$", nullptr};
const char* const interactiveText[] = {
    "# interactiveService (optional): TRUE lets the service interact with the desktop.",
    "# This key is optional: leave the line commented out to keep the default.",
    "# Read the Microsoft documentation on services before setting this key.",
    "# Interactive services come with restrictions, for example on the account",
    "# they may run under. Default: FALSE.",
    "#interactiveService=$$TRUE | FALSE$$",
    nullptr};
const char* const startTypeText[] = {
    "# startType (optional): when the service is started.",
    "# SERVICE_AUTO_START: the service control manager starts the service",
    "#     automatically while the system starts up.",
    "# SERVICE_DEMAND_START: the service is started by hand, by a user or by",
    "#     a program.",
    "# SERVICE_DISABLED: the service cannot be started.",
    "# Default: SERVICE_DEMAND_START.",
    "# Put one of the three values in place of the placeholder.",
    "#startType=$$SERVICE_AUTO_START | SERVICE_DEMAND_START | SERVICE_DISABLED$$",
    nullptr};
const char* const errorControlText[] = {
    "# errorControl (optional): what the system start-up does when the service",
    "# fails to start. Default: SERVICE_ERROR_NORMAL.",
    "# SERVICE_ERROR_IGNORE: the failure is logged and start-up goes on.",
    "# SERVICE_ERROR_NORMAL: the failure is logged, a message box is shown and",
    "#     start-up goes on.",
    "# SERVICE_ERROR_SEVERE: the failure is logged. If the last known good",
    "#     configuration is being started, start-up goes on; otherwise the",
    "#     system restarts with the last known good configuration.",
    "# SERVICE_ERROR_CRITICAL: the failure is logged if possible. If the last",
    "#     known good configuration is being started, start-up fails;",
    "#     otherwise the system restarts with the last known good",
    "#     configuration.",
    "# Put one of the four values in place of the placeholder, or leave the",
    "# line as it is to keep the default.",
    ("#errorControl=$$SERVICE_ERROR_IGNORE | SERVICE_ERROR_NORMAL | SERVICE_ERROR_SEVERE | "
     "SERVICE_ERROR_CRITICAL$$"),
    nullptr};
const char* const binaryPathText[] = {
    "# binaryPath (optional): the full path of brontel.exe, which runs the service.",
    "# This key is optional: leave the line commented out to keep the default.",
    "# Read the Microsoft documentation on services before setting this key.",
    "# Default: the binary that is run when installing the service, that is the",
    "# brontel.exe that carries out the installation.",
    "#binaryPath=$$BINARYPATH$$",
    nullptr};
const char* const dependenciesText[] = {
    "# serviceDependencies (optional): the services that must have started",
    "# before this one starts.",
    "# Give their service names, not their display names, as a list separated",
    "# by commas, with no blanks between the names and the commas, for example:",
    "#     Tcpip,EventLog",
    "# Default: no dependencies.",
    "#serviceDependencies=$$DEPENDENCIES$$",
    nullptr};
const char* const descriptionText[] = {
    "# description (optional): a short text about the service, shown in the",
    "# Description column of the Services control panel.",
    "# Everything after the = sign belongs to the text, a # character too.",
    "# Keep it on one line.",
    "# Default: no description.",
    "#description=$$DESCRIPTION$$",
    nullptr};
const char* const jvmLibraryText[] = {
    "# jvmDLL (optional): the full path of the JVM library to load, for example",
    "#     %ProgramFiles%\\Java\\jdk-17\\bin\\server\\jvm.dll",
    "# A path that is not absolute is refused: the current directory and PATH",
    "# are never searched, since others may be able to write there.",
    "# Default: jvm.dll beside brontel.exe, else an installed Java runtime's.",
    "#jvmDLL=$$DLL$$",
    nullptr};
const char* const jvmOptionText[] = {
    "# jvmOption1 ... jvmOptionN (optional): the options passed to the JVM, one",
    "# option per key. Number them from 1 without gaps: reading stops at the",
    "# first missing number. Add further jvmOptionN lines as needed.",
    "# Default: no options.",
    "# For example:",
    "#jvmOption1=-Djava.class.path=%ProgramFiles%\\MyService\\classes",
    "#jvmOption2=-Djava.compiler=NONE",
    "# On the class path: only folders administrators alone can write, never \".\".",
    "#jvmOption1=$$OPTION1$$",
    "#jvmOption2=$$OPTION2$$",
    nullptr};
const char* const commandLineText[] = {
    "# commandLineParms (optional): the parameters passed to the serviceMain",
    "# method of the service class.", "# Default: no parameters.",
    "#commandLineParms=$$COMMAND_LINE$$", nullptr};
const char* const verboseText[] = {
    "# verboseOutput (optional): the file that receives the JVM's verbose",
    "# output, for example when the JVM option -verbose:class is given.",
    "# The file is appended to.",
    "# Default: no file.",
    "#verboseOutput=$$FILENAME$$",
    nullptr};
const char* const preinitCommandText[] = {
    "# preinitCommand (optional): a command that is run before the JVM is",
    "# initialized.",
    "# A batch file must be run by its command interpreter, for example:",
    "#     cmd.exe /c \"%ProgramFiles%\\MyService\\prepare.bat\"",
    "# Give preinitWaitHint as well when the command takes a while.",
    "# Default: no command.",
    "#preinitCommand=$$COMMAND$$",
    nullptr};
const char* const preinitHintText[] = {
    "# preinitWaitHint (optional): the wait hint, in milliseconds, that the",
    "# service reports to Windows while the preinitCommand runs.",
    "# Set it to a little more than the time the command needs, so that",
    "# Windows does not give up on the starting service too early.",
    "# Default: 2000.",
    "#preinitWaitHint=$$HINTMILLISECONDS$$",
    nullptr};

const DWORD anyNumber = 0xFFFFFFFFu;
const int required = CONFIG_REQUIRED;
const int expanded = CONFIG_EXPANDED;
const int stored = CONFIG_REPORT_STORED;
const ConfigRefusal* const byRecovery = &stopAndRecoveryRefusal;
const ConfigRefusal* const byCapture = &captureRefusal;

// ---- Keys added since the skeleton's first text: its closing list (config/skeleton_template).
const char* const stopTimeoutAdded[] = {
    "# stopTimeout: seconds a stop may show no progress before brontel ends the service (code 28).",
    "#stopTimeout=60", nullptr};
const char* const failureActionsAdded[] = {
    "# failureActions: Windows' recovery after a failure, for example restart/60000,none/0.",
    "#failureActions=restart/60000,restart/60000,none/0", nullptr};
const char* const failureResetAdded[] = {
    "# failureResetPeriod: seconds without failures after which the count starts again.",
    "#failureResetPeriod=86400", nullptr};
const char* const failureOnNonZeroAdded[] = {
    "# failureOnNonZeroExit: TRUE counts a stop with a non-zero exit code as a failure too.",
    "#failureOnNonZeroExit=FALSE", nullptr};
const char* const traceArgumentsAdded[] = {
    "# traceArguments: TRUE lets the trace show command arguments, which may hold secrets.",
    "#traceArguments=FALSE", nullptr};
const char* const stdoutFileAdded[] = {
    "# stdoutFile: the file that receives the service's standard output, rotated by size.",
    "#stdoutFile=%ProgramData%\\MyService\\logs\\stdout.log", nullptr};
const char* const stderrFileAdded[] = {
    "# stderrFile: the file for standard error; the stdoutFile path gives one file for both.",
    "#stderrFile=%ProgramData%\\MyService\\logs\\stderr.log", nullptr};
const char* const logRotateAdded[] = {
    "# logRotateBytes: the size at which a capture file rotates; 0 never rotates.",
    "#logRotateBytes=10485760", nullptr};
const char* const logKeepAdded[] = {
    "# logKeepFiles: how many rotated capture files are kept, 0 to 999.", "#logKeepFiles=5",
    nullptr};
const char* const logTimestampsAdded[] = {
    "# logTimestamps: TRUE puts the local time at the start of each captured line.",
    "#logTimestamps=FALSE", nullptr};
const char* const environmentAdded[] = {
    "# environmentN: NAME=VALUE, a variable of the service's environment (1, 2, ...).",
    "#environment1=APP_HOME=%ProgramFiles%\\MyService", nullptr};
const char* const workingDirectoryAdded[] = {
    "# workingDirectory: the folder the service starts in (its relative paths start there).",
    "#workingDirectory=%ProgramData%\\MyService", nullptr};
const char* const accountAdded[] = {
    "# account: the account the service logs on as (a user's password: -p, never here).",
    "#account=NT SERVICE\\MyService", nullptr};
// ---- end of the added keys' skeleton lines

} // namespace

// Columns: file key, registry value, where stored, kind, flags, maximum, default, choices,
// check, refusal, what a good value is, skeleton place, skeleton text.
const ConfigKey configKeys[] = {
    {CFG_SERVICE_DISPLAY_NAME, REGVAL_DISPLAY_NAME, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT,
     required, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 1, displayNameText},
    {CFG_SERVICE_NAME, nullptr, CONFIG_STORE_KEY_NAME, CONFIG_KIND_TEXT, required, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 2, serviceNameText},
    {CFG_INTERACTIVE_SERVICE, REGVAL_TYPE, CONFIG_STORE_SERVICE, CONFIG_KIND_FLAG, 0, 0, L"FALSE",
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 4, interactiveText},
    {CFG_START_TYPE, REGVAL_START, CONFIG_STORE_SERVICE, CONFIG_KIND_CHOICE, 0, 0,
     L"SERVICE_DEMAND_START", startTypes, CONFIG_CHECK_NONE, nullptr, nullptr, 5, startTypeText},
    {CFG_ERROR_CONTROL, REGVAL_ERROR_CONTROL, CONFIG_STORE_SERVICE, CONFIG_KIND_CHOICE, 0, 0,
     L"SERVICE_ERROR_NORMAL", errorControls, CONFIG_CHECK_NONE, nullptr, nullptr, 6,
     errorControlText},
    {CFG_BINARY_PATH, REGVAL_IMAGE_PATH, CONFIG_STORE_SERVICE, CONFIG_KIND_PATH, 0, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 7, binaryPathText},
    {CFG_SERVICE_DEPENDENCIES, REGVAL_DEPEND_ON_SERVICE, CONFIG_STORE_SERVICE, CONFIG_KIND_LIST, 0,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 8, dependenciesText},
    {CFG_DESCRIPTION, REGVAL_DESCRIPTION, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, 0, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 9, descriptionText},
    // One Environment value of NAME=VALUE strings; %NAME% in a value is expanded at start.
    {CFG_ENVIRONMENT, REGVAL_ENVIRONMENT, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, CONFIG_NUMBERED,
     0, nullptr, nullptr, CONFIG_CHECK_VARIABLE, byRecovery,
     L"it must be NAME=VALUE, with a name before the first = sign", 0, environmentAdded},
    // Set through the Service Control Manager with the service; LocalSystem is not reported.
    {CFG_ACCOUNT, REGVAL_OBJECT_NAME, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, 0, 0, L"LocalSystem",
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0, accountAdded},
    {CFG_JVM_DLL, REGVAL_JVM_DLL, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     BRONTEL_DEFAULT_JVM_LIBRARY, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 10, jvmLibraryText},
    {CFG_SERVICE_CLASS, REGVAL_SERVICE_CLASS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT,
     required | expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 3,
     serviceClassText},
    // Handed to serviceMain literally: %NAME% in it is the service's business.
    {CFG_COMMAND_LINE, REGVAL_COMMAND_LINE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT, 0, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 12, commandLineText},
    {CFG_VERBOSE_OUTPUT, REGVAL_VERBOSE_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 13, verboseText},
    {CFG_PREINIT_COMMAND, REGVAL_PREINIT_CMD, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT, expanded,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 14, preinitCommandText},
    // Read as the C runtime reads a number: what is not one gives 0.
    {CFG_PREINIT_WAIT_HINT, REGVAL_PREINIT_HINT, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER,
     expanded, anyNumber, L"2000", nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 15,
     preinitHintText},
    // Entered before the pre-initialization command runs and the VM is created.
    {CFG_WORKING_DIRECTORY, REGVAL_WORKING_DIRECTORY, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH,
     expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0, workingDirectoryAdded},
    {CFG_STOP_TIMEOUT, REGVAL_STOP_TIMEOUT, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, stored,
     anyNumber / 1000, nullptr, nullptr, CONFIG_CHECK_WHOLE_NUMBER, byRecovery,
     L"it must be a whole number of seconds from 0 to 4294967", 0, stopTimeoutAdded},
    {CFG_FAILURE_ACTIONS, REGVAL_FAILURE_ACTIONS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_LIST, stored,
     0, nullptr, nullptr, CONFIG_CHECK_FAILURE_ACTIONS, byRecovery, nullptr, 0,
     failureActionsAdded},
    {CFG_FAILURE_RESET_PERIOD, REGVAL_FAILURE_RESET_PERIOD, CONFIG_STORE_PARAMETERS,
     CONFIG_KIND_NUMBER, stored, anyNumber, L"86400", nullptr, CONFIG_CHECK_WHOLE_NUMBER,
     byRecovery, L"it must be a whole number of seconds below 4294967296", 0, failureResetAdded},
    {CFG_FAILURE_ON_NON_ZERO_EXIT, REGVAL_FAILURE_ON_NON_ZERO_EXIT, CONFIG_STORE_PARAMETERS,
     CONFIG_KIND_FLAG, stored, 0, L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byRecovery,
     L"it must be TRUE or FALSE", 0, failureOnNonZeroAdded},
    // Lets the trace show the arguments of the pre-initialization command and of --stop-arg.
    {CFG_TRACE_ARGUMENTS, REGVAL_TRACE_ARGUMENTS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_FLAG, stored,
     0, L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byRecovery, L"it must be TRUE or FALSE", 0,
     traceArgumentsAdded},
    {CFG_STDOUT_FILE, REGVAL_STDOUT_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0, stdoutFileAdded},
    {CFG_STDERR_FILE, REGVAL_STDERR_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0, stderrFileAdded},
    {CFG_LOG_ROTATE_BYTES, REGVAL_LOG_ROTATE_BYTES, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, 0,
     anyNumber, L"10485760", nullptr, CONFIG_CHECK_DIGITS, byCapture,
     L"a whole number of bytes from 0 to 4294967295", 0, logRotateAdded},
    {CFG_LOG_KEEP_FILES, REGVAL_LOG_KEEP_FILES, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, 0, 999,
     L"5", nullptr, CONFIG_CHECK_DIGITS, byCapture, L"a whole number from 0 to 999", 0,
     logKeepAdded},
    {CFG_LOG_TIMESTAMPS, REGVAL_LOG_TIMESTAMPS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_FLAG, 0, 0,
     L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byCapture, L"TRUE or FALSE", 0,
     logTimestampsAdded},
    // Reported last, under the registry's own names (keys compare without regard to case).
    {CFG_JVM_OPTION, REGVAL_JVM_OPTION, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT,
     CONFIG_NUMBERED | expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 11,
     jvmOptionText},
};
const int configKeyCount = static_cast<int>(sizeof(configKeys) / sizeof(configKeys[0]));

const ConfigKey* findConfigKey(const wchar_t* configName) {
    if (configName == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& entry = configKeys[i];
        if ((entry.flags & CONFIG_NUMBERED) == 0) {
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

const wchar_t* configChoiceName(const ConfigKey& key, DWORD value) {
    for (const ConfigChoice* choice = key.choices; choice != nullptr && choice->name != nullptr;
         ++choice) {
        if (choice->value == value) {
            return choice->name;
        }
    }
    return nullptr;
}

int configChoiceValue(const ConfigKey& key, const wchar_t* name, DWORD* value) {
    for (const ConfigChoice* choice = key.choices; choice != nullptr && choice->name != nullptr;
         ++choice) {
        if (asciiEqualNoCase(name, choice->name)) {
            *value = choice->value;
            return 1;
        }
    }
    return 0;
}
