// -s: sends a control to a service, through the control pipe of a development-mode instance or
// else through the Service Control Manager, and carries out restarts in both modes. The trace
// labels keep the names that existing traces and their readers know.
#include "runtime/control/control_client.h"

#include "platform/handles.h"
#include "registry/service_manager.h"
#include "registry/service_names.h"
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

// The names a refused signal text could have been, on one line.
void logSignalNames(CLogger* logger) {
    std::wstring names;
    for (size_t i = 0; i < shortSignalNameCount; ++i) {
        names += i == 0 ? L"" : L", ";
        names += shortSignalNames[i].name;
    }
    logger->logMessage(L"The signal is a number, a SERVICE_CONTROL_* or CTRL_*_EVENT name, or one "
                       L"of (in any case): ",
                       names.c_str());
}

} // namespace

CControlClient::CControlClient(CLogger* logger, const wchar_t* serviceName)
    : logger(logger), serviceName(serviceName) {}

int CControlClient::sendControlSignal(const wchar_t* signal) {
    const wchar_t* label = L"CExecutor::sendControlSignal";
    wchar_t* pipeName = newControlPipeName(serviceName);
    logger->logEntry(label);
    int result = 0;
    if (pipeName == nullptr) {
        logger->logMessage(L"Memory error.");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else if (signal == nullptr) {
        logger->logMessage(L"Error, signal is NULL");
        result = BRONTEL_RESULT_USAGE;
    } else {
        DWORD code = 0;
        int parsed = parseSignalText(signal, &code);
        if (parsed == SIGNAL_TEXT_CODE) {
            result = sendControl(code, pipeName);
        } else {
            logger->logMessage(parsed == SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT
                                   ? L"Unrecognized control signal : "
                                   : L"Unrecognized signal : ",
                               signal);
            logSignalNames(logger);
            result = BRONTEL_RESULT_USAGE;
        }
    }
    free(pipeName);
    logger->logExit(label, 0);
    return result;
}

int CControlClient::sendControl(DWORD control, const wchar_t* pipeName) {
    const wchar_t* label = L"CExecutor::sendControlSignal(DWORD,LPTSTR)";
    logger->logEntry(label, static_cast<int>(control));
    int result = 0;
    if (control == restartCode) {
        result = restart();
    } else {
        CWinHandle pipe(openTrustedPipe(pipeName));
        if (!pipe.isOpen()) {
            result = sendThroughSCM(control);
        } else if (!writeControlCode(pipe.get(), control)) {
            // A development-mode instance is listening, but the code did not get through.
            logger->logSystemError(L"Failed to write the control to the pipe", GetLastError());
            result = BRONTEL_RESULT_NOT_DELIVERED;
        }
    }
    logger->logExit(label, 0);
    return result;
}

HANDLE CControlClient::openTrustedPipe(const wchar_t* pipeName) {
    if (pipeName == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    // A service that runs under the Service Control Manager has no pipe of its own: whoever
    // serves one under its name is not the service.
    if (isServiceRunning(serviceName)) {
        return INVALID_HANDLE_VALUE;
    }
    CWinHandle pipe(openControlPipeWhenFree(pipeName, CONTROL_PIPE_BUSY_WAIT_MS));
    if (!pipe.isOpen()) {
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    if (!isTrustedPipeServer(pipe.get(), &error)) {
        pipe.reset(KernelHandleKind::none());
        if (error != 0) {
            logger->logSystemError(L"Cannot tell who serves the control pipe, not used rc=", error);
        } else {
            logger->logMessage(L"The control pipe is served by another user's process, not used: ",
                               pipeName);
        }
        return INVALID_HANDLE_VALUE;
    }
    return pipe.release();
}

int CControlClient::sendThroughSCM(DWORD control) {
    CServiceManager manager(logger);
    if (!manager.open(SC_MANAGER_CONNECT, L"Failed to open service control manager ")) {
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    // Execute rights cover every control but the interrogation, which needs its own right.
    DWORD access =
        GENERIC_EXECUTE | (control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE : 0);
    CServiceHandle service;
    if (!manager.openService(service, serviceName, access, L"Failed to open service ")) {
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), control, &status)) {
        logger->logSystemError(L"Failed to send control ", GetLastError());
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    logger->logMessage(L"Control sent OK, current service state : ",
                       serviceStateName(status.dwCurrentState));
    return 0;
}

int CControlClient::restart() {
    wchar_t* pipeName = newControlPipeName(serviceName);
    logger->logEntry(L"CExecutor::doRestart");
    int result = BRONTEL_RESULT_OUT_OF_MEMORY;
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

int CControlClient::restartDevModeInstance(HANDLE pipe, const wchar_t* pipeName) {
    CWinHandle owned(pipe);
    int written = writeControlCode(owned.get(), SERVICE_CONTROL_STOP);
    DWORD error = GetLastError();
    // Closed before waiting: the running instance's pipe cannot go while this end is open.
    owned.reset(KernelHandleKind::none());
    if (!written) {
        logger->logSystemError(L"Failed to write the control to the pipe", error);
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
        logger->logSystemError(L"Unable to create process. rc=", GetLastError());
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    CProcessHandles started(process);
    return 0;
}

int CControlClient::restartThroughSCM() {
    CServiceManager manager(logger);
    if (!manager.open(GENERIC_WRITE | GENERIC_EXECUTE, L"Unable to open SCM. rc=")) {
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    if (!manager.stopService(serviceName)) {
        // The old instance still runs: a start now could only fail, or find it half-stopped.
        logger->logMessage(L"Restart abandoned: the service ", serviceName,
                           L" could not be stopped, so it was not started again.");
        return BRONTEL_RESULT_STOP_FAILED;
    }
    CServiceHandle service;
    if (!manager.openService(service, serviceName, GENERIC_EXECUTE,
                             L"Unable to open service. rc=")) {
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    if (!StartServiceW(service.get(), 0, nullptr)) {
        logger->logSystemError(L"Unable to start service. rc=", GetLastError());
        return BRONTEL_RESULT_NOT_DELIVERED;
    }
    return 0;
}
