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

const DWORD anyNumber = 0xFFFFFFFFu;
const int required = CONFIG_REQUIRED;
const int expanded = CONFIG_EXPANDED;
const int stored = CONFIG_REPORT_STORED;
const ConfigRefusal* const byRecovery = &stopAndRecoveryRefusal;
const ConfigRefusal* const byCapture = &captureRefusal;

} // namespace

// Columns: file key, registry value, where stored, kind, flags, maximum, default, choices,
// check, refusal, what a good value is, skeleton place, skeleton text.
const ConfigKey configKeys[] = {
    {CFG_SERVICE_DISPLAY_NAME, REGVAL_DISPLAY_NAME, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT,
     required, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 1,
     "# serviceDisplayName (required): the name under which the service is shown\n"
     "# in the Services control panel.\n"
     "serviceDisplayName=$$DISPLAYNAME$$\n"},
    {CFG_SERVICE_NAME, nullptr, CONFIG_STORE_KEY_NAME, CONFIG_KIND_TEXT, required, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 2,
     "# serviceName (required): the name by which Windows knows the service.\n"
     "# End users do not see it. Keep it simple, best without blanks and without\n"
     "# characters other than letters and digits.\n"
     "serviceName=$$SERVICENAME$$\n"},
    {CFG_INTERACTIVE_SERVICE, REGVAL_TYPE, CONFIG_STORE_SERVICE, CONFIG_KIND_FLAG, 0, 0, L"FALSE",
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 4,
     "# interactiveService (optional): TRUE lets the service interact with the desktop.\n"
     "# This key is optional: leave the line commented out to keep the default.\n"
     "# Read the Microsoft documentation on services before setting this key.\n"
     "# Interactive services come with restrictions, for example on the account\n"
     "# they may run under. Default: FALSE.\n"
     "#interactiveService=$$TRUE | FALSE$$\n"},
    {CFG_START_TYPE, REGVAL_START, CONFIG_STORE_SERVICE, CONFIG_KIND_CHOICE, 0, 0,
     L"SERVICE_DEMAND_START", startTypes, CONFIG_CHECK_NONE, nullptr, nullptr, 5,
     "# startType (optional): when the service is started.\n"
     "# SERVICE_AUTO_START: the service control manager starts the service\n"
     "#     automatically while the system starts up.\n"
     "# SERVICE_DEMAND_START: the service is started by hand, by a user or by\n"
     "#     a program.\n"
     "# SERVICE_DISABLED: the service cannot be started.\n"
     "# Default: SERVICE_DEMAND_START.\n"
     "# Put one of the three values in place of the placeholder.\n"
     "#startType=$$SERVICE_AUTO_START | SERVICE_DEMAND_START | SERVICE_DISABLED$$\n"},
    {CFG_ERROR_CONTROL, REGVAL_ERROR_CONTROL, CONFIG_STORE_SERVICE, CONFIG_KIND_CHOICE, 0, 0,
     L"SERVICE_ERROR_NORMAL", errorControls, CONFIG_CHECK_NONE, nullptr, nullptr, 6,
     "# errorControl (optional): what the system start-up does when the service\n"
     "# fails to start. Default: SERVICE_ERROR_NORMAL.\n"
     "# SERVICE_ERROR_IGNORE: the failure is logged and start-up goes on.\n"
     "# SERVICE_ERROR_NORMAL: the failure is logged, a message box is shown and\n"
     "#     start-up goes on.\n"
     "# SERVICE_ERROR_SEVERE: the failure is logged. If the last known good\n"
     "#     configuration is being started, start-up goes on; otherwise the\n"
     "#     system restarts with the last known good configuration.\n"
     "# SERVICE_ERROR_CRITICAL: the failure is logged if possible. If the last\n"
     "#     known good configuration is being started, start-up fails;\n"
     "#     otherwise the system restarts with the last known good\n"
     "#     configuration.\n"
     "# Put one of the four values in place of the placeholder, or leave the\n"
     "# line as it is to keep the default.\n"
     "#errorControl=$$SERVICE_ERROR_IGNORE | SERVICE_ERROR_NORMAL | SERVICE_ERROR_SEVERE | "
     "SERVICE_ERROR_CRITICAL$$\n"},
    {CFG_BINARY_PATH, REGVAL_IMAGE_PATH, CONFIG_STORE_SERVICE, CONFIG_KIND_PATH, 0, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 7,
     "# binaryPath (optional): the full path of brontel.exe, which runs the service.\n"
     "# This key is optional: leave the line commented out to keep the default.\n"
     "# Read the Microsoft documentation on services before setting this key.\n"
     "# Default: the binary that is run when installing the service, that is the\n"
     "# brontel.exe that carries out the installation.\n"
     "#binaryPath=$$BINARYPATH$$\n"},
    {CFG_SERVICE_DEPENDENCIES, REGVAL_DEPEND_ON_SERVICE, CONFIG_STORE_SERVICE, CONFIG_KIND_LIST, 0,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 8,
     "# serviceDependencies (optional): the services that must have started\n"
     "# before this one starts.\n"
     "# Give their service names, not their display names, as a list separated\n"
     "# by commas, with no blanks between the names and the commas, for example:\n"
     "#     Tcpip,EventLog\n"
     "# Default: no dependencies.\n"
     "#serviceDependencies=$$DEPENDENCIES$$\n"},
    {CFG_DESCRIPTION, REGVAL_DESCRIPTION, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, 0, 0, nullptr,
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 9,
     "# description (optional): a short text about the service, shown in the\n"
     "# Description column of the Services control panel.\n"
     "# Everything after the = sign belongs to the text, a # character too.\n"
     "# Keep it on one line.\n"
     "# Default: no description.\n"
     "#description=$$DESCRIPTION$$\n"},
    // One Environment value of NAME=VALUE strings; %NAME% in a value is expanded at start.
    {CFG_ENVIRONMENT, REGVAL_ENVIRONMENT, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, CONFIG_NUMBERED,
     0, nullptr, nullptr, CONFIG_CHECK_VARIABLE, byRecovery,
     L"it must be NAME=VALUE, with a name before the first = sign", 0,
     "# environmentN: NAME=VALUE, a variable of the service's environment (1, 2, ...).\n"
     "#environment1=APP_HOME=%ProgramFiles%\\MyService\n"},
    // Set through the Service Control Manager with the service; LocalSystem is not reported.
    {CFG_ACCOUNT, REGVAL_OBJECT_NAME, CONFIG_STORE_SERVICE, CONFIG_KIND_TEXT, 0, 0, L"LocalSystem",
     nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0,
     "# account: the account the service logs on as (a user's password: -p, never here).\n"
     "#account=NT SERVICE\\MyService\n"},
    {CFG_JVM_DLL, REGVAL_JVM_DLL, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     BRONTEL_DEFAULT_JVM_LIBRARY, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 10,
     "# jvmDLL (optional): the full path of the JVM library to load, for example\n"
     "#     %ProgramFiles%\\Java\\jdk-17\\bin\\server\\jvm.dll\n"
     "# A path that is not absolute is refused: the current directory and PATH\n"
     "# are never searched, since others may be able to write there.\n"
     "# Default: jvm.dll beside brontel.exe, else an installed Java runtime's.\n"
     "#jvmDLL=$$DLL$$\n"},
    {CFG_SERVICE_CLASS, REGVAL_SERVICE_CLASS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT,
     required | expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 3,
     "# ibrontelClass (required): the fully qualified name of the Java class that\n"
     "# implements the IBrontel interface.\n"
     "ibrontelClass=$$SERVICECLASSNAME$$\n"},
    // Handed to serviceMain literally: %NAME% in it is the service's business.
    {CFG_COMMAND_LINE, REGVAL_COMMAND_LINE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT, 0, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 12,
     "# commandLineParms (optional): the parameters passed to the serviceMain\n"
     "# method of the service class.\n"
     "# Default: no parameters.\n"
     "#commandLineParms=$$COMMAND_LINE$$\n"},
    {CFG_VERBOSE_OUTPUT, REGVAL_VERBOSE_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 13,
     "# verboseOutput (optional): the file that receives the JVM's verbose\n"
     "# output, for example when the JVM option -verbose:class is given.\n"
     "# The file is appended to.\n"
     "# Default: no file.\n"
     "#verboseOutput=$$FILENAME$$\n"},
    {CFG_PREINIT_COMMAND, REGVAL_PREINIT_CMD, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT, expanded,
     0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 14,
     "# preinitCommand (optional): a command that is run before the JVM is\n"
     "# initialized.\n"
     "# A batch file must be run by its command interpreter, for example:\n"
     "#     cmd.exe /c \"%ProgramFiles%\\MyService\\prepare.bat\"\n"
     "# Give preinitWaitHint as well when the command takes a while.\n"
     "# Default: no command.\n"
     "#preinitCommand=$$COMMAND$$\n"},
    // Read as the C runtime reads a number: what is not one gives 0.
    {CFG_PREINIT_WAIT_HINT, REGVAL_PREINIT_HINT, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER,
     expanded, anyNumber, L"2000", nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 15,
     "# preinitWaitHint (optional): the wait hint, in milliseconds, that the\n"
     "# service reports to Windows while the preinitCommand runs.\n"
     "# Set it to a little more than the time the command needs, so that\n"
     "# Windows does not give up on the starting service too early.\n"
     "# Default: 2000.\n"
     "#preinitWaitHint=$$HINTMILLISECONDS$$\n"},
    // Entered before the pre-initialization command runs and the VM is created.
    {CFG_WORKING_DIRECTORY, REGVAL_WORKING_DIRECTORY, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH,
     expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0,
     "# workingDirectory: the folder the service starts in (its relative paths start there).\n"
     "#workingDirectory=%ProgramData%\\MyService\n"},
    {CFG_STOP_TIMEOUT, REGVAL_STOP_TIMEOUT, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, stored,
     anyNumber / 1000, nullptr, nullptr, CONFIG_CHECK_WHOLE_NUMBER, byRecovery,
     L"it must be a whole number of seconds from 0 to 4294967", 0,
     "# stopTimeout: seconds a stop may show no progress before brontel ends the service (code "
     "28).\n"
     "#stopTimeout=60\n"},
    {CFG_FAILURE_ACTIONS, REGVAL_FAILURE_ACTIONS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_LIST, stored,
     0, nullptr, nullptr, CONFIG_CHECK_FAILURE_ACTIONS, byRecovery, nullptr, 0,
     "# failureActions: Windows' recovery after a failure, for example restart/60000,none/0.\n"
     "#failureActions=restart/60000,restart/60000,none/0\n"},
    {CFG_FAILURE_RESET_PERIOD, REGVAL_FAILURE_RESET_PERIOD, CONFIG_STORE_PARAMETERS,
     CONFIG_KIND_NUMBER, stored, anyNumber, L"86400", nullptr, CONFIG_CHECK_WHOLE_NUMBER,
     byRecovery, L"it must be a whole number of seconds below 4294967296", 0,
     "# failureResetPeriod: seconds without failures after which the count starts again.\n"
     "#failureResetPeriod=86400\n"},
    {CFG_FAILURE_ON_NON_ZERO_EXIT, REGVAL_FAILURE_ON_NON_ZERO_EXIT, CONFIG_STORE_PARAMETERS,
     CONFIG_KIND_FLAG, stored, 0, L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byRecovery,
     L"it must be TRUE or FALSE", 0,
     "# failureOnNonZeroExit: TRUE counts a stop with a non-zero exit code as a failure too.\n"
     "#failureOnNonZeroExit=FALSE\n"},
    // Lets the trace show the arguments of the pre-initialization command and of --stop-arg.
    {CFG_TRACE_ARGUMENTS, REGVAL_TRACE_ARGUMENTS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_FLAG, stored,
     0, L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byRecovery, L"it must be TRUE or FALSE", 0,
     "# traceArguments: TRUE lets the trace show command arguments, which may hold secrets.\n"
     "#traceArguments=FALSE\n"},
    {CFG_STDOUT_FILE, REGVAL_STDOUT_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0,
     "# stdoutFile: the file that receives the service's standard output, rotated by size.\n"
     "#stdoutFile=%ProgramData%\\MyService\\logs\\stdout.log\n"},
    {CFG_STDERR_FILE, REGVAL_STDERR_FILE, CONFIG_STORE_PARAMETERS, CONFIG_KIND_PATH, expanded, 0,
     nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 0,
     "# stderrFile: the file for standard error; the stdoutFile path gives one file for both.\n"
     "#stderrFile=%ProgramData%\\MyService\\logs\\stderr.log\n"},
    {CFG_LOG_ROTATE_BYTES, REGVAL_LOG_ROTATE_BYTES, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, 0,
     anyNumber, L"10485760", nullptr, CONFIG_CHECK_DIGITS, byCapture,
     L"a whole number of bytes from 0 to 4294967295", 0,
     "# logRotateBytes: the size at which a capture file rotates; 0 never rotates.\n"
     "#logRotateBytes=10485760\n"},
    {CFG_LOG_KEEP_FILES, REGVAL_LOG_KEEP_FILES, CONFIG_STORE_PARAMETERS, CONFIG_KIND_NUMBER, 0, 999,
     L"5", nullptr, CONFIG_CHECK_DIGITS, byCapture, L"a whole number from 0 to 999", 0,
     "# logKeepFiles: how many rotated capture files are kept, 0 to 999.\n"
     "#logKeepFiles=5\n"},
    {CFG_LOG_TIMESTAMPS, REGVAL_LOG_TIMESTAMPS, CONFIG_STORE_PARAMETERS, CONFIG_KIND_FLAG, 0, 0,
     L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byCapture, L"TRUE or FALSE", 0,
     "# logTimestamps: TRUE puts the local time at the start of each captured line.\n"
     "#logTimestamps=FALSE\n"},
    {CFG_LOG_ROTATE_DAILY, REGVAL_LOG_ROTATE_DAILY, CONFIG_STORE_PARAMETERS, CONFIG_KIND_FLAG, 0, 0,
     L"FALSE", nullptr, CONFIG_CHECK_TRUE_FALSE, byCapture, L"TRUE or FALSE", 0,
     "# logRotateDaily: TRUE also starts a new capture file each day, named by its date.\n"
     "#logRotateDaily=FALSE\n"},
    // Reported last, under the registry's own names (keys compare without regard to case).
    {CFG_JVM_OPTION, REGVAL_JVM_OPTION, CONFIG_STORE_PARAMETERS, CONFIG_KIND_TEXT,
     CONFIG_NUMBERED | expanded, 0, nullptr, nullptr, CONFIG_CHECK_NONE, nullptr, nullptr, 11,
     "# jvmOption1 ... jvmOptionN (optional): the options passed to the JVM, one\n"
     "# option per key. Number them from 1 without gaps: reading stops at the\n"
     "# first missing number. Add further jvmOptionN lines as needed.\n"
     "# Default: no options.\n"
     "# For example:\n"
     "#jvmOption1=-Djava.class.path=%ProgramFiles%\\MyService\\classes\n"
     "#jvmOption2=-Djava.compiler=NONE\n"
     "# On the class path: only folders administrators alone can write, never \".\".\n"
     "#jvmOption1=$$OPTION1$$\n"
     "#jvmOption2=$$OPTION2$$\n"},
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
