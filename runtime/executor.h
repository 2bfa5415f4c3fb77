// The service runtime: runs one service under the Service Control Manager (-Z) or from the
// console (-x), forwards controls and console events to Java, serves the control pipe, and
// sends signals (-s).
#ifndef BRONTEL_RUNTIME_EXECUTOR_H
#define BRONTEL_RUNTIME_EXECUTOR_H

#include "settings/service_settings.h"
#include "trace/logger.h"

#include <atomic>

class CJvm;
class CStopWatchdog;

// Service-specific code of a service ended because its stop showed no progress in time.
#define BRONTEL_RESULT_STOP_TIMEOUT 28

class CExecutor {
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
    void setServiceStatus(DWORD currentState, DWORD controlsAccepted, DWORD exitCode,
                          DWORD checkPoint, DWORD waitHint);
    static const wchar_t* getStatusDescription(DWORD state);
    static const wchar_t* getCtrlCodeDescription(DWORD control);

    // Console events (signal_handler); non-zero when Java handled the event.
    int consoleSignalHandler(DWORD event);
    // The control pipe server; runs on the pipe thread until the service work has ended.
    void readFromPipe();

    // -s: from the signal's text; by code through the pipe or the Service Control Manager.
    // Each returns 0 when the control was delivered (a restart carried out), else the result
    // code of the failure: 1 for a signal text that names no control, 9 out of memory, 25 for a
    // restart abandoned because the service did not stop, 30 for a control not delivered.
    int sendControlSignal(const wchar_t* signal);
    int sendControlSignal(DWORD control, const wchar_t* pipeName);
    int doRestart();
    // The relay Java's sendServiceControl uses: starts "brontel -s <name> <n>" hidden.
    int sendControlSignal(const wchar_t* serviceName, DWORD signal);

    const wchar_t* getServiceName() const { return serviceName; }
    CLogger* getLogger() const { return logger; }

    // The Java VM is ending the process (System.exit, Runtime.exit, or the VM's orderly
    // shutdown): traces it and, in service mode, reports the service stopped with the exit code
    // as its service-specific code, unless it was reported stopped already.
    void reportJavaExit(DWORD exitCode);

    // Deliveries to the Java VM host from the control handler, the pipe thread and the console
    // handler. A delivery while the host is not ready (before its VM exists, after a failed
    // start, once the task has ended) is dropped: deliverControl returns 0 and
    // deliverConsoleSignal reports the event as not handled. The host is never deleted while a
    // delivery is inside it.
    int deliverControl(DWORD control);
    int deliverConsoleSignal(DWORD event);

    // A stop that shows no progress (runtime/stop_watchdog.cpp): dumps the Java threads, then
    // warns, or reports the service stopped with BRONTEL_RESULT_STOP_TIMEOUT and ends the process.
    void actOnStalledStop(int endProcess, DWORD lastState, DWORD lastCheckPoint, DWORD silentMs);

  protected:
    void startSCMDispatcher();
    int startDevModeService();
    int startServiceTask();
    int executePreinitCommand();
    // Reads one client's 4-byte message from the connected pipe and delivers the code.
    void serveClient(HANDLE pipe, OVERLAPPED* overlapped);
    // The parts of sending: ControlService with its messages, and the two kinds of restart.
    // Each returns 0 on success, else the failure's result code (as sendControlSignal).
    int sendThroughSCM(DWORD control);
    // The pipe of a development-mode instance, opened for a control only when the service does
    // not run under the Service Control Manager and the pipe's server is trusted (the sender's
    // own user, an administrator or LocalSystem); INVALID_HANDLE_VALUE otherwise.
    HANDLE openTrustedPipe(const wchar_t* pipeName);
    // 1 when the Service Control Manager reports the service in any state but stopped.
    int isRunningUnderSCM();
    int restartDevModeInstance(HANDLE pipe, const wchar_t* pipeName);
    int restartThroughSCM();
    // "\\.\pipe\" + service name + "_BrontelPipe"; malloc'ed (free() it), null when out of memory.
    wchar_t* getPipeName();

    // The host's delivery gate: acquireJvm returns the ready host (null when none) and holds
    // it until releaseJvm; retireJvm stops new deliveries and waits for those in flight.
    CJvm* acquireJvm();
    void releaseJvm();
    void retireJvm();
    // The last report: stopped, nothing accepted, `exitCode` as the service-specific code.
    // Nothing is sent when the service has already reported stopped: that report stands.
    void reportFinalStop(DWORD exitCode);
    // The stop watchdog's hooks (runtime/stop_watchdog.cpp).
    void startStopWatchdog();
    void endStopWatchdog();
    void noteControlForWatchdog(DWORD control);
    void noteStatusForWatchdog(DWORD state, DWORD checkPoint, DWORD waitHint);

  private:
    int withoutSCM;
    const wchar_t* serviceName;
    CServiceSettings settings; // read once when execute() begins
    CJvm* jvm;
    HANDLE serviceDoneEvent;
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS serviceStatus;
    CLogger* logger;
    HANDLE jvmLock;          // guards jvmReady and deliveriesInFlight
    int jvmReady;            // 1 from a successful initialize until the task ends
    int deliveriesInFlight;  // deliveries inside the host right now
    HANDLE deliveriesDone;   // set while no delivery is in flight
    HANDLE statusLock;       // one status report at a time, from whichever thread
    CStopWatchdog* watchdog; // from the VM's start until the executor goes; null before
    int stopReported;        // under statusLock: SERVICE_STOPPED went out, nothing may follow
    std::atomic<int> stopRequested; // a stop or shutdown control has been delivered
};

// A control that could not be delivered, or a restart whose start failed (-s).
#define BRONTEL_RESULT_NOT_DELIVERED 30
// Development mode for a name that is not a service installed by this program (as for removal).
#define BRONTEL_RESULT_NOT_INSTALLED 11

// The one executor that runs a service; set by execute() before any other thread starts.
extern CExecutor* g_pExecutor;

// Threads the executor does not own (the VM's threads calling the native methods, console
// handler threads) may still run while the process ends. They reach the executor only through
// this gate: enterExecutor returns it, or null once its destruction has begun, and holds the
// destruction off until the matching leaveExecutor.
CExecutor* enterExecutor();
void leaveExecutor();

void WINAPI g_serviceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI serviceMainThread(LPVOID executor);
void WINAPI g_ControlHandler(DWORD control);
BOOL WINAPI signal_handler(DWORD event);
DWORD WINAPI pipeRoutine(LPVOID executor);

#endif
