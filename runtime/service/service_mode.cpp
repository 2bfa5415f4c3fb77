// Service mode (-Z): the Service Control Manager's dispatcher on the main thread, the service
// main thread it calls, and the service thread that runs the task and reports the final stop.
#include "runtime/service/executor.h"

#include "platform/handles.h"
#include "registry/registry.h"
#include "registry/service_names.h"
#include "runtime/capture/output_capture.h"
#include "runtime/events/service_events.h"
#include "runtime/service/process_setup.h"

#include <stdlib.h>

void WINAPI g_serviceMain(DWORD argc, LPWSTR* argv) {
    (void)argc, (void)argv;
    g_pExecutor->startServiceMainThread();
}

DWORD WINAPI serviceMainThread(LPVOID executor) {
    static_cast<CExecutor*>(executor)->serviceMain();
    return 0;
}

void WINAPI g_ControlHandler(DWORD control) {
    g_pExecutor->serviceControlHandler(control);
}

void CExecutor::startSCMDispatcher() {
    logger->logEntry(L"CExecutor::startSCMDispatcher");
    SERVICE_TABLE_ENTRYW table[2];
    table[0].lpServiceName = const_cast<LPWSTR>(serviceName);
    table[0].lpServiceProc = g_serviceMain;
    table[1].lpServiceName = nullptr;
    table[1].lpServiceProc = nullptr;
    if (StartServiceCtrlDispatcherW(table)) {
        // The service has reported stopped; the service thread may still be finishing.
        WaitForSingleObject(serviceDoneEvent.get(), INFINITE);
    } else {
        logger->logSystemError(L"StartServiceCtrlDispatcher failed", GetLastError());
    }
    logger->logExit(L"CExecutor::startSCMDispatcher", 0);
}

void CExecutor::startServiceMainThread() {
    logger->logEntry(L"CExecutor::startServiceMainThread");
    CWinHandle thread(CreateThread(nullptr, 0, serviceMainThread, this, 0, nullptr));
    if (!thread.isOpen()) {
        logger->logSystemError(L"Error creating service thread, service failed.", GetLastError());
    } else {
        WaitForSingleObject(thread.get(), INFINITE);
        thread.reset(nullptr);
    }
    logger->logExit(L"CExecutor::startServiceMainThread", 0);
    // Last: once the event is set, the main thread deletes this executor and the logger.
    SetEvent(serviceDoneEvent.get());
}

void CExecutor::serviceMain() {
    logger->logEntry(L"CExecutor::serviceMain");
    int exitValue = 0;
    statusHandle = RegisterServiceCtrlHandlerW(serviceName, g_ControlHandler);
    if (statusHandle == nullptr) {
        logger->logSystemError(L"Register of control handler failed!", GetLastError());
        exitValue = BRONTEL_RESULT_NO_CONTROL_HANDLER;
    } else {
        serviceStatus.dwServiceType =
            getRegDwValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, serviceName, L"Type",
                          SERVICE_WIN32_OWN_PROCESS);
        serviceStatus.dwWin32ExitCode = 0;
        CEventReporter events(serviceName, logger);
        // What the trace says about a failure goes into its event log entry too.
        logger->startKeeping(KEEP_THIS_THREAD);
        // Before the VM exists, so that its System.out and System.err are the capture's. A
        // capture folder that is refused keeps the service from starting at all.
        COutputCapture capture(logger, &events);
        // Entered first: relative paths of the capture, the pre-initialization command and the
        // VM all start there.
        exitValue = enterWorkingDirectory(settings, logger);
        if (exitValue == 0) {
            exitValue = capture.start(settings);
        }
        if (exitValue == 0) {
            logger->startKeeping(KEEP_THIS_THREAD); // a failure's entry tells the task's story only
            exitValue = startServiceTask();
        }
        wchar_t* taskMessages = logger->takeKeptMessages();
        capture.stop();
        WaitForSingleObject(statusLock.get(), INFINITE);
        int logged = startFailureLogged;
        ReleaseMutex(statusLock.get());
        if (exitValue != 0 && !logged) {
            logger->logMessage(L"Service failed to start. ", static_cast<DWORD>(exitValue));
            reportStartFailure(&events, exitValue, taskMessages, settings);
        } else if (exitValue == 0) {
            WaitForSingleObject(statusLock.get(), INFINITE);
            int stopped = stopReported;
            DWORD state = serviceStatus.dwCurrentState;
            ReleaseMutex(statusLock.get());
            if (!stopped && !stopRequested.load()) {
                reportJavaEnded(&events, serviceStateName(state));
            }
        }
        free(taskMessages);
        // A Java side that reported stopped itself gets no second report.
        reportFinalStop(static_cast<DWORD>(exitValue));
    }
    logger->logExit(L"CExecutor::serviceMain", exitValue);
}

void CExecutor::logJavaStartFailure(DWORD code) {
    if (withoutSCM || reachedRunning || startFailureLogged) {
        return;
    }
    // Before the Service Control Manager hears of the stop, so that whoever waits for the start
    // finds the reason logged. Once the process ends it cannot be logged at all.
    startFailureLogged = 1;
    logger->logMessage(L"Service failed to start. ", code);
    wchar_t* messages = logger->takeKeptMessages();
    CEventReporter events(serviceName, logger);
    reportStartFailure(&events, static_cast<int>(code), messages, settings);
    free(messages);
}
