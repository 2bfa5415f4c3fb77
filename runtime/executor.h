// The service runtime: runs one service under the Service Control Manager (-Z) or from the
// console (-x), forwards controls and console events to Java, serves the control pipe, and
// sends signals (-s).
#ifndef BRONTEL_RUNTIME_EXECUTOR_H
#define BRONTEL_RUNTIME_EXECUTOR_H

#include "trace/logger.h"

#include <atomic>

class CJvm;

class CExecutor {
  public:
    CExecutor(CLogger* logger, const wchar_t* serviceName);
    ~CExecutor();
    CExecutor(const CExecutor&) = delete;
    CExecutor& operator=(const CExecutor&) = delete;

    void execute(int withoutSCM);
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
    void sendControlSignal(const wchar_t* signal);
    int sendControlSignal(DWORD control, const wchar_t* pipeName);
    int doRestart();
    // The relay Java's sendServiceControl uses: starts "brontel -s <name> <n>" hidden.
    int sendControlSignal(const wchar_t* serviceName, DWORD signal);

    const wchar_t* getServiceName() const { return serviceName; }

    // Deliveries to the Java VM host from the control handler, the pipe thread and the console
    // handler. A delivery while the host is not ready (before its VM exists, after a failed
    // start, once the task has ended) is dropped: deliverControl returns 0 and
    // deliverConsoleSignal reports the event as not handled. The host is never deleted while a
    // delivery is inside it.
    int deliverControl(DWORD control);
    int deliverConsoleSignal(DWORD event);

  protected:
    void startSCMDispatcher();
    void startDevModeService();
    int startServiceTask();
    int executePreinitCommand();
    // Reads one client's 4-byte message from the connected pipe and delivers the code.
    void serveClient(HANDLE pipe, OVERLAPPED* overlapped);
    // The parts of sending: ControlService with its messages, and the two kinds of restart.
    // Each returns 1 on success, 0 on failure.
    int sendThroughSCM(DWORD control);
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
    void reportFinalStop(DWORD exitCode);

  private:
    int withoutSCM;
    const wchar_t* serviceName;
    CJvm* jvm;
    HANDLE serviceDoneEvent;
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS serviceStatus;
    CLogger* logger;
    HANDLE jvmLock;                 // guards jvmReady and deliveriesInFlight
    int jvmReady;                   // 1 from a successful initialize until the task ends
    int deliveriesInFlight;         // deliveries inside the host right now
    HANDLE deliveriesDone;          // set while no delivery is in flight
    HANDLE statusLock;              // one status report at a time, from whichever thread
    std::atomic<int> stopRequested; // a stop or shutdown control has been delivered
};

// The one executor that runs a service; set by execute() before any other thread starts.
extern CExecutor* g_pExecutor;

void WINAPI g_serviceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI serviceMainThread(LPVOID executor);
void WINAPI g_ControlHandler(DWORD control);
BOOL WINAPI signal_handler(DWORD event);
DWORD WINAPI pipeRoutine(LPVOID executor);

#endif
