// The process-wide trace: entry and exit lines, messages and system error texts go to the trace
// file named by the registry switch; messages are also echoed on standard output when enabled.
#ifndef BRONTEL_TRACE_LOGGER_H
#define BRONTEL_TRACE_LOGGER_H

#include "platform/winapi.h"

#include <atomic>

class CLogger {
  public:
    CLogger();
    ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    void enableLogFile(const wchar_t* path);
    void enableStdout(int flag);

    void logEntry(const wchar_t* label);
    void logEntry(const wchar_t* label, int value);
    void logExit(const wchar_t* label, int result);
    void logMessage(const wchar_t* text);
    void logMessage(const wchar_t* text, const wchar_t* second);
    void logMessage(const wchar_t* text, const wchar_t* second, const wchar_t* third);
    // The numeric form: the text, a blank and the number as a signed decimal.
    void logMessage(const wchar_t* text, DWORD number);
    void logSystemError(DWORD errorCode);
    void writeEntry(const wchar_t* first, const wchar_t* second, const wchar_t* third);

    // From now on the calling thread's messages (not entry and exit lines) are also kept, traced
    // or not, the most recent of them up to recordingChars; takeRecording stops that and hands
    // them over as lines ending in CR LF (free() the text; null when nothing was kept).
    void startRecording();
    wchar_t* takeRecording();
    static constexpr size_t recordingChars = 8000;

    int isFileEnabled() const { return fileEnabled; }
    int isStdoutEnabled() const { return stdoutEnabled; }

  private:
    void writeLine(const void* bytes, DWORD count);
    int isRecording() const { return recordingThread.load() == GetCurrentThreadId(); }
    void record(const wchar_t* first, const wchar_t* second, const wchar_t* third);

    int stdoutEnabled;
    int fileEnabled;
    HANDLE fileHandle;
    wchar_t* lineBuffer;
    char* narrowBuffer;
    DWORD lineBufferSize;   // bytes in lineBuffer, 0 when there are no buffers
    DWORD narrowBufferSize; // bytes in narrowBuffer
    int lockUsable;         // 0 once the trace file's lock could not be had: write without it
    HANDLE mutex;
    std::atomic<DWORD> recordingThread; // 0: nobody records
    wchar_t* recording;                 // recordingChars + 1, used by the recording thread only
    size_t recordingLength;
};

// Where the trace switch lives in the registry.
#define BRONTEL_SOFTWARE_KEY L"SOFTWARE\\Orvane\\Brontel"
#define BRONTEL_TRACE_VALUE L"Trace"

#endif
