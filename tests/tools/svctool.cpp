// A small service control tool for the tests, on both builds: creates, starts, queries, stops,
// controls, waits for and deletes services, and shows their recovery and delayed-start settings
// and their security, through the Windows API. Each command prints one line.
// Exit codes:
//   0   done
//   2   a Windows call failed: "FAILED <error> <call>"
//   3   a wait timed out: "TIMEOUT STATE ..."
//   64  bad command or arguments: "svctool: ..." and the usage
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "platform/winapi.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

const int exitFailed = 2;
const int exitTimedOut = 3;
const int exitUsage = 64;

// Indexed by the SERVICE_* state numbers, 1 to 7.
const wchar_t* const stateNames[] = {L"UNKNOWN",       L"STOPPED", L"START_PENDING",
                                     L"STOP_PENDING",  L"RUNNING", L"CONTINUE_PENDING",
                                     L"PAUSE_PENDING", L"PAUSED"};

const wchar_t* stateName(DWORD state) {
    return state <= SERVICE_PAUSED ? stateNames[state] : stateNames[0];
}

// A state given by name (RUNNING, STOPPED, ...) or number; 0 when unknown.
DWORD parseState(const wchar_t* text) {
    for (DWORD state = SERVICE_STOPPED; state <= SERVICE_PAUSED; ++state) {
        if (wcscmp(text, stateName(state)) == 0) {
            return state;
        }
    }
    DWORD number = static_cast<DWORD>(wcstoul(text, nullptr, 10));
    return number >= SERVICE_STOPPED && number <= SERVICE_PAUSED ? number : 0;
}

void printStatus(const SERVICE_STATUS& s) {
    wprintf(L"STATE %lu %ls WIN32_EXIT %lu SERVICE_EXIT %lu CHECKPOINT %lu WAIT_HINT %lu "
            L"ACCEPTED %lu\n",
            static_cast<unsigned long>(s.dwCurrentState), stateName(s.dwCurrentState),
            static_cast<unsigned long>(s.dwWin32ExitCode),
            static_cast<unsigned long>(s.dwServiceSpecificExitCode),
            static_cast<unsigned long>(s.dwCheckPoint), static_cast<unsigned long>(s.dwWaitHint),
            static_cast<unsigned long>(s.dwControlsAccepted));
}

int failed(const wchar_t* call) {
    DWORD error = GetLastError();
    wprintf(L"FAILED %lu %ls\n", static_cast<unsigned long>(error), call);
    return exitFailed;
}

// The stored recovery and delayed-start settings, as QueryServiceConfig2W returns them:
// "RESET <s> ACTIONS <type>/<delay>,... NONCRASH <0|1|-> DELAYED <0|1|->" (ACTIONS - when none).
int printConfig2(SC_HANDLE service) {
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed) &&
        GetLastError() == ERROR_INVALID_LEVEL) {
        wprintf(L"RESET - ACTIONS -");
    } else {
        if (needed < sizeof(SERVICE_FAILURE_ACTIONSW)) {
            return failed(L"QueryServiceConfig2W");
        }
        BYTE* buffer = static_cast<BYTE*>(malloc(needed));
        if (buffer == nullptr || !QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS,
                                                       buffer, needed, &needed)) {
            free(buffer);
            return failed(L"QueryServiceConfig2W");
        }
        const SERVICE_FAILURE_ACTIONSW* actions =
            reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
        wprintf(L"RESET %lu ACTIONS ", static_cast<unsigned long>(actions->dwResetPeriod));
        for (DWORD i = 0; i < actions->cActions; ++i) {
            wprintf(L"%ls%lu/%lu", i > 0 ? L"," : L"",
                    static_cast<unsigned long>(actions->lpsaActions[i].Type),
                    static_cast<unsigned long>(actions->lpsaActions[i].Delay));
        }
        wprintf(actions->cActions == 0 ? L"-" : L"");
        free(buffer);
    }
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    // A setting that the manager cannot answer (Wine's) shows "-".
    const wchar_t* nonCrash = L"-";
    if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                             reinterpret_cast<LPBYTE>(&flag), sizeof flag, &needed)) {
        nonCrash = flag.fFailureActionsOnNonCrashFailures ? L"1" : L"0";
    } else if (GetLastError() != ERROR_INVALID_LEVEL) {
        wprintf(L"\n");
        return failed(L"QueryServiceConfig2W");
    }
    const wchar_t* delayedStart = L"-";
    if (QueryServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                             reinterpret_cast<LPBYTE>(&delayed), sizeof delayed, &needed)) {
        delayedStart = delayed.fDelayedAutostart ? L"1" : L"0";
    } else if (GetLastError() != ERROR_INVALID_LEVEL) {
        wprintf(L"\n");
        return failed(L"QueryServiceConfig2W");
    }
    wprintf(L" NONCRASH %ls DELAYED %ls\n", nonCrash, delayedStart);
    return 0;
}

// The service's DACL in SDDL.
int printDacl(SC_HANDLE service) {
    DWORD needed = 0;
    QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    BYTE* descriptor = static_cast<BYTE*>(calloc(needed ? needed : 1, 1));
    LPWSTR text = nullptr;
    int result = 0;
    if (descriptor == nullptr || !QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION,
                                                             descriptor, needed, &needed)) {
        result = failed(L"QueryServiceObjectSecurity");
    } else if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
                   descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = failed(L"ConvertSecurityDescriptorToStringSecurityDescriptorW");
    } else {
        wprintf(L"%ls\n", text);
        LocalFree(text);
    }
    free(descriptor);
    return result;
}

int usage(const wchar_t* why) {
    wprintf(L"svctool: %ls\n"
            L"usage: svctool create NAME DISPLAYNAME IMAGEPATH\n"
            L"       svctool start|query|stop|delete|config2|sd NAME\n"
            L"       svctool control NAME CODE\n"
            L"       svctool wait NAME STATE TIMEOUT_MS\n",
            why);
    return exitUsage;
}

// A whole decimal number; false for anything else.
bool parseNumber(const wchar_t* text, DWORD* value) {
    wchar_t* end = nullptr;
    *value = static_cast<DWORD>(wcstoul(text, &end, 10));
    return text[0] >= L'0' && text[0] <= L'9' && *end == L'\0';
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return usage(L"missing arguments");
    }
    const wchar_t* command = argv[1];
    const wchar_t* name = argv[2];
    bool create = wcscmp(command, L"create") == 0;
    SC_HANDLE manager =
        OpenSCManagerW(nullptr, nullptr, create ? SC_MANAGER_CREATE_SERVICE : SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return failed(L"OpenSCManagerW");
    }
    int result = 0;
    SC_HANDLE service = nullptr;
    if (create) {
        if (argc < 5) {
            CloseServiceHandle(manager);
            return usage(L"create needs a name, a display name and an image path");
        }
        service =
            CreateServiceW(manager, name, argv[3], SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, argv[4], nullptr, nullptr,
                           nullptr, nullptr, nullptr);
        result = service != nullptr ? (wprintf(L"CREATED\n"), 0) : failed(L"CreateServiceW");
    } else {
        service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
        if (service == nullptr) {
            result = failed(L"OpenServiceW");
        } else if (wcscmp(command, L"start") == 0) {
            result = StartServiceW(service, 0, nullptr) ? (wprintf(L"STARTED\n"), 0)
                                                        : failed(L"StartServiceW");
        } else if (wcscmp(command, L"query") == 0) {
            SERVICE_STATUS status = {};
            if (QueryServiceStatus(service, &status)) {
                printStatus(status);
            } else {
                result = failed(L"QueryServiceStatus");
            }
        } else if (wcscmp(command, L"stop") == 0 || wcscmp(command, L"control") == 0) {
            bool control = wcscmp(command, L"control") == 0;
            DWORD code = SERVICE_CONTROL_STOP;
            SERVICE_STATUS status = {};
            if (control && (argc < 4 || !parseNumber(argv[3], &code))) {
                result = usage(L"control needs a control code (a number)");
            } else if (ControlService(service, code, &status)) {
                printStatus(status);
            } else {
                result = failed(L"ControlService");
            }
        } else if (wcscmp(command, L"wait") == 0) {
            DWORD wanted = argc >= 5 ? parseState(argv[3]) : 0;
            DWORD timeout = 0;
            if (wanted == 0 || !parseNumber(argv[4], &timeout)) {
                result = usage(L"wait needs a state (name or number) and a time-out in ms");
            } else {
                // Polls: the manager offers no notification that both builds share.
                DWORD waited = 0;
                SERVICE_STATUS status = {};
                for (;;) {
                    if (!QueryServiceStatus(service, &status)) {
                        result = failed(L"QueryServiceStatus");
                        break;
                    }
                    if (status.dwCurrentState == wanted) {
                        printStatus(status);
                        break;
                    }
                    if (waited >= timeout) {
                        wprintf(L"TIMEOUT ");
                        printStatus(status);
                        result = exitTimedOut;
                        break;
                    }
                    Sleep(50);
                    waited += 50;
                }
            }
        } else if (wcscmp(command, L"config2") == 0) {
            result = printConfig2(service);
        } else if (wcscmp(command, L"sd") == 0) {
            result = printDacl(service);
        } else if (wcscmp(command, L"delete") == 0) {
            result = DeleteService(service) ? (wprintf(L"DELETED\n"), 0) : failed(L"DeleteService");
        } else {
            result = usage(L"unknown command");
        }
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    fflush(stdout);
    return result;
}
