#include "runtime/operate/service_facts.h"

#include "platform/handles.h"
#include "platform/result_codes.h"
#include "registry/service_manager.h"
#include "runtime/events/result_words.h"
#include "runtime/service/process_setup.h"
#include "settings/service_settings.h"

#include <string.h>
#include <vector>

namespace {

// The size of a file without opening it for reading: the service may hold it open.
void sizeOf(CaptureFileFact* file) {
    file->exists = 0;
    file->bytes = 0;
    if (file->path.empty()) {
        return;
    }
    CWinHandle handle(CreateFileW(file->path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!handle.isOpen()) {
        return;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(handle.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return;
    }
    file->exists = 1;
    file->bytes = (static_cast<unsigned long long>(high) << 32) | low;
}

void readConfig(SC_HANDLE service, ServiceFacts* facts) {
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (needed < sizeof(QUERY_SERVICE_CONFIGW) || needed > 64 * 1024) {
        needed = 8 * 1024;
    }
    std::vector<BYTE> area(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(area.data());
    if (QueryServiceConfigW(service, config, needed, &needed)) {
        facts->startType = config->dwStartType;
        facts->account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : L"";
        facts->displayName = config->lpDisplayName != nullptr ? config->lpDisplayName : L"";
    }
    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    facts->delayed =
        QueryServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                             reinterpret_cast<LPBYTE>(&delayed), sizeof delayed, &needed) &&
        delayed.fDelayedAutostart != FALSE;
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    facts->onNonCrashFailures =
        QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                             reinterpret_cast<LPBYTE>(&flag), sizeof flag, &needed) &&
        flag.fFailureActionsOnNonCrashFailures != FALSE;
    needed = 0;
    QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed);
    if (needed >= sizeof(SERVICE_FAILURE_ACTIONSW) && needed <= 64 * 1024) {
        std::vector<BYTE> actionsArea(needed);
        auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(actionsArea.data());
        if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, actionsArea.data(),
                                 needed, &needed)) {
            facts->resetPeriodSeconds = actions->dwResetPeriod;
            DWORD count = actions->cActions;
            if (count > BRONTEL_MAX_FAILURE_ACTIONS) {
                count = BRONTEL_MAX_FAILURE_ACTIONS;
            }
            for (DWORD i = 0; i < count && actions->lpsaActions != nullptr; ++i) {
                facts->recovery.actions[i] = actions->lpsaActions[i];
            }
            facts->recovery.count = actions->lpsaActions != nullptr ? count : 0;
        }
    }
}

} // namespace

int readServiceFacts(const wchar_t* serviceName, ServiceFacts* facts, DWORD* error,
                     CLogger* logger) {
    facts->installed = 0;
    memset(&facts->status, 0, sizeof facts->status);
    facts->startType = 0;
    facts->delayed = 0;
    facts->account.clear();
    facts->displayName.clear();
    facts->recovery.count = 0;
    facts->resetPeriodSeconds = 0;
    facts->onNonCrashFailures = 0;
    facts->stdoutFile = CaptureFileFact();
    facts->stderrFile = CaptureFileFact();
    *error = 0;
    if (serviceName == nullptr || !isBrontelService(serviceName)) {
        return BRONTEL_RESULT_NOT_INSTALLED;
    }
    CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.isOpen()) {
        *error = GetLastError();
        return BRONTEL_RESULT_SCM_FAILED;
    }
    CServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service.isOpen()) {
        *error = GetLastError();
        return *error == ERROR_SERVICE_DOES_NOT_EXIST ? BRONTEL_RESULT_NOT_INSTALLED
                                                      : BRONTEL_RESULT_SCM_FAILED;
    }
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&facts->status), sizeof facts->status,
                              &needed)) {
        *error = GetLastError();
        return BRONTEL_RESULT_SCM_FAILED;
    }
    facts->installed = 1;
    readConfig(service.get(), facts);
    // The capture files are named as the service names them: through its own variables, over
    // the system's values, and relative to its working directory.
    applyServiceEnvironment(serviceName, 1, logger);
    CServiceSettings settings;
    settings.load(serviceName);
    const wchar_t* folder = settings.text(CFG_WORKING_DIRECTORY);
    if (folder != nullptr) {
        SetCurrentDirectoryW(folder); // one that cannot be entered fails the start instead
    }
    const wchar_t* out = settings.text(CFG_STDOUT_FILE);
    const wchar_t* err = settings.text(CFG_STDERR_FILE);
    facts->stdoutFile.path = out != nullptr ? out : L"";
    facts->stderrFile.path = err != nullptr ? err : L"";
    sizeOf(&facts->stdoutFile);
    sizeOf(&facts->stderrFile);
    return 0;
}

namespace {
const CodeText states[] = {
    {SERVICE_STOPPED, L"STOPPED"},
    {SERVICE_START_PENDING, L"START_PENDING"},
    {SERVICE_STOP_PENDING, L"STOP_PENDING"},
    {SERVICE_RUNNING, L"RUNNING"},
    {SERVICE_CONTINUE_PENDING, L"CONTINUE_PENDING"},
    {SERVICE_PAUSE_PENDING, L"PAUSE_PENDING"},
    {SERVICE_PAUSED, L"PAUSED"},
};
const CodeText startTypes[] = {
    {SERVICE_BOOT_START, L"boot"},   {SERVICE_SYSTEM_START, L"system"},
    {SERVICE_AUTO_START, L"auto"},   {SERVICE_DEMAND_START, L"demand"},
    {SERVICE_DISABLED, L"disabled"},
};

template <size_t count>
const wchar_t* wordOf(const CodeText (&words)[count], DWORD value, const wchar_t* otherwise) {
    const wchar_t* word =
        value <= 0xFFFF ? textOfCode(words, count, static_cast<int>(value)) : nullptr;
    return word != nullptr ? word : otherwise;
}
} // namespace

const wchar_t* stateWord(DWORD state) {
    return wordOf(states, state, L"UNKNOWN");
}

const wchar_t* startTypeWord(DWORD startType) {
    return wordOf(startTypes, startType, L"unknown");
}
