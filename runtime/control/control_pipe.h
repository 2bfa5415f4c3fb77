// The server end of a development-mode run's control pipe: another instance of the program (-s)
// writes a control code into it, and the server hands the code to its target as a service
// control would be handed over.
#ifndef BRONTEL_RUNTIME_CONTROL_CONTROL_PIPE_H
#define BRONTEL_RUNTIME_CONTROL_CONTROL_PIPE_H

#include "trace/logger.h"

// What receives the codes: the service that runs. 0 when it is not ready and the code is dropped.
class CControlTarget {
  public:
    virtual int deliverControl(DWORD control) = 0;

  protected:
    ~CControlTarget() {}
};

class CControlPipeServer {
  public:
    // The server runs until `doneEvent` (the end of the service's work) is set; it notices
    // within half a second.
    CControlPipeServer(CLogger* logger, const wchar_t* serviceName, CControlTarget* target,
                       HANDLE doneEvent);
    CControlPipeServer(const CControlPipeServer&) = delete;
    CControlPipeServer& operator=(const CControlPipeServer&) = delete;

    // Starts the pipe thread, which runs readFromPipe; its handle, or null when it cannot be
    // created.
    HANDLE startThread();
    void readFromPipe();

  private:
    static DWORD WINAPI pipeRoutine(LPVOID server);
    // Reads one client's 4-byte message from the connected pipe and delivers the code.
    void serveClient(HANDLE pipe, OVERLAPPED* overlapped);

    CLogger* logger;
    const wchar_t* serviceName;
    CControlTarget* target;
    HANDLE serviceDoneEvent;
};

#endif
