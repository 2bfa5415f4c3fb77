// Installation of the stop and recovery settings: the values are checked before anything is
// created, and the recovery actions and the delayed start go to the Service Control Manager.
#include "install/installer.h"

#include "platform/textutil.h"
#include "registry/config_keys.h"
#include "registry/option_values.h"

#include <initializer_list>

namespace {

void refuse(CLogger* logger, const wchar_t* key, const wchar_t* value, const wchar_t* why) {
    wchar_t text[1200];
    swprintf(text, 1200, L"The value %.500ls of %ls cannot be used: %ls. Nothing was installed.",
             value, key, why);
    logger->logMessage(text);
}

} // namespace

int CInstaller::checkStopAndRecoveryOptions(CConfigFile* config) {
    const wchar_t* text = config->getStrOptionValue(CFG_STOP_TIMEOUT, nullptr);
    DWORD number = 0;
    if (text != nullptr && !parseStopTimeout(text, &number)) {
        refuse(logger, CFG_STOP_TIMEOUT, text,
               L"it must be a whole number of seconds from 0 to 4294967");
        return BRONTEL_RESULT_BAD_VALUE;
    }
    text = config->getStrOptionValue(CFG_FAILURE_ACTIONS, nullptr);
    if (text != nullptr) {
        FailureActionList list;
        wchar_t problem[200];
        if (!parseFailureActions(text, &list, problem, 200)) {
            refuse(logger, CFG_FAILURE_ACTIONS, text, problem);
            return BRONTEL_RESULT_BAD_VALUE;
        }
    }
    text = config->getStrOptionValue(CFG_FAILURE_RESET_PERIOD, nullptr);
    if (text != nullptr && !parseWholeNumber(text, 0xFFFFFFFFu, &number)) {
        refuse(logger, CFG_FAILURE_RESET_PERIOD, text,
               L"it must be a whole number of seconds below 4294967296");
        return BRONTEL_RESULT_BAD_VALUE;
    }
    // Flags: TRUE or FALSE, nothing that might be taken for either.
    for (const wchar_t* key : {CFG_FAILURE_ON_NON_ZERO_EXIT, CFG_TRACE_ARGUMENTS}) {
        text = config->getStrOptionValue(key, nullptr);
        if (text != nullptr && !asciiEqualNoCase(text, L"TRUE") &&
            !asciiEqualNoCase(text, L"FALSE")) {
            refuse(logger, key, text, L"it must be TRUE or FALSE");
            return BRONTEL_RESULT_BAD_VALUE;
        }
    }
    return 0;
}

int CInstaller::applyServiceConfig2(SC_HANDLE service, CConfigFile* config, int delayedStart) {
    logger->logEntry(L"CInstaller::applyServiceConfig2");
    int result = 0;
    const wchar_t* actionsText = config->getStrOptionValue(CFG_FAILURE_ACTIONS, nullptr);
    const wchar_t* periodText = config->getStrOptionValue(CFG_FAILURE_RESET_PERIOD, nullptr);
    if (actionsText != nullptr) {
        // Checked before the service was created; parsed again for the actions themselves.
        FailureActionList list;
        wchar_t problem[200];
        DWORD period = BRONTEL_DEFAULT_RESET_PERIOD;
        parseFailureActions(actionsText, &list, problem, 200);
        if (periodText != nullptr) {
            parseWholeNumber(periodText, 0xFFFFFFFFu, &period);
        }
        SERVICE_FAILURE_ACTIONSW actions;
        actions.dwResetPeriod = period;
        actions.lpRebootMsg = nullptr;
        actions.lpCommand = nullptr;
        actions.cActions = list.count;
        actions.lpsaActions = list.actions;
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot set the recovery actions of the service", error);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_SCM_FAILED;
        }
    } else if (periodText != nullptr) {
        logger->logMessage(L"failureResetPeriod has no effect without failureActions.");
    }
    // FALSE is what a new service has already; only TRUE needs the manager's support.
    if (result == 0 && config->getBoolOptionValue(CFG_FAILURE_ON_NON_ZERO_EXIT, 0)) {
        SERVICE_FAILURE_ACTIONS_FLAG flag;
        flag.fFailureActionsOnNonCrashFailures = TRUE;
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot set the failure-actions flag of the service", error);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_SCM_FAILED;
        }
    }
    if (result == 0 && delayedStart) {
        SERVICE_DELAYED_AUTO_START_INFO info;
        info.fDelayedAutostart = TRUE;
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot set the delayed automatic start of the service", error);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_SCM_FAILED;
        }
    }
    logger->logExit(L"CInstaller::applyServiceConfig2", result);
    return result;
}
