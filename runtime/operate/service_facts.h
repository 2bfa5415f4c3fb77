// What the Service Control Manager and the service's settings say about one service: its state
// and process, how it starts and as whom, its exit codes, its recovery actions and its capture
// files. Read once by the status command (-q, -Q) and by the start and stop commands' failure
// reports.
#ifndef BRONTEL_RUNTIME_OPERATE_SERVICE_FACTS_H
#define BRONTEL_RUNTIME_OPERATE_SERVICE_FACTS_H

#include "platform/winapi.h"
#include "registry/option_values.h"
#include "trace/logger.h"

#include <string>

// A captured stream's file: its expanded path (empty: not captured) and size.
struct CaptureFileFact {
    std::wstring path;
    int exists;
    unsigned long long bytes;
};

struct ServiceFacts {
    int installed; // 1: the service exists and brontel installed it
    SERVICE_STATUS_PROCESS status;
    DWORD startType;
    int delayed;
    std::wstring account;
    std::wstring displayName;
    FailureActionList recovery; // count 0: none
    DWORD resetPeriodSeconds;
    int onNonCrashFailures;
    CaptureFileFact stdoutFile;
    CaptureFileFact stderrFile;
};

// Fills `facts` for `serviceName`. 0; 11 when the service does not exist or brontel did not
// install it (facts.installed 0); 8 when the manager or the service cannot be asked (the
// Windows error in *error). The service's Environment is set in this process on the way.
int readServiceFacts(const wchar_t* serviceName, ServiceFacts* facts, DWORD* error,
                     CLogger* logger);

// The state's short name as sc query shows it: RUNNING, STOPPED, START_PENDING, ...
const wchar_t* stateWord(DWORD state);
// The start type's word: boot, system, auto, demand, disabled.
const wchar_t* startTypeWord(DWORD startType);

#endif
