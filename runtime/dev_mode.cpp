// Development mode (-x): the service task on the main thread, beside the control pipe.
#include "runtime/executor.h"

void CExecutor::startDevModeService() {
    logger->logEntry(L"CExecutor::startDevModeService");
    HANDLE pipeThread = CreateThread(nullptr, 0, pipeRoutine, this, 0, nullptr);
    if (pipeThread == nullptr) {
        logger->logMessage(L"Error creating pipe thread, signalling is not available.");
    }
    startServiceTask();
    logger->logExit(L"CExecutor::startDevModeService", 0);
    SetEvent(serviceDoneEvent);
    if (pipeThread != nullptr) {
        // The pipe thread notices the event within half a second.
        WaitForSingleObject(pipeThread, INFINITE);
        CloseHandle(pipeThread);
    }
}
