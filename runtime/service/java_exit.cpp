// The report of a process that the Java VM ends: without it the Service Control Manager would
// see the process vanish without a final status and take it for a crash.
#include "runtime/service/executor.h"

#include "registry/service_names.h"

void CExecutor::reportJavaExit(DWORD exitCode) {
    logger->logEntry(L"CExecutor::reportJavaExit", static_cast<int>(exitCode));
    logger->logMessage(L"The Java VM ends the process with exit code", exitCode);
    if (!withoutSCM && statusHandle != nullptr) {
        WaitForSingleObject(statusLock.get(), INFINITE);
        int stopped = serviceStatus.dwCurrentState == SERVICE_STOPPED;
        ReleaseMutex(statusLock.get());
        if (stopped) {
            logger->logMessage(L"The service had reported stopped already.");
        } else {
            if (exitCode != 0) {
                WaitForSingleObject(statusLock.get(), INFINITE);
                logJavaStartFailure(exitCode);
                ReleaseMutex(statusLock.get());
            }
            logger->logMessage(L"Set service to state ", serviceStateName(SERVICE_STOPPED));
            reportFinalStop(exitCode);
        }
    }
    logger->logExit(L"CExecutor::reportJavaExit", static_cast<int>(exitCode));
}
