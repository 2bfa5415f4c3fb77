// The service runtime: runs one service under the Service Control Manager (-Z) or from the
// console (-x), reports its status, and forwards controls and console events to Java. It is the
// Java VM host's host (jvm/host_link.h) and the target of the control pipe.
#ifndef BRONTEL_RUNTIME_SERVICE_EXECUTOR_H
#define BRONTEL_RUNTIME_SERVICE_EXECUTOR_H

#include "jvm/host_link.h"
#include "platform/handles.h"
#include "platform/result_codes.h"
#include "runtime/control/control_pipe.h"
#include "settings/service_settings.h"
#include "trace/logger.h"

#include <atomic>

class CJvm;
class CStopWatchdog;
struct PreinitProgram;

class CExecutor final : public CJvmHostLink, public CControlTarget {
  public:
    CExecutor(CLogger* logger, const wchar_t* serviceName);
    ~CExecutor();
    CExecutor(const CExecutor&) = delete;
    CExecutor& operator=(const CExecutor&) = delete;

    // The run's result: in development mode the failure that ended it (0 when the service ran
    // and ended normally), in service mode always 0 (failures go to the Service Control Manager).
    int execute(int withoutSCM);
    void startServiceMainThread();
    void serviceMain();
    void serviceControlHandler(DWORD control);

    // What the Java VM host asks of the service (jvm/host_link.h).
    void setServiceStatus(DWORD currentState, DWORD controlsAccepted, DWORD exitCode,
                          DWORD checkPoint, DWORD waitHint) override;
    // Traces the end and, in service mode, reports the service stopped with the exit code as its
    // service-specific code, unless it was reported stopped already.
    void reportJavaExit(DWORD exitCode) override;
    int relayControl(const wchar_t* serviceName, DWORD control) override;
    CLogger* getLogger() override { return logger; }
    int tracesArguments() override;

    // Console events (signal_handler); non-zero when Java handled the event.
    int consoleSignalHandler(DWORD event);

    // Deliveries to the Java VM host from the control handler, the pipe thread and the console
    // handler. A delivery while the host is not ready (before its VM exists, after a failed
    // start, once the task has ended) is dropped: deliverControl returns 0 and
    // deliverConsoleSignal reports the event as not handled. The host is never deleted while a
    // delivery is inside it.
    int deliverControl(DWORD control) override;
    int deliverConsoleSignal(DWORD event);

    // A stop that shows no progress (runtime/service/stop_watchdog.cpp): dumps the Java threads,
    // then warns, or reports the service stopped with BRONTEL_RESULT_STOP_TIMEOUT and ends the
    // process.
    void actOnStalledStop(int endProcess, DWORD lastState, DWORD lastCheckPoint, DWORD silentMs);

    const wchar_t* getServiceName() const { return serviceName; }

  protected:
    void startSCMDispatcher();
    int startDevModeService();
    int startServiceTask();
    int executePreinitCommand();
    // Starts the resolved pre-initialization program with the command line and waits for it;
    // 0, or BRONTEL_RESULT_PREINIT_FAILED when it cannot be started.
    int runPreinitProgram(const wchar_t* command, const PreinitProgram& program);

    // The host's delivery gate: acquireJvm returns the ready host (null when none) and holds
    // it until releaseJvm; retireJvm stops new deliveries and waits for those in flight.
    // retiredToo also gives a host being retired: only the stop watchdog, which the task ends
    // before the host goes, may ask for it.
    CJvm* acquireJvm(int retiredToo = 0);
    void releaseJvm();
    void retireJvm();
    // The last report: stopped, nothing accepted, `exitCode` as the service-specific code.
    // Nothing is sent when the service has already reported stopped: that report stands.
    void reportFinalStop(DWORD exitCode);
    // Under statusLock: the event log entry of a start that the Java side ends itself with
    // `code` (stopped with a code, or the VM ended, before the service ever ran).
    void logJavaStartFailure(DWORD code);
    // The stop watchdog's hooks (runtime/service/stop_watchdog.cpp).
    void startStopWatchdog();
    void endStopWatchdog();
    void noteControlForWatchdog(DWORD control);
    void noteStatusForWatchdog(DWORD state, DWORD checkPoint, DWORD waitHint);

  private:
    int withoutSCM;
    const wchar_t* serviceName;
    CServiceSettings settings; // read once when execute() begins
    CJvm* jvm;
    CWinHandle serviceDoneEvent;
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS serviceStatus;
    CLogger* logger;
    CWinHandle jvmLock;        // guards jvmReady and deliveriesInFlight
    int jvmReady;              // 1 from a successful initialize until the task ends
    int deliveriesInFlight;    // deliveries inside the host right now
    CWinHandle deliveriesDone; // set while no delivery is in flight
    CWinHandle statusLock;     // one status report at a time, from whichever thread
    CStopWatchdog* watchdog;   // from the VM's start until the executor goes; null before
    int stopReported;          // under statusLock: SERVICE_STOPPED went out, nothing may follow
    int reachedRunning;        // under statusLock: SERVICE_RUNNING went out once
    int startFailureLogged;    // under statusLock: the failed start has its event log entry
    std::atomic<int> stopRequested; // a stop or shutdown control has been delivered
};

// The one executor that runs a service, for the Windows callbacks that carry no context of their
// own; set by execute() before any other thread starts. Those that may run while the process
// ends (console handlers) reach it only through the Java VM host's gate, which is open exactly
// while it lives.
extern CExecutor* g_pExecutor;

void WINAPI g_serviceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI serviceMainThread(LPVOID executor);
void WINAPI g_ControlHandler(DWORD control);
BOOL WINAPI signal_handler(DWORD event);

#endif
