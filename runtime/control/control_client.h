// -s: the control client. Sends a control to a service, through the control pipe of a
// development-mode instance or else through the Service Control Manager, and carries out
// restarts in both modes.
#ifndef BRONTEL_RUNTIME_CONTROL_CONTROL_CLIENT_H
#define BRONTEL_RUNTIME_CONTROL_CONTROL_CLIENT_H

#include "platform/result_codes.h"
#include "trace/logger.h"

class CControlClient {
  public:
    CControlClient(CLogger* logger, const wchar_t* serviceName);
    CControlClient(const CControlClient&) = delete;
    CControlClient& operator=(const CControlClient&) = delete;

    // Each returns 0 when the control was delivered (a restart carried out), else the result
    // code of the failure: BRONTEL_RESULT_USAGE for a signal text that names no control,
    // BRONTEL_RESULT_OUT_OF_MEMORY, BRONTEL_RESULT_STOP_FAILED for a restart abandoned because
    // the service did not stop, BRONTEL_RESULT_NOT_DELIVERED for a control not delivered.
    // From the signal's text: a control's or console event's name, or a number.
    int sendControlSignal(const wchar_t* signal);
    // By code, through the pipe or the Service Control Manager; the restart code restarts.
    int sendControl(DWORD control, const wchar_t* pipeName);
    int restart();

  private:
    // The pipe of a development-mode instance, opened for a control only when the service does
    // not run under the Service Control Manager and the pipe's server is trusted (the sender's
    // own user, an administrator or LocalSystem); INVALID_HANDLE_VALUE otherwise.
    HANDLE openTrustedPipe(const wchar_t* pipeName);
    int sendThroughSCM(DWORD control);
    // Takes the pipe over and closes it once the stop is written.
    int restartDevModeInstance(HANDLE pipe, const wchar_t* pipeName);
    int restartThroughSCM();

    CLogger* logger;
    const wchar_t* serviceName;
};

#endif
