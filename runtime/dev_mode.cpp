// Development mode (-x): the service task on the main thread, beside the control pipe.
#include "runtime/executor.h"

#include "app/service_list.h"

int CExecutor::startDevModeService() {
    logger->logEntry(L"CExecutor::startDevModeService");
    // The console belongs to the program while it runs; the messages are held so that a run
    // that brontel ends with a failure can still say why, on standard error.
    logger->holdMessages(1);
    if (!isBrontelService(serviceName)) {
        // Nothing else is tried: the settings it would read are not there.
        logger->logMessage(L"The service ", serviceName ? serviceName : L"",
                           L" is not installed (brontel -b lists the services brontel installed).");
        logger->holdMessages(0);
        logger->printHeldMessages();
        logger->logExit(L"CExecutor::startDevModeService", BRONTEL_RESULT_NOT_INSTALLED);
        SetEvent(serviceDoneEvent);
        return BRONTEL_RESULT_NOT_INSTALLED;
    }
    // Before anything of the service runs: a run whose pipe another process holds would take
    // its controls from whoever that process admits.
    if (createControlPipe() == BRONTEL_RESULT_PIPE_TAKEN) {
        logger->holdMessages(0);
        logger->printHeldMessages();
        logger->logExit(L"CExecutor::startDevModeService", BRONTEL_RESULT_PIPE_TAKEN);
        SetEvent(serviceDoneEvent);
        return BRONTEL_RESULT_PIPE_TAKEN;
    }
    HANDLE pipeThread = nullptr;
    if (controlPipe != INVALID_HANDLE_VALUE) {
        pipeThread = CreateThread(nullptr, 0, pipeRoutine, this, 0, nullptr);
        if (pipeThread == nullptr) {
            logger->logMessage(L"Error creating pipe thread, signalling is not available.");
            CloseHandle(controlPipe);
            controlPipe = INVALID_HANDLE_VALUE;
        }
    }
    int result = startServiceTask();
    if (result != 0) {
        logger->logMessage(L"Service failed to start. ", static_cast<DWORD>(result));
        logger->holdMessages(0);
        logger->printHeldMessages();
    } else {
        logger->holdMessages(0);
        logger->discardHeldMessages();
    }
    logger->logExit(L"CExecutor::startDevModeService", 0);
    SetEvent(serviceDoneEvent);
    if (pipeThread != nullptr) {
        // The pipe thread notices the event within half a second.
        WaitForSingleObject(pipeThread, INFINITE);
        CloseHandle(pipeThread);
    }
    return result;
}
