// The server end of a development-mode run's control pipe: another instance of the program (-s)
// writes a control code into it, and the server hands the code to its target as a service
// control would be handed over.
#ifndef BRONTEL_RUNTIME_CONTROL_CONTROL_PIPE_H
#define BRONTEL_RUNTIME_CONTROL_CONTROL_PIPE_H

#include "platform/handles.h"
#include "platform/result_codes.h"
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

    // Makes the pipe, before anything of the service runs: 0 when it exists now, or could not be
    // made for a reason that leaves the run without it (traced); BRONTEL_RESULT_PIPE_IN_USE when
    // another process holds a pipe of that name.
    int createPipe();
    int hasPipe() const { return pipeHandle.isOpen(); }
    // Starts the pipe thread, which serves the pipe that createPipe made and closes it; its
    // handle, or null when there is no pipe or no thread (the pipe is closed then).
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
    CWinHandle pipeHandle; // made by createPipe, closed when the server ends
};

#endif
