// The process-wide trace: entry and exit lines, messages and system error texts go to the trace
// file named by the registry switch; messages are also echoed on standard output when enabled.
#ifndef BRONTEL_TRACE_LOGGER_H
#define BRONTEL_TRACE_LOGGER_H

#include "platform/handles.h"
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
    // A failed Windows call: the text-and-number message with the error, then the system's text
    // for it. Take the error from GetLastError before anything else is logged.
    void logSystemError(const wchar_t* text, DWORD errorCode);
    void writeEntry(const wchar_t* first, const wchar_t* second, const wchar_t* third);

    // Kept messages: the story of a failure, told where the trace may not be read. While
    // keeping is on, each message (traced or not; entry and exit lines never) is also kept, the
    // most recent within the scope's bounds:
    // - KEEP_ALL_THREADS (development mode, whose console belongs to the Java program): every
    //   thread's, the last keptMessageLimit, each cut to keptMessageChars; brontel shows them on
    //   standard error when it ends the run with a failure.
    // - KEEP_THIS_THREAD (the service thread): the calling thread's, the latest up to keptTextChars
    //   with their line ends, each cut to a quarter of that; they go into the event log entry of
    //   a failed start.
    // startKeeping forgets what was kept before. pauseKeeping(1) stops keeping for a while and
    // keeps what was kept; pauseKeeping(0) goes on. Each of the last three stops keeping.
    void startKeeping(int scope);
    int getKeepingScope() const { return keepScope.load(); }
    void pauseKeeping(int paused);
    // Writes the kept messages to standard error, one a line, and forgets them.
    void printKeptMessages();
    void discardKeptMessages();
    // The kept messages as lines ending in CR LF (free() the text); null when none were kept.
    wchar_t* takeKeptMessages();
    static constexpr size_t keptMessageLimit = 100;
    static constexpr size_t keptMessageChars = 4000;
    static constexpr size_t keptTextChars = 8000;

    int isFileEnabled() const { return fileEnabled; }
    int isStdoutEnabled() const { return stdoutEnabled; }

  private:
    void writeLine(const void* bytes, DWORD count);
    // An entry or exit line: the label, the word and the number in decimal.
    void writeNumbered(const wchar_t* label, const wchar_t* what, int number);
    int messagesWanted() const { return fileEnabled || stdoutEnabled || isKeeping(); }
    // Whether a message of the calling thread is to be kept now.
    int isKeeping() const;
    void keepMessage(const wchar_t* first, const wchar_t* second, const wchar_t* third);
    // Stops keeping and hands the kept messages over.
    std::deque<std::wstring> endKeeping();
    // A message to the trace file and the console, not to the kept messages.
    void emitMessage(const wchar_t* text, const wchar_t* second, const wchar_t* third);

    int stdoutEnabled;
    int fileEnabled;
    CWinHandle fileHandle;
    wchar_t* lineBuffer;
    char* narrowBuffer;
    DWORD lineBufferSize;   // bytes in lineBuffer, 0 when there are no buffers
    DWORD narrowBufferSize; // bytes in narrowBuffer
    int lockUsable;         // 0 once the trace file's lock could not be had: write without it
    CWinHandle mutex;
    std::atomic<int> keepScope; // KEEP_NONE when not keeping
    std::atomic<int> keepPaused;
    std::atomic<DWORD> keepThread; // KEEP_THIS_THREAD: the thread whose messages are kept
    std::deque<std::wstring> kept; // under mutex
    size_t keptChars;              // under mutex: the kept texts with a line end each
};

// Scopes of CLogger::startKeeping.
#define KEEP_NONE 0
#define KEEP_ALL_THREADS 1
#define KEEP_THIS_THREAD 2

// Where the trace switch lives in the registry.
#define BRONTEL_SOFTWARE_KEY L"SOFTWARE\\Orvane\\Brontel"
#define BRONTEL_TRACE_VALUE L"Trace"

#endif
