// One capture pipe and the thread that drains it into a capture file, putting a timestamp at the
// start of each line when asked.
#ifndef BRONTEL_RUNTIME_CAPTURE_STREAM_H
#define BRONTEL_RUNTIME_CAPTURE_STREAM_H

#include "runtime/capture/rotating_file.h"

class CCaptureStream {
  public:
    // Takes over `file`.
    CCaptureStream(CRotatingFile* file, int timestamps);
    ~CCaptureStream();
    CCaptureStream(const CCaptureStream&) = delete;
    CCaptureStream& operator=(const CCaptureStream&) = delete;

    // Creates the pipe and starts the writer thread; 0, or the Windows error code.
    DWORD start();
    HANDLE getWriteEnd() const { return writeEnd.get(); }
    // Closes this object's write end: the thread ends once every other one is closed too and
    // the pipe is drained. Returns 1 when it ended within `milliseconds`.
    int finish(DWORD milliseconds);

    // What the thread does with each piece read from the pipe (also used directly by tests).
    void consume(const char* bytes, DWORD count);
    void drain();

    static const DWORD readBytes = 65536;

  private:
    void flushOut();

    CRotatingFile* file;
    int timestamps;
    int atLineStart;
    CWinHandle readEnd;
    CWinHandle writeEnd;
    CWinHandle thread;
    char* out; // readBytes plus room for timestamps
    DWORD outLength;
};

#endif
