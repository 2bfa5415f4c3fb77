// Service mode (-Z): the Service Control Manager's dispatcher on the main thread, the service
// main thread it calls, and the service thread that runs the task and reports the final stop.
#include "runtime/executor.h"

#include "registry/registry.h"
#include "runtime/output_capture.h"
#include "runtime/service_events.h"

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
        WaitForSingleObject(serviceDoneEvent, INFINITE);
    } else {
        DWORD error = GetLastError();
        logger->logMessage(L"StartServiceCtrlDispatcher failed", error);
        logger->logSystemError(error);
    }
    logger->logExit(L"CExecutor::startSCMDispatcher", 0);
}

void CExecutor::startServiceMainThread() {
    logger->logEntry(L"CExecutor::startServiceMainThread");
    HANDLE thread = CreateThread(nullptr, 0, serviceMainThread, this, 0, nullptr);
    if (thread == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Error creating service thread, service failed.", error);
        logger->logSystemError(error);
    } else {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    logger->logExit(L"CExecutor::startServiceMainThread", 0);
    // Last: once the event is set, the main thread deletes this executor and the logger.
    SetEvent(serviceDoneEvent);
}

void CExecutor::serviceMain() {
    logger->logEntry(L"CExecutor::serviceMain");
    int exitValue = 0;
    statusHandle = RegisterServiceCtrlHandlerW(serviceName, g_ControlHandler);
    if (statusHandle == nullptr) {
        DWORD error = GetLastError();
        logger->logMessage(L"Register of control handler failed!", error);
        logger->logSystemError(error);
        exitValue = 23;
    } else {
        serviceStatus.dwServiceType =
            getRegDwValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, serviceName, L"Type",
                          SERVICE_WIN32_OWN_PROCESS);
        serviceStatus.dwWin32ExitCode = 0;
        CEventReporter events(serviceName, logger);
        // What the trace says about a failure goes into its event log entry too.
        logger->startRecording();
        // Before the VM exists, so that its System.out and System.err are the capture's. A
        // capture folder that is refused keeps the service from starting at all.
        COutputCapture capture(logger, &events);
        exitValue = capture.start(serviceName);
        if (exitValue == 0) {
            logger->startRecording(); // a failure's entry tells the task's story only
            exitValue = startServiceTask();
        }
        wchar_t* taskMessages = logger->takeRecording();
        capture.stop();
        if (exitValue != 0) {
            logger->logMessage(L"Service failed to start. ", static_cast<DWORD>(exitValue));
            reportStartFailure(&events, exitValue, taskMessages, logger);
        } else {
            WaitForSingleObject(statusLock, INFINITE);
            int stopped = stopReported;
            DWORD state = serviceStatus.dwCurrentState;
            ReleaseMutex(statusLock);
            if (!stopped && !stopRequested.load()) {
                reportJavaEnded(&events, getStatusDescription(state));
            }
        }
        free(taskMessages);
        // A Java side that reported stopped itself gets no second report.
        reportFinalStop(static_cast<DWORD>(exitValue));
    }
    logger->logExit(L"CExecutor::serviceMain", exitValue);
}
