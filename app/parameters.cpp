#include "app/parameters.h"

#include "app/tracing_switch.h"
#include "config/build_stamp.h"
#include "platform/result_codes.h"
#include "registry/option_values.h"

#include <stdio.h>

namespace {
// The option words, compared whole and with case.
const wchar_t optHelp[] = L"-?";
const wchar_t optInstall[] = L"-i";
const wchar_t optUninstall[] = L"-u";
const wchar_t optRemove[] = L"-r";
const wchar_t optAccount[] = L"-a";
const wchar_t optPassword[] = L"-p";
const wchar_t optScm[] = L"-Z";
const wchar_t optNoScm[] = L"-x";
const wchar_t optUnicode[] = L"-w";
const wchar_t optSkeleton[] = L"-c";
const wchar_t optDisplayAll[] = L"-b";
const wchar_t optTrace[] = L"-t";
const wchar_t optDisplay[] = L"-d";
const wchar_t optExport[] = L"-e";
const wchar_t optSignal[] = L"-s";
const wchar_t optStatus[] = L"-q";
const wchar_t optStatusValues[] = L"-Q";
const wchar_t optStart[] = L"-start";
const wchar_t optStop[] = L"-stop";
const wchar_t optRestart[] = L"-restart";
const wchar_t optWait[] = L"-W";
// Longest -W bound: a day.
const DWORD maximumWaitSeconds = 86400;
const wchar_t optUpdate[] = L"-m";
const wchar_t optRestartAfter[] = L"-y";

const wchar_t needConfigFile[] = L" option requires config file name";
const wchar_t needServiceName[] = L" option requires the service name";
} // namespace

CParameters::CParameters(CLogger* logger)
    : logger(logger), helpFlag(0), installFlag(0), uninstallFlag(0), scmFlag(0), noScmFlag(0),
      configFileUnicode(0), skeletonFlag(0), displayAllFlag(0), displayFlag(0),
      configFileName(nullptr), serviceName(nullptr), accountName(nullptr), accountPassword(nullptr),
      signalFlag(0), signal(nullptr), statusForm(0), operation(0), waitSeconds(0), updateFlag(0),
      restartAfterFlag(0) {}

const wchar_t* CParameters::getBuildDate() const {
    return T_BRONTEL_BUILD_DATE;
}
const wchar_t* CParameters::getBuildTime() const {
    return T_BRONTEL_BUILD_TIME;
}

// One row per option word: the flag it sets, and the arguments it takes into which members.
struct CParameters::OptionRow {
    const wchar_t* word;
    int CParameters::*flag;
    int flagValue;
    int needed;
    const wchar_t* missing; // the row's text when an argument is missing
    wchar_t* CParameters::*first;
    wchar_t* CParameters::*second;
};

const CParameters::OptionRow* CParameters::findOption(const wchar_t* word) {
    using P = CParameters;
    static const OptionRow rows[] = {
        {optHelp, &P::helpFlag, 1, 0, nullptr, nullptr, nullptr},
        {optInstall, &P::installFlag, 1, 1, needConfigFile, &P::configFileName, nullptr},
        {optUninstall, &P::uninstallFlag, 1, 1, needConfigFile, &P::configFileName, nullptr},
        {optRemove, &P::uninstallFlag, 1, 1, needServiceName, &P::serviceName, nullptr},
        {optAccount, nullptr, 0, 1, L" option requires an account name", &P::accountName, nullptr},
        {optPassword, nullptr, 0, 1, L" option requires a password", &P::accountPassword, nullptr},
        {optScm, &P::scmFlag, 1, 1, needServiceName, &P::serviceName, nullptr},
        {optNoScm, &P::noScmFlag, 1, 1, needServiceName, &P::serviceName, nullptr},
        {optUnicode, &P::configFileUnicode, 1, 0, nullptr, nullptr, nullptr},
        {optSkeleton, &P::skeletonFlag, 1, 1, needConfigFile, &P::configFileName, nullptr},
        {optDisplayAll, &P::displayAllFlag, 1, 0, nullptr, nullptr, nullptr},
        {optTrace, nullptr, 0, 1, L" option requires log file name, or OFF", nullptr, nullptr},
        {optDisplay, &P::displayFlag, 1, 1, L" option requires service name.", &P::serviceName,
         nullptr},
        {optExport, &P::displayFlag, 1, 2, L" option requires service name and output file name.",
         &P::serviceName, &P::configFileName},
        {optUpdate, &P::updateFlag, 1, 1, needConfigFile, &P::configFileName, nullptr},
        {optRestartAfter, &P::restartAfterFlag, 1, 0, nullptr, nullptr, nullptr},
        {optSignal, &P::signalFlag, 1, 2, L" option requires service name and signal.",
         &P::serviceName, &P::signal},
        {optStatus, &P::statusForm, 1, 1, needServiceName, &P::serviceName, nullptr},
        {optStatusValues, &P::statusForm, 2, 1, needServiceName, &P::serviceName, nullptr},
        {optStart, &P::operation, 1, 1, needServiceName, &P::serviceName, nullptr},
        {optStop, &P::operation, 2, 1, needServiceName, &P::serviceName, nullptr},
        {optRestart, &P::operation, 3, 1, needServiceName, &P::serviceName, nullptr},
        {optWait, nullptr, 0, 1, L" option requires a number of seconds from 1 to 86400", nullptr,
         nullptr},
    };
    for (const OptionRow& row : rows) {
        if (wcscmp(word, row.word) == 0) {
            return &row;
        }
    }
    return nullptr;
}

int CParameters::parseCommandLine(int argc, wchar_t** argv) {
    const wchar_t* label = L"CParameters::parseCommandLine";
    logger->logEntry(label, argc);
    int result = 0;
    if (argc < 2 || argv == nullptr) {
        logger->logExit(label, 2);
        return BRONTEL_RESULT_NO_ARGUMENTS;
    }
    logger->enableStdout(1);

    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        // Anything that is not an option word is skipped.
        const OptionRow* row = arg == nullptr ? nullptr : findOption(arg);
        if (row == nullptr) {
            continue;
        }
        int remaining = argc - 1 - i;
        if (row->flag == &CParameters::scmFlag || row->flag == &CParameters::noScmFlag) {
            // From here on messages go to the trace only, including this option's own.
            logger->enableStdout(0);
        }
        if (row->flag != nullptr) {
            this->*row->flag = row->flagValue;
        }
        if (row->needed <= remaining) {
            if (row->first != nullptr) {
                this->*row->first = argv[i + 1];
            }
            if (row->second != nullptr) {
                this->*row->second = argv[i + 2];
            }
            if (row->word == optTrace && argv[i + 1][0] == L'\0') {
                // An empty name would switch on a trace that no process can open.
                remaining = 0;
            } else if (row->word == optTrace) {
                enableTracing(argv[i + 1], logger);
            } else if (row->word == optWait &&
                       (!parseDigits(argv[i + 1], maximumWaitSeconds, &waitSeconds) ||
                        waitSeconds == 0)) {
                // Anything but such a number is refused as a missing one.
                remaining = 0;
                waitSeconds = 0;
            }
        }
        if (row->needed > remaining) {
            logger->logMessage(arg, row->missing);
            result = BRONTEL_RESULT_USAGE;
            break;
        }
        i += row->needed;
    }

    logger->logExit(label, result);
    return result;
}

void CParameters::showParameterHelp() {
    wprintf(L"brontel                       (build %ls %ls)\n", getBuildDate(), getBuildTime());
    wprintf(L"Usage: brontel [options]\n");
    wprintf(L"options:\n");
    wprintf(L"%ls : returns this help\n", optHelp);
    wprintf(L"%ls configfile : installs a service using the specified config file\n", optInstall);
    wprintf(L"%ls configfile : Uninstalls a service using the specified config file\n",
            optUninstall);
    wprintf(L"%ls serviceName : Uninstalls a service using the specified service name\n",
            optRemove);
    wprintf(L"%ls account : Installs a service which logs on as this account\n", optAccount);
    wprintf(L"             This option is only valid with the %ls option\n", optInstall);
    wprintf(L"%ls password : Used with the %ls parameter to specify the account password\n",
            optPassword, optAccount);
    wprintf(L"%ls configfile : Generates a skeleton config file that can be filled in with\n",
            optSkeleton);
    wprintf(L"                actual values for your application\n");
    wprintf(L"%ls : Displays all the services currently installed that are \n", optDisplayAll);
    wprintf(L"     powered by Brontel.\n");
    wprintf(L"%ls {logfile|OFF} : Turns the trace on.  Trace is written to the specified file.\n",
            optTrace);
    wprintf(L"   Specify OFF when you want to turn tracing off.\n");
    wprintf(L"%ls serviceName : Displays information about the installed service. \n", optDisplay);
    wprintf(L"%ls serviceName configfile : Saves information about the installed service to a "
            L"file. \n",
            optExport);
    wprintf(L"%ls serviceName : Executes the service without using the service control manager. "
            L"\n",
            optNoScm);
    wprintf(L"                 This is handy for development because you can view stdout on the "
            L"console.\n");
    wprintf(L"%ls serviceName signal : Sends the specified signal to the service. \n", optSignal);
    wprintf(L"                 signal can be a number or a SERVICE_CONTROL_* constant.\n");
    wprintf(L"                 signal can also be CTRL_C_EVENT or CTRL_BREAK_EVENT.\n");
    wprintf(L"                 signal can also be stop, pause, continue, interrogate, shutdown,\n");
    wprintf(L"                 restart, ctrl_c or ctrl_break, in any case.\n");
    wprintf(L"%ls configfile : Updates the installed service to the config file's settings\n",
            optUpdate);
    wprintf(L"                 without removing it; -a and -p change its account.\n");
    wprintf(L"%ls : With %ls, restarts the service when it runs, so that the changes take effect\n",
            optRestartAfter, optUpdate);
    wprintf(L"%ls : Indicates that the config file is a unicode file\n", optUnicode);
    wprintf(
        L"%ls serviceName : Shows the service's state, process, start type, account, exit codes,\n",
        optStatus);
    wprintf(L"                 recovery actions and capture files. Exit code 0 running,\n");
    wprintf(L"                 37 not running, 11 not installed.\n");
    wprintf(L"%ls serviceName : The same as name=value lines, for scripts.\n", optStatusValues);
    wprintf(L"%ls serviceName : Starts the service and waits until it runs.\n", optStart);
    wprintf(L"%ls serviceName : Stops the service and waits until it has stopped.\n", optStop);
    wprintf(L"%ls serviceName : Stops and starts the service, waiting for each.\n", optRestart);
    wprintf(L"%ls seconds : With %ls, %ls or %ls: waits at most this long (1 to 86400).\n", optWait,
            optStart, optStop, optRestart);
    fflush(stdout);
}
