// The service executor: the service task shared by both modes, the status record, and the
// gate through which controls and console events reach the Java VM host.
#include "runtime/service/executor.h"

#include "jvm/jvm.h"
#include "registry/service_names.h"
#include "runtime/service/process_setup.h"
#include "runtime/control/relay.h"
#include "runtime/service/stop_watchdog.h"

CExecutor* g_pExecutor = nullptr;

namespace {
// The Service Control Manager ignores the service-specific code unless the Win32 code says
// that there is one; without it a failed start would look like a clean stop.
DWORD win32ExitCodeFor(DWORD serviceSpecificExitCode) {
    return serviceSpecificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
}
} // namespace

CExecutor::CExecutor(CLogger* logger, const wchar_t* serviceName)
    : withoutSCM(0), serviceName(serviceName), jvm(nullptr),
      serviceDoneEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), statusHandle(nullptr),
      serviceStatus(), logger(logger), jvmLock(CreateMutexW(nullptr, FALSE, nullptr)), jvmReady(0),
      deliveriesInFlight(0), deliveriesDone(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      statusLock(CreateMutexW(nullptr, FALSE, nullptr)), watchdog(nullptr), stopReported(0),
      reachedRunning(0), startFailureLogged(0), stopRequested(0) {}

CExecutor::~CExecutor() {
    // Java threads that outlive the service must not reach a deleted executor: no new call gets
    // in, and those already inside finish before anything is freed.
    if (g_pExecutor == this) {
        closeJvmHostGate();
        g_pExecutor = nullptr;
    }
    if (jvm != nullptr) {
        retireJvm();
        delete jvm;
        jvm = nullptr;
    }
    delete watchdog;
    // The events and locks close themselves after this.
}

int CExecutor::execute(int withoutSCM) {
    logger->logEntry(L"CExecutor::execute");
    this->withoutSCM = withoutSCM;
    // Every part of the run reads the settings from here; a value memory did not allow to be
    // read counts as absent, as it would when read on its own.
    // First, so that the settings' %NAME% references, the pre-initialization command and the VM
    // all see the service's own variables.
    applyServiceEnvironment(serviceName, !withoutSCM, logger);
    if (settings.load(serviceName) != 0) {
        logger->logMessage(L"Memory error while reading the service's settings.");
    }
    g_pExecutor = this;
    openJvmHostGate(this);
    int result = 0;
    if (withoutSCM) {
        result = startDevModeService();
    } else {
        startSCMDispatcher();
    }
    logger->logExit(L"CExecutor::execute", 0);
    return result;
}

int CExecutor::startServiceTask() {
    logger->logEntry(L"CExecutor::startServiceTask");
    // The VM is started whether or not the command could be run.
    executePreinitCommand();

    CJvm* host = new CJvm(serviceName, logger, this, &settings);
    WaitForSingleObject(jvmLock.get(), INFINITE);
    jvm = host;
    ReleaseMutex(jvmLock.get());

    // Started before the VM exists: a thread created by a thread that the VM knows inherits the
    // VM's blocked signals, and the watchdog must be able to take the VM's break signal.
    startStopWatchdog();
    int result = host->initialize();
    if (result == 0) {
        WaitForSingleObject(jvmLock.get(), INFINITE);
        jvmReady = 1;
        ReleaseMutex(jvmLock.get());
        // Installed only once the VM exists, and never removed.
        SetConsoleCtrlHandler(signal_handler, TRUE);
        result = host->runServiceMain();
    }

    retireJvm();
    // Only now: a control that never returns holds the retirement, and the watchdog must still
    // be there to end a stop that stalls on it.
    endStopWatchdog();
    WaitForSingleObject(jvmLock.get(), INFINITE);
    jvm = nullptr;
    ReleaseMutex(jvmLock.get());
    delete host;
    logger->logExit(L"CExecutor::startServiceTask", result);
    return result;
}

CJvm* CExecutor::acquireJvm(int retiredToo) {
    CJvm* host = nullptr;
    WaitForSingleObject(jvmLock.get(), INFINITE);
    if (jvm != nullptr && (jvmReady || retiredToo)) {
        host = jvm;
        if (deliveriesInFlight++ == 0) {
            ResetEvent(deliveriesDone.get());
        }
    }
    ReleaseMutex(jvmLock.get());
    return host;
}

void CExecutor::releaseJvm() {
    WaitForSingleObject(jvmLock.get(), INFINITE);
    if (--deliveriesInFlight == 0) {
        SetEvent(deliveriesDone.get());
    }
    ReleaseMutex(jvmLock.get());
}

void CExecutor::retireJvm() {
    WaitForSingleObject(jvmLock.get(), INFINITE);
    jvmReady = 0;
    ReleaseMutex(jvmLock.get());
    // No new delivery can start now; those already inside the host finish first.
    WaitForSingleObject(deliveriesDone.get(), INFINITE);
}

int CExecutor::deliverControl(DWORD control) {
    CJvm* host = acquireJvm();
    if (host == nullptr) {
        return 0;
    }
    // The clock starts before Java sees the stop: a handler that never returns is watched too.
    noteControlForWatchdog(control);
    host->sendControlCommand(control);
    releaseJvm();
    return 1;
}

int CExecutor::deliverConsoleSignal(DWORD event) {
    CJvm* host = acquireJvm();
    if (host == nullptr) {
        return 0;
    }
    int handled = host->sendConsoleSignal(event);
    releaseJvm();
    return handled;
}

void CExecutor::serviceControlHandler(DWORD control) {
    logger->logEntry(L"CExecutor::serviceControlHandler");
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        stopRequested.store(1);
    }
    // Every code goes to Java, which answers through setServiceState.
    deliverControl(control);
    logger->logExit(L"CExecutor::serviceControlHandler", 0);
}

void CExecutor::setServiceStatus(DWORD currentState, DWORD controlsAccepted, DWORD exitCode,
                                 DWORD checkPoint, DWORD waitHint) {
    logger->logEntry(L"CExecutor::setServiceStatus", static_cast<int>(currentState));
    WaitForSingleObject(statusLock.get(), INFINITE);
    if (stopReported) {
        // The Service Control Manager takes nothing after the stop; sending it anyway would show
        // a service without a process as running again.
        logger->logMessage(L"The service has already reported SERVICE_STOPPED; state ",
                           serviceStateName(currentState), L" not reported.");
        ReleaseMutex(statusLock.get());
        logger->logExit(L"CExecutor::setServiceStatus", static_cast<int>(currentState));
        return;
    }
    if (currentState == SERVICE_STOPPED && exitCode != 0) {
        logJavaStartFailure(exitCode);
    }
    serviceStatus.dwCurrentState = currentState;
    serviceStatus.dwControlsAccepted = controlsAccepted;
    serviceStatus.dwServiceSpecificExitCode = exitCode;
    serviceStatus.dwCheckPoint = checkPoint;
    serviceStatus.dwWaitHint = waitHint;
    serviceStatus.dwWin32ExitCode = win32ExitCodeFor(exitCode);
    logger->logMessage(L"Set service to state ", serviceStateName(currentState));
    if (!withoutSCM) {
        SetServiceStatus(statusHandle, &serviceStatus);
    }
    stopReported = currentState == SERVICE_STOPPED;
    reachedRunning |= currentState == SERVICE_RUNNING;
    ReleaseMutex(statusLock.get());
    noteStatusForWatchdog(currentState, checkPoint, waitHint);
    logger->logExit(L"CExecutor::setServiceStatus", static_cast<int>(currentState));
}

void CExecutor::reportFinalStop(DWORD exitCode) {
    WaitForSingleObject(statusLock.get(), INFINITE);
    if (stopReported) {
        ReleaseMutex(statusLock.get());
        return;
    }
    stopReported = 1;
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwControlsAccepted = 0;
    serviceStatus.dwServiceSpecificExitCode = exitCode;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 0;
    serviceStatus.dwWin32ExitCode = win32ExitCodeFor(exitCode);
    SetServiceStatus(statusHandle, &serviceStatus);
    ReleaseMutex(statusLock.get());
}

int CExecutor::tracesArguments() {
    int set = 0;
    settings.flag(CFG_TRACE_ARGUMENTS, logger, nullptr, &set);
    return set;
}

int CExecutor::relayControl(const wchar_t* targetService, DWORD control) {
    // No name means this service.
    return startRelayProcess(logger, targetService != nullptr ? targetService : serviceName,
                             control);
}
