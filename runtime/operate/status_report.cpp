#include "runtime/operate/status_report.h"

#include "platform/result_codes.h"
#include "registry/image_path.h"
#include "runtime/events/result_words.h"
#include "runtime/operate/last_event.h"

#include <stdio.h>

namespace {
const size_t textChars = 512;

void actionsText(const ServiceFacts& facts, wchar_t* text, size_t chars) {
    text[0] = L'\0';
    size_t used = 0;
    for (DWORD i = 0; i < facts.recovery.count && used < chars; ++i) {
        const SC_ACTION& action = facts.recovery.actions[i];
        int written = swprintf(text + used, chars - used, L"%ls%ls/%lu", i > 0 ? L"," : L"",
                               action.Type == SC_ACTION_RESTART ? L"restart" : L"none",
                               static_cast<unsigned long>(action.Delay));
        if (written < 0) {
            break;
        }
        used += static_cast<size_t>(written);
    }
}

void printCapture(const wchar_t* label, const CaptureFileFact& file) {
    if (file.path.empty()) {
        wprintf(L"%-19ls not captured\n", label);
    } else if (!file.exists) {
        wprintf(L"%-19ls %ls (not written yet)\n", label, file.path.c_str());
    } else {
        wprintf(L"%-19ls %ls (%llu bytes)\n", label, file.path.c_str(), file.bytes);
    }
}

void printScriptCapture(const wchar_t* name, const CaptureFileFact& file) {
    wprintf(L"%lsFile=%ls\n", name, file.path.c_str());
    if (file.exists) {
        wprintf(L"%lsBytes=%llu\n", name, file.bytes);
    } else {
        wprintf(L"%lsBytes=\n", name);
    }
}

void printForPeople(const wchar_t* serviceName, const ServiceFacts& facts) {
    wprintf(L"%-19ls %ls (%ls)\n", L"Service:", serviceName, facts.displayName.c_str());
    wprintf(L"%-19ls %ls\n", L"State:", stateWord(facts.status.dwCurrentState));
    wprintf(L"%-19ls %lu\n", L"Process id:", static_cast<unsigned long>(facts.status.dwProcessId));
    wprintf(L"%-19ls %ls%ls\n", L"Start type:", startTypeWord(facts.startType),
            facts.delayed && facts.startType == SERVICE_AUTO_START ? L" (delayed)" : L"");
    wprintf(L"%-19ls %ls\n", L"Account:", facts.account.c_str());
    printExitCodes(facts.status);
    if (facts.recovery.count == 0) {
        wprintf(L"%-19ls none\n", L"Recovery:");
    } else {
        wchar_t actions[textChars];
        actionsText(facts, actions, textChars);
        wprintf(L"%-19ls %ls; failures counted again after %lu s; also on a non-zero exit: %ls\n",
                L"Recovery:", actions, static_cast<unsigned long>(facts.resetPeriodSeconds),
                facts.onNonCrashFailures ? L"yes" : L"no");
    }
    printCapture(L"Standard output:", facts.stdoutFile);
    printCapture(L"Standard error:", facts.stderrFile);
    printEventPlace(serviceName, 0);
    wchar_t warning[imagePathWarningChars];
    if (imagePathWarning(serviceName, warning)) {
        wprintf(L"%ls\n", warning);
    }
}

void printForScripts(const wchar_t* serviceName, const ServiceFacts& facts) {
    wchar_t text[textChars];
    wprintf(L"serviceName=%ls\n", serviceName);
    wprintf(L"installed=1\n");
    wprintf(L"displayName=%ls\n", facts.displayName.c_str());
    wprintf(L"state=%ls\n", stateWord(facts.status.dwCurrentState));
    wprintf(L"processId=%lu\n", static_cast<unsigned long>(facts.status.dwProcessId));
    wprintf(L"startType=%ls\n", startTypeWord(facts.startType));
    wprintf(L"delayedStart=%ls\n",
            facts.delayed && facts.startType == SERVICE_AUTO_START ? L"TRUE" : L"FALSE");
    wprintf(L"account=%ls\n", facts.account.c_str());
    windowsCodeMeaning(facts.status.dwWin32ExitCode, text, textChars);
    wprintf(L"win32ExitCode=%lu\n", static_cast<unsigned long>(facts.status.dwWin32ExitCode));
    wprintf(L"win32ExitText=%ls\n", text);
    serviceExitCodeMeaning(facts.status.dwServiceSpecificExitCode, text, textChars);
    wprintf(L"serviceExitCode=%lu\n",
            static_cast<unsigned long>(facts.status.dwServiceSpecificExitCode));
    wprintf(L"serviceExitText=%ls\n", text);
    actionsText(facts, text, textChars);
    wprintf(L"failureActions=%ls\n", text);
    wprintf(L"failureResetPeriod=%lu\n", static_cast<unsigned long>(facts.resetPeriodSeconds));
    wprintf(L"failureOnNonZeroExit=%ls\n", facts.onNonCrashFailures ? L"TRUE" : L"FALSE");
    printScriptCapture(L"stdout", facts.stdoutFile);
    printScriptCapture(L"stderr", facts.stderrFile);
    wprintf(L"eventLog=%ls%ls\n", BRONTEL_EVENT_LOG_PLACE, serviceName);
    LastEvent event;
    if (readLastEvent(serviceName, &event)) {
        wprintf(L"lastEventTime=%lu\nlastEventId=%lu\nlastEventText=%ls\n",
                static_cast<unsigned long>(event.time), static_cast<unsigned long>(event.id),
                event.text);
    }
    wchar_t warning[imagePathWarningChars];
    if (imagePathWarning(serviceName, warning)) {
        wprintf(L"warning=%ls\n", warning);
    }
}
} // namespace

void printExitCodes(const SERVICE_STATUS_PROCESS& status) {
    wchar_t text[textChars];
    windowsCodeMeaning(status.dwWin32ExitCode, text, textChars);
    wprintf(L"%-19ls %lu (%ls)\n", L"Windows exit code:",
            static_cast<unsigned long>(status.dwWin32ExitCode), text);
    serviceExitCodeMeaning(status.dwServiceSpecificExitCode, text, textChars);
    wprintf(L"%-19ls %lu (%ls)\n", L"Service exit code:",
            static_cast<unsigned long>(status.dwServiceSpecificExitCode), text);
}

void printEventPlace(const wchar_t* serviceName, DWORD since) {
    wprintf(L"%-19ls why it last failed is in %ls%ls\n", L"Events:", BRONTEL_EVENT_LOG_PLACE,
            serviceName);
    LastEvent event;
    if (readLastEvent(serviceName, &event) && event.time >= since) {
        wprintf(L"%-19ls %ls, event %lu: %ls\n", L"Last event:", event.when,
                static_cast<unsigned long>(event.id), event.text);
    }
}

void printNotInstalled(const wchar_t* serviceName, CLogger* logger) {
    logger->logMessage(L"The service ", serviceName,
                       L" is not installed (brontel -b lists the services brontel installed).");
}

int showServiceStatus(const wchar_t* serviceName, int scriptForm, CLogger* logger) {
    ServiceFacts facts;
    DWORD error = 0;
    int result = readServiceFacts(serviceName, &facts, &error, logger);
    if (result == BRONTEL_RESULT_NOT_INSTALLED) {
        if (scriptForm) {
            wprintf(L"serviceName=%ls\ninstalled=0\nstate=NOT_INSTALLED\n", serviceName);
        } else {
            printNotInstalled(serviceName, logger);
        }
    } else if (result != 0) {
        logger->logSystemError(L"The Service Control Manager cannot be asked about the service: ",
                               error);
    } else {
        if (scriptForm) {
            printForScripts(serviceName, facts);
        } else {
            printForPeople(serviceName, facts);
        }
        result = facts.status.dwCurrentState == SERVICE_RUNNING ? 0 : BRONTEL_RESULT_NOT_RUNNING;
    }
    fflush(stdout);
    return result;
}
