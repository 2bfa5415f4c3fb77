// Development mode (-x): the service task on the main thread, beside the control pipe.
#include "runtime/service/executor.h"

#include "platform/handles.h"
#include "registry/service_manager.h"
#include "runtime/service/process_setup.h"

int CExecutor::startDevModeService() {
    logger->logEntry(L"CExecutor::startDevModeService");
    // The console belongs to the program while it runs; the messages are kept so that a run
    // that brontel ends with a failure can still say why, on standard error.
    logger->startKeeping(KEEP_ALL_THREADS);
    if (!isBrontelService(serviceName)) {
        // Nothing else is tried: the settings it would read are not there.
        logger->logMessage(L"The service ", serviceName ? serviceName : L"",
                           L" is not installed (brontel -b lists the services brontel installed).");
        logger->printKeptMessages();
        logger->logExit(L"CExecutor::startDevModeService", BRONTEL_RESULT_NOT_INSTALLED);
        SetEvent(serviceDoneEvent.get());
        return BRONTEL_RESULT_NOT_INSTALLED;
    }
    CControlPipeServer pipeServer(logger, serviceName, this, serviceDoneEvent.get());
    // Before anything of the service runs: a run whose pipe another process holds would take
    // its controls from whoever that process admits.
    if (pipeServer.createPipe() == BRONTEL_RESULT_PIPE_IN_USE) {
        logger->printKeptMessages();
        logger->logExit(L"CExecutor::startDevModeService", BRONTEL_RESULT_PIPE_IN_USE);
        SetEvent(serviceDoneEvent.get());
        return BRONTEL_RESULT_PIPE_IN_USE;
    }
    CWinHandle pipeThread;
    if (pipeServer.hasPipe()) {
        pipeThread.reset(pipeServer.startThread());
        if (!pipeThread.isOpen()) {
            logger->logMessage(L"Error creating pipe thread, signalling is not available.");
        }
    }
    // Relative paths of the pre-initialization command and the VM start from here.
    int result = enterWorkingDirectory(settings, logger);
    if (result == 0) {
        result = startServiceTask();
    }
    if (result == 0) {
        // A service class that reports itself stopped with a code (a program that cannot be
        // started, say) has failed even though its serviceMain returned: the console run says
        // so in its exit code, as the service's code tells the Service Control Manager.
        WaitForSingleObject(statusLock.get(), INFINITE);
        if (stopReported && serviceStatus.dwServiceSpecificExitCode != 0) {
            result = static_cast<int>(serviceStatus.dwServiceSpecificExitCode);
        }
        ReleaseMutex(statusLock.get());
    }
    if (result != 0) {
        logger->logMessage(L"Service failed to start. ", static_cast<DWORD>(result));
        logger->printKeptMessages();
    } else {
        logger->discardKeptMessages();
    }
    logger->logExit(L"CExecutor::startDevModeService", 0);
    SetEvent(serviceDoneEvent.get());
    if (pipeThread.isOpen()) {
        // The pipe thread notices the event within half a second.
        WaitForSingleObject(pipeThread.get(), INFINITE);
    }
    return result;
}
