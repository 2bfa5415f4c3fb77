// One capture file: appended to, rotated by size at line boundaries (name becomes name.1, and
// so on up to the number kept), or also by day with dated names (dated_files.h), and kept going
// through failures: while the file cannot be opened or written, output is counted as lost, the
// failure is traced and reported once, and writing resumes with a line that says how much was lost.
// Every file of the series is opened, renamed and deleted within the capture folder held open
// (capture_folder.h), never by path: a link there is neither followed nor moved, a file with
// another name never written.
#ifndef BRONTEL_RUNTIME_ROTATING_FILE_H
#define BRONTEL_RUNTIME_ROTATING_FILE_H

#include "platform/handles.h"
#include "platform/result_codes.h"
#include "runtime/capture/capture_folder.h"
#include "runtime/events/event_reporter.h"

// The time as GetSystemTimeAsFileTime tells it (tests give a clock of their own).
typedef void(WINAPI* CaptureClock)(FILETIME* now);

class CRotatingFile {
  public:
    // `path` is copied; `stream` names the captured stream(s) in messages; events may be null.
    CRotatingFile(const wchar_t* path, const wchar_t* stream, DWORD rotateBytes, DWORD keepFiles,
                  CLogger* logger, CEventReporter* events);
    ~CRotatingFile();
    CRotatingFile(const CRotatingFile&) = delete;
    CRotatingFile& operator=(const CRotatingFile&) = delete;

    // At the service's start: opens the folder and the file. A folder that is refused is traced
    // and gives BRONTEL_RESULT_UNSAFE_CAPTURE_PATH; any other failure is the capture's own
    // (traced, reported, tried again) and gives 0.
    int prepare();
    // Before prepare: the file also rotates when a local day ends, at the first line written
    // after it; its output goes to a name with the day's date, as does output that size
    // rotation moves aside. The logKeepFiles kept are the newest dated files. At prepare, the
    // file of an earlier day (by its last write) is moved to its date; one of today goes on.
    void rotateDaily(CaptureClock clock) { this->clock = clock; }

    // Appends bytes that continue the output written so far; a line is never split across
    // two files.
    void write(const char* bytes, DWORD count);
    // Ends the capture: reports output lost since the last failure, closes the file.
    void close();

    // Milliseconds between attempts to open a file that failed.
    static const DWORD retryMs = 1000;

  private:
    int open();
    // dayEnds: the file holds a finished day's output (else it reached the rotation size).
    void rotate(int dayEnds);
    // Renames the file to its day's next dated name and deletes the oldest dated files past the
    // number kept; 0 or the Windows error.
    DWORD moveToDate(int dayEnds);
    DWORD today();
    // Moves name.(n - 1) to name.n, or removes name.n when n is past the number kept; what is
    // there and not one of the capture's plain files is left alone, and said.
    void shift(DWORD n);
    // Says that rotation did not touch `name`, a link or a file with another name.
    void leftAlone(const wchar_t* name);
    // Says, once, that the folder held is no longer where its path leads.
    void checkFolderStays();
    // Writes through to the file; on failure counts what was not written and returns 0.
    int put(const char* bytes, DWORD count);
    void fail(DWORD error, const wchar_t* action, DWORD lost);
    // The same with a reason of brontel's own (a files module result) instead of an error.
    void refuse(int result, DWORD error);
    void report(const wchar_t* detail, const wchar_t* reason, DWORD lost);
    int resume();

    wchar_t* path;
    const wchar_t* stream;
    DWORD rotateBytes;
    DWORD keepFiles;
    CLogger* logger;
    CEventReporter* events;
    CaptureClock clock; // null: no rotation by day
    DWORD fileDay;      // the local day of the file's output (dated_files.h), 0 while empty
    CCaptureFolder folder;
    int folderMoveSaid;
    CWinHandle file;
    unsigned long long size;      // bytes in the current file
    unsigned long long rotateAt;  // size from which the next line starts a new file
    int atLineStart;              // the output so far ends with a line end
    int failing;                  // output is being lost
    int brokenLine;               // a failed write left the file inside a line
    unsigned long long lostBytes; // since the failure began
    unsigned long failedAttempts;
    DWORD lastAttempt;
};

#endif
