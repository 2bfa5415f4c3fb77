// What the Java VM host needs from the service that runs it, and the gate through which the
// VM's own threads reach it. jvm/ knows nothing else of the service runtime: the runtime
// implements this interface, opens the gate with it before the VM starts and closes it when the
// service is over.
#ifndef BRONTEL_JVM_HOST_LINK_H
#define BRONTEL_JVM_HOST_LINK_H

#include "trace/logger.h"

class CJvmHostLink {
  public:
    // Java's setServiceState: the five values in this order, reported as the service's status.
    virtual void setServiceStatus(DWORD currentState, DWORD controlsAccepted, DWORD exitCode,
                                  DWORD checkPoint, DWORD waitHint) = 0;
    // The VM is ending the process (System.exit, Runtime.exit, or its orderly shutdown).
    virtual void reportJavaExit(DWORD exitCode) = 0;
    // Java's sendServiceControl: has another instance of the program deliver `control` to
    // `serviceName` (null: this service). 1 when that instance was started, else 0.
    virtual int relayControl(const wchar_t* serviceName, DWORD control) = 0;
    // The trace, for lines that Java writes into it.
    virtual CLogger* getLogger() = 0;
    // Whether the administrator lets the trace show arguments (traceArguments=TRUE).
    virtual int tracesArguments() = 0;

  protected:
    ~CJvmHostLink() {}
};

// Threads the host does not own (the VM's threads calling the native methods, its exit hook,
// console handler threads) may still run while the process ends. They reach the host only
// through this gate: enterJvmHost returns it, or null while the gate is closed, and holds
// closeJvmHostGate off until the matching leaveJvmHost.
void openJvmHostGate(CJvmHostLink* host);
// No new call gets in; returns once those already inside have left.
void closeJvmHostGate();
CJvmHostLink* enterJvmHost();
void leaveJvmHost();

#endif
