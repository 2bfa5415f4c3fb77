// The process-wide trace: entry and exit lines, messages and system error texts go to the trace
// file named by the registry switch; messages are also echoed on standard output when enabled.
#ifndef BRONTEL_TRACE_LOGGER_H
#define BRONTEL_TRACE_LOGGER_H

#include "platform/winapi.h"

#include <atomic>
#include <deque>
#include <string>

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
    // A message whose detail is for administrators only (a command's arguments): the trace and
    // the console get `text` and `traced`, a recording (bound for the event log, which every
    // interactive user may read) gets `text` and `recorded`.
    void logPrivateMessage(const wchar_t* text, const wchar_t* traced, const wchar_t* recorded);
    void logSystemError(DWORD errorCode);
    void writeEntry(const wchar_t* first, const wchar_t* second, const wchar_t* third);

    // Development mode keeps the console for the program's own output. While messages are held
    // they are also kept (the last heldMessageLimit of them), so that when brontel ends the run
    // with a failure it can show on standard error why. holdMessages(0) pauses the holding and
    // keeps what was held; printHeldMessages writes the held messages to standard error and
    // discardHeldMessages forgets them.
    void holdMessages(int flag);
    int isHoldingMessages() const { return holding.load(); }
    void printHeldMessages();
    void discardHeldMessages();

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
    void holdMessage(const wchar_t* first, const wchar_t* second, const wchar_t* third);
    // A message to the trace file, the console and the held messages, not to the recording.
    void emitMessage(const wchar_t* text, const wchar_t* second, const wchar_t* third);
    int messagesWanted() const {
        return fileEnabled || stdoutEnabled || holding.load() || isRecording();
    }
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
    std::atomic<int> holding;
    std::deque<std::wstring> held;      // under mutex
    std::atomic<DWORD> recordingThread; // 0: nobody records
    wchar_t* recording;                 // recordingChars + 1, used by the recording thread only
    size_t recordingLength;
};

// Where the trace switch lives in the registry.
#define BRONTEL_SOFTWARE_KEY L"SOFTWARE\\Orvane\\Brontel"
#define BRONTEL_TRACE_VALUE L"Trace"

#endif
