// Installation of the recovery settings: the recovery actions and the delayed start go to the
// Service Control Manager (the values were checked before anything was created).
#include "install/installer.h"

#include "install/service_config2.h"
#include "registry/option_values.h"
#include "settings/value_check.h"

int changeServiceConfig2(SC_HANDLE service, DWORD level, void* info, const wchar_t* failure,
                         CLogger* logger) {
    if (ChangeServiceConfig2W(service, level, info)) {
        return 0;
    }
    logger->logSystemError(failure, GetLastError());
    return BRONTEL_RESULT_SCM_FAILED;
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
        DWORD period = 0;
        parseFailureActions(actionsText, &list, problem, 200);
        const ConfigKey& periodKey = *findConfigKey(CFG_FAILURE_RESET_PERIOD);
        parseConfigNumber(periodKey, periodText != nullptr ? periodText : periodKey.defaultValue,
                          &period);
        SERVICE_FAILURE_ACTIONSW actions;
        actions.dwResetPeriod = period;
        actions.lpRebootMsg = nullptr;
        actions.lpCommand = nullptr;
        actions.cActions = list.count;
        actions.lpsaActions = list.actions;
        result = changeServiceConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions,
                                      L"Cannot set the recovery actions of the service", logger);
    } else if (periodText != nullptr) {
        logger->logMessage(L"failureResetPeriod has no effect without failureActions.");
    }
    // FALSE is what a new service has already; only TRUE needs the manager's support.
    if (result == 0 && config->getBoolOptionValue(CFG_FAILURE_ON_NON_ZERO_EXIT, 0)) {
        SERVICE_FAILURE_ACTIONS_FLAG flag;
        flag.fFailureActionsOnNonCrashFailures = TRUE;
        result =
            changeServiceConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag,
                                 L"Cannot set the failure-actions flag of the service", logger);
    }
    if (result == 0 && delayedStart) {
        SERVICE_DELAYED_AUTO_START_INFO info;
        info.fDelayedAutostart = TRUE;
        result =
            changeServiceConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info,
                                 L"Cannot set the delayed automatic start of the service", logger);
    }
    logger->logExit(L"CInstaller::applyServiceConfig2", result);
    return result;
}
