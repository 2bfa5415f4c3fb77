// -s: sends a control to a service, through the control pipe of a development-mode instance or
// else through the Service Control Manager, and carries out restarts in both modes.
#include "runtime/service/executor.h"

#include "app/parameters.h"
#include "install/installer.h"
#include "runtime/control/command_text.h"
#include "runtime/control/pipe_client.h"
#include "runtime/control/pipe_trust.h"
#include "runtime/control/signal_text.h"

#include <stdlib.h>
#include <string>

namespace {

const DWORD restartCode = 128;
// How many one-second polls a development-mode restart waits for the running instance to end.
const DWORD restartWaitPolls = 120;

} // namespace

int CExecutor::sendControlSignal(const wchar_t* signal) {
    const wchar_t* label = L"CExecutor::sendControlSignal";
    wchar_t* pipeName = getPipeName();
    logger->logEntry(label);
    int result = 0;
    if (pipeName == nullptr) {
        logger->logMessage(L"Memory error.");
        result = 9;
    } else if (signal == nullptr) {
        logger->logMessage(L"Error, signal is NULL");
        result = 1;
    } else {
        DWORD code = 0;
        int parsed = parseSignalText(signal, &code);
        if (parsed == SIGNAL_TEXT_CODE) {
            result = sendControlSignal(code, pipeName);
        } else if (parsed == SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL) {
            logger->logMessage(L"Unrecognized signal : ", signal);
            result = 1;
        } else {
            logger->logMessage(L"Unrecognized control signal : ", signal);
            result = 1;
        }
    }
    free(pipeName);
    logger->logExit(label, 0);
    return result;
}

int CExecutor::sendControlSignal(DWORD control, const wchar_t* pipeName) {
    const wchar_t* label = L"CExecutor::sendControlSignal(DWORD,LPTSTR)";
    logger->logEntry(label, static_cast<int>(control));
    int result = 0;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    if (control == restartCode) {
        result = doRestart();
    } else if ((pipe = openTrustedPipe(pipeName)) != INVALID_HANDLE_VALUE) {
        // A development-mode instance is listening.
        result = writeControlCode(pipe, control) ? 0 : BRONTEL_RESULT_NOT_DELIVERED;
        if (result != 0) {
            DWORD error = GetLastError();
            logger->logMessage(L"Failed to write the control to the pipe", error);
            logger->logSystemError(error);
        }
        CloseHandle(pipe);
    } else {
        result = sendThroughSCM(control);
    }
    logger->logExit(label, 0);
    return result;
}

HANDLE CExecutor::openTrustedPipe(const wchar_t* pipeName) {
    if (pipeName == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    // A service that runs under the Service Control Manager has no pipe of its own: whoever
    // serves one under its name is not the service.
    if (isRunningUnderSCM()) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE pipe = openControlPipeWhenFree(pipeName, CONTROL_PIPE_BUSY_WAIT_MS);
    if (pipe == INVALID_HANDLE_VALUE) {
        return pipe;
    }
    DWORD error = 0;
    if (!isTrustedPipeServer(pipe, &error)) {
        CloseHandle(pipe);
        if (error != 0) {
            logger->logMessage(L"Cannot tell who serves the control pipe, not used rc=", error);
            logger->logSystemError(error);
        } else {
            logger->logMessage(L"The control pipe is served by another user's process, not used: ",
                               pipeName);
        }
        return INVALID_HANDLE_VALUE;
    }
    return pipe;
}

int CExecutor::isRunningUnderSCM() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return 0;
    }
    int running = 0;
    SC_HANDLE service = OpenServiceW(manager, serviceName, SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        running = QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

int CExecutor::sendThroughSCM(DWORD control) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Failed to open service control manager ", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    int result = BRONTEL_RESULT_NOT_DELIVERED;
    // Execute rights cover every control but the interrogation, which needs its own right.
    DWORD access =
        GENERIC_EXECUTE | (control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE : 0);
    SC_HANDLE service = OpenServiceW(manager, serviceName, access);
    if (service == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Failed to open service ", error);
        logger->logSystemError(error);
    } else {
        SERVICE_STATUS status = {};
        if (ControlService(service, control, &status)) {
            logger->logMessage(L"Control sent OK, current service state : ",
                               getStatusDescription(status.dwCurrentState));
            result = 0;
        } else {
            DWORD error = GetLastError();
            logger->logMessage(L"Failed to send control ", error);
            logger->logSystemError(error);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

int CExecutor::doRestart() {
    wchar_t* pipeName = getPipeName();
    logger->logEntry(L"CExecutor::doRestart");
    int result = 9;
    if (pipeName == nullptr) {
        logger->logMessage(L"Memory error.");
    } else {
        HANDLE pipe = openTrustedPipe(pipeName);
        if (pipe != INVALID_HANDLE_VALUE) {
            result = restartDevModeInstance(pipe, pipeName);
        } else {
            result = restartThroughSCM();
        }
        free(pipeName);
    }
    logger->logExit(L"CExecutor::doRestart", 0);
    return result;
}

int CExecutor::restartDevModeInstance(HANDLE pipe, const wchar_t* pipeName) {
    int written = writeControlCode(pipe, SERVICE_CONTROL_STOP);
    DWORD error = GetLastError();
    CloseHandle(pipe);
    if (!written) {
        logger->logMessage(L"Failed to write the control to the pipe", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    // The running instance's pipe goes when its service has ended.
    if (!waitForPipeToGo(pipeName, restartWaitPolls)) {
        logger->logMessage(L"The running instance has not ended, restart abandoned after seconds:",
                           restartWaitPolls);
        return BRONTEL_RESULT_STOP_FAILED;
    }
    std::wstring path = getExecutablePath();
    if (path.empty()) {
        logger->logMessage(L"Cannot start process, binary not found.");
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    // Quoted, so that blanks in the path or the service name cannot split them.
    std::wstring commandLine;
    appendQuotedArgument(commandLine, path.c_str());
    commandLine += L" -x ";
    appendQuotedArgument(commandLine, serviceName != nullptr ? serviceName : L"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                        nullptr, nullptr, &startup, &process)) {
        error = GetLastError();
        logger->logMessage(L"Unable to create process. rc=", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int CExecutor::restartThroughSCM() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, GENERIC_WRITE | GENERIC_EXECUTE);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Unable to open SCM. rc=", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    CParameters* params = new CParameters(logger);
    CInstaller* installer = new CInstaller(logger, params);
    int stopped = installer->stopService(manager, serviceName);
    delete installer;
    delete params;
    if (!stopped) {
        // The old instance still runs: a start now could only fail, or find it half-stopped.
        logger->logMessage(L"Restart abandoned: the service ", serviceName,
                           L" could not be stopped, so it was not started again.");
        CloseServiceHandle(manager);
        return BRONTEL_RESULT_STOP_FAILED;
    }
    int result = BRONTEL_RESULT_NOT_DELIVERED;
    SC_HANDLE service = OpenServiceW(manager, serviceName, GENERIC_EXECUTE);
    if (service == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Unable to open service. rc=", error);
        logger->logSystemError(error);
    } else {
        if (StartServiceW(service, 0, nullptr)) {
            result = 0;
        } else {
            DWORD error = GetLastError();
            logger->logMessage(L"Unable to start service. rc=", error);
            logger->logSystemError(error);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}
