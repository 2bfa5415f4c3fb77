#include "registry/service_names.h"

const wchar_t* serviceStateName(DWORD state) {
    static const wchar_t* const names[] = {
        L"SERVICE_STOPPED", L"SERVICE_START_PENDING",    L"SERVICE_STOP_PENDING",
        L"SERVICE_RUNNING", L"SERVICE_CONTINUE_PENDING", L"SERVICE_PAUSE_PENDING",
        L"SERVICE_PAUSED",
    };
    if (state >= 1 && state <= sizeof names / sizeof names[0]) {
        return names[state - 1];
    }
    return L"Unknown";
}

const wchar_t* controlCodeName(DWORD control) {
    static const wchar_t* const names[] = {
        L"SERVICE_CONTROL_STOP",          L"SERVICE_CONTROL_PAUSE",
        L"SERVICE_CONTROL_CONTINUE",      L"SERVICE_CONTROL_INTERROGATE",
        L"SERVICE_CONTROL_SHUTDOWN",      L"SERVICE_CONTROL_PARAMCHANGE",
        L"SERVICE_CONTROL_NETBINDADD",    L"SERVICE_CONTROL_NETBINDREMOVE",
        L"SERVICE_CONTROL_NETBINDENABLE", L"SERVICE_CONTROL_NETBINDDISABLE",
    };
    if (control >= 1 && control <= sizeof names / sizeof names[0]) {
        return names[control - 1];
    }
    return L"Unknown";
}
