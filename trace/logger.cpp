#include "trace/logger.h"

#include "files/file_results.h"
#include "files/safe_file.h"
#include "platform/handles.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

namespace {
// The trace switch holds a path of at most 999 characters plus its terminator.
const DWORD traceNameChars = 1000;
// Tries for the trace file's lock: the first ones only yield, the rest wait a millisecond each,
// about a quarter of a second in all.
const int lockAttempts = 250;
} // namespace

CLogger::CLogger()
    : stdoutEnabled(0), fileEnabled(0), fileHandle(), lineBuffer(nullptr), narrowBuffer(nullptr),
      lineBufferSize(0), narrowBufferSize(0), lockUsable(0),
      mutex(CreateMutexW(nullptr, FALSE, nullptr)), keepScope(KEEP_NONE), keepPaused(0),
      keepThread(0), keptChars(0) {
    // Read the switch directly: nothing else exists yet, and nothing is traced while reading.
    wchar_t path[traceNameChars + 1] = {0};
    int found = 0;
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SOFTWARE_KEY, 0, KEY_QUERY_VALUE,
                      key.receive()) == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD size = traceNameChars * sizeof(wchar_t);
        if (RegQueryValueExW(key.get(), BRONTEL_TRACE_VALUE, nullptr, &type,
                             reinterpret_cast<LPBYTE>(path), &size) == ERROR_SUCCESS) {
            found = 1;
        }
        key.reset(RegistryKeyKind::none());
    }
    enableLogFile(found ? path : nullptr);
}

CLogger::~CLogger() {
    fileHandle.reset(KernelHandleKind::none());
    free(lineBuffer);
    free(narrowBuffer);
}

void CLogger::enableLogFile(const wchar_t* path) {
    fileEnabled = 0;
    fileHandle.reset(KernelHandleKind::none());
    if (path == nullptr || path[0] == L'\0') {
        return;
    }
    // Opened first, then judged on the handle, walked from the root so that no folder on the
    // way can be swapped for a link between a check and the open. Append-only access: every
    // line lands at the end of the file and it is never truncated. Read access as well only
    // because locking needs it (see writeLine); a file that may only be written is traced into
    // without the lock.
    CWinHandle opened;
    DWORD error = 0;
    const ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    int result = openFileNoLinks(path, FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE, share,
                                 opened, &error);
    if (result == FILES_FAILED && error == ERROR_ACCESS_DENIED) {
        result = openFileNoLinks(path, FILE_APPEND_DATA | SYNCHRONIZE, share, opened, &error);
    }
    if (result == FILES_LINK) {
        logMessage(L"Trace file not used, it or a folder on its path is a link: ", path);
        return;
    }
    if (result == FILES_HARD_LINK) {
        logMessage(L"Trace file not used, it has more than one name (a hard link): ", path);
        return;
    }
    if (result != FILES_OK) {
        logSystemError(error);
        return;
    }
    HANDLE file = opened.release();
    SetFilePointer(file, 0, nullptr, FILE_END);
    fileHandle.reset(file);
    fileEnabled = 1;
    lockUsable = 1;
}

void CLogger::enableStdout(int flag) {
    stdoutEnabled = flag;
}

void CLogger::logEntry(const wchar_t* label) {
    if (!fileEnabled) {
        return;
    }
    writeEntry(label, L" Entry", nullptr);
}

void CLogger::logEntry(const wchar_t* label, int value) {
    writeNumbered(label, L" Entry ", value);
}

void CLogger::logExit(const wchar_t* label, int result) {
    writeNumbered(label, L" Exit ", result);
}

void CLogger::writeNumbered(const wchar_t* label, const wchar_t* what, int number) {
    if (!fileEnabled) {
        return;
    }
    wchar_t text[30];
    swprintf(text, 30, L"%d", number);
    writeEntry(label, what, text);
}

void CLogger::logMessage(const wchar_t* text) {
    logMessage(text, nullptr, nullptr);
}

void CLogger::logMessage(const wchar_t* text, const wchar_t* second) {
    logMessage(text, second, nullptr);
}

void CLogger::logMessage(const wchar_t* text, const wchar_t* second, const wchar_t* third) {
    if (isKeeping()) {
        keepMessage(text, second, third);
    }
    emitMessage(text, second, third);
}

void CLogger::logPrivateMessage(const wchar_t* text, const wchar_t* traced,
                                const wchar_t* recorded) {
    if (isKeeping()) {
        // Development mode shows kept messages to its own administrator; the event log does not
        // belong to administrators alone.
        keepMessage(text, keepScope.load() == KEEP_THIS_THREAD ? recorded : traced, nullptr);
    }
    emitMessage(text, traced, nullptr);
}

void CLogger::emitMessage(const wchar_t* text, const wchar_t* second, const wchar_t* third) {
    if (!fileEnabled && !stdoutEnabled) {
        return;
    }
    if (stdoutEnabled) {
        wprintf(L"%ls%ls%ls\n", text ? text : L"", second ? second : L"", third ? third : L"");
        fflush(stdout);
    }
    writeEntry(text, second, third);
}

void CLogger::logMessage(const wchar_t* text, DWORD number) {
    if (!messagesWanted()) {
        return;
    }
    wchar_t formatted[30];
    swprintf(formatted, 30, L" %d", static_cast<int>(number));
    logMessage(text, formatted, nullptr);
}

void CLogger::logSystemError(DWORD errorCode) {
    if (!messagesWanted()) {
        return;
    }
    CLocalText text;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, errorCode, 0x400, reinterpret_cast<LPWSTR>(text.receive()), 0, nullptr);
    if (length == 0 || !text.isOpen()) {
        // The system has no text for this number: say so rather than print nothing.
        wchar_t fallback[80];
        swprintf(fallback, 80, L"Unknown error %lu.", static_cast<unsigned long>(errorCode));
        logMessage(fallback);
        return;
    }
    logMessage(text.get());
}

void CLogger::logSystemError(const wchar_t* text, DWORD errorCode) {
    logMessage(text, errorCode);
    logSystemError(errorCode);
}

void CLogger::writeEntry(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
    if (!fileHandle.isOpen()) {
        return;
    }
    WaitForSingleObject(mutex.get(), INFINITE);
    size_t chars = 50; // thread id, blank, line feed, terminator and spare
    chars += first ? wcslen(first) : 0;
    chars += second ? wcslen(second) : 0;
    chars += third ? wcslen(third) : 0;
    size_t needed = chars * sizeof(wchar_t);
    if (needed > 0x7FFFFFF0u) {
        // A line this long cannot be a trace line; drop it.
        ReleaseMutex(mutex.get());
        return;
    }
    if (lineBufferSize < needed) {
        free(lineBuffer);
        lineBuffer = static_cast<wchar_t*>(malloc(needed + 10));
        lineBufferSize = lineBuffer ? static_cast<DWORD>(needed) : 0;
    }
    if (lineBufferSize != 0) {
        // Built by hand rather than with the 1024-character formatter, so long lines stay whole.
        swprintf(lineBuffer, 10, L"%08X ", static_cast<unsigned>(GetCurrentThreadId()));
        size_t length = 9;
        const wchar_t* pieces[3] = {first, second, third};
        for (const wchar_t* piece : pieces) {
            if (piece != nullptr) {
                size_t n = wcslen(piece);
                memcpy(lineBuffer + length, piece, n * sizeof(wchar_t));
                length += n;
            }
        }
        lineBuffer[length++] = L'\n';
        lineBuffer[length] = L'\0';

        // Measure first so no text is ever cut in a multi-byte code page.
        int narrowNeeded =
            WideCharToMultiByte(CP_ACP, 0, lineBuffer, -1, nullptr, 0, nullptr, nullptr);
        if (narrowNeeded > 0 && static_cast<DWORD>(narrowNeeded) > narrowBufferSize) {
            free(narrowBuffer);
            narrowBuffer = static_cast<char*>(malloc(static_cast<size_t>(narrowNeeded) + 10));
            narrowBufferSize = narrowBuffer ? static_cast<DWORD>(narrowNeeded) : 0;
        }
        int converted =
            narrowNeeded > 0 && narrowBuffer != nullptr
                ? WideCharToMultiByte(CP_ACP, 0, lineBuffer, -1, narrowBuffer,
                                      static_cast<int>(narrowBufferSize), nullptr, nullptr)
                : 0;
        if (converted > 0) {
            writeLine(narrowBuffer, static_cast<DWORD>(converted - 1));
        } else if (narrowNeeded > 0 && narrowBuffer == nullptr) {
            // No room for the converted line: drop it, as for the line buffer.
        } else {
            writeLine(lineBuffer, static_cast<DWORD>(length * sizeof(wchar_t)));
        }
    }
    ReleaseMutex(mutex.get());
}

void CLogger::writeLine(const void* bytes, DWORD count) {
    // The mutex orders this process's threads; other processes tracing into the same file are
    // kept out by a lock on a byte far past any real end of file, so no reader is ever blocked.
    // Not every file system makes appends from several processes whole on its own (network
    // shares do not, nor does Wine), so the line is written at the end while the lock is held.
    // The wait for the lock is bounded: another process that hangs while holding it (suspended
    // in a debugger, say) must not hang this one, which may be stopping a service. Past the
    // bound, or where the file cannot be locked at all, this process writes without the lock
    // from then on, so it never waits again.
    OVERLAPPED range = {};
    range.OffsetHigh = 0x7FFFFFFF;
    BOOL locked = FALSE;
    for (int attempt = 0; lockUsable && attempt < lockAttempts && !locked; ++attempt) {
        locked = LockFileEx(fileHandle.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                            0, 1, 0, &range);
        if (!locked && GetLastError() != ERROR_LOCK_VIOLATION) {
            break;
        }
        if (!locked) {
            Sleep(attempt < 20 ? 0 : 1);
        }
    }
    lockUsable = locked;
    SetFilePointer(fileHandle.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(fileHandle.get(), bytes, count, &written, nullptr);
    if (locked) {
        UnlockFileEx(fileHandle.get(), 0, 1, 0, &range);
    }
    // Outside the lock: the line is in place, and other processes need not wait for the disk.
    FlushFileBuffers(fileHandle.get());
}

int CLogger::isKeeping() const {
    int scope = keepScope.load();
    return scope != KEEP_NONE && !keepPaused.load() &&
           (scope == KEEP_ALL_THREADS || keepThread.load() == GetCurrentThreadId());
}

void CLogger::startKeeping(int scope) {
    WaitForSingleObject(mutex.get(), INFINITE);
    kept.clear();
    keptChars = 0;
    ReleaseMutex(mutex.get());
    keepThread.store(GetCurrentThreadId());
    keepPaused.store(0);
    keepScope.store(scope);
}

void CLogger::pauseKeeping(int paused) {
    keepPaused.store(paused ? 1 : 0);
}

void CLogger::keepMessage(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
    int scope = keepScope.load();
    // A thread's own story has room for four long lines at least; the console's for whole texts.
    const size_t lineChars = scope == KEEP_THIS_THREAD ? keptTextChars / 4 : keptMessageChars;
    std::wstring line;
    for (const wchar_t* piece : {first, second, third}) {
        if (piece != nullptr) {
            line += piece;
        }
    }
    // System texts end in CR LF of their own.
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) {
        line.pop_back();
    }
    if (line.size() > lineChars) {
        line.resize(lineChars);
    }
    WaitForSingleObject(mutex.get(), INFINITE);
    kept.push_back(line);
    keptChars += line.size() + 2;
    // The oldest make room: the last messages before a failure tell the most.
    while (kept.size() > 1 && (scope == KEEP_THIS_THREAD ? keptChars > keptTextChars
                                                         : kept.size() > keptMessageLimit)) {
        keptChars -= kept.front().size() + 2;
        kept.pop_front();
    }
    ReleaseMutex(mutex.get());
}

std::deque<std::wstring> CLogger::endKeeping() {
    keepScope.store(KEEP_NONE);
    std::deque<std::wstring> lines;
    WaitForSingleObject(mutex.get(), INFINITE);
    lines.swap(kept);
    keptChars = 0;
    ReleaseMutex(mutex.get());
    return lines;
}

void CLogger::printKeptMessages() {
    for (const std::wstring& line : endKeeping()) {
        // Narrow, as everything else this process writes there (the VM writes bytes too).
        int needed = WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (needed <= 0) {
            continue;
        }
        std::string narrow(static_cast<size_t>(needed), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, line.c_str(), -1, &narrow[0], needed, nullptr, nullptr) >
            0) {
            fputs(narrow.c_str(), stderr);
            fputs("\n", stderr);
        }
    }
    fflush(stderr);
}

void CLogger::discardKeptMessages() {
    endKeeping();
}

wchar_t* CLogger::takeKeptMessages() {
    std::deque<std::wstring> lines = endKeeping();
    if (lines.empty()) {
        return nullptr;
    }
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    wchar_t* copy = static_cast<wchar_t*>(malloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}
