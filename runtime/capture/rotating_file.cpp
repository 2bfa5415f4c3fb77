// The capture file: appending, rotation at line boundaries, and surviving write failures.
#include "runtime/capture/rotating_file.h"

#include "runtime/events/event_ids.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
// The system's text for an error, without its line end, into the caller's buffer.
void systemText(DWORD error, wchar_t* buffer, size_t chars) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        swprintf(buffer, chars, L"error %lu.", static_cast<unsigned long>(error));
        return;
    }
    swprintf(buffer, chars, L"%ls", text);
    LocalFree(text);
    size_t end = wcslen(buffer);
    while (end > 0 && (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n')) {
        buffer[--end] = L'\0';
    }
}

// Where the next line starts: the index after the first line end at or after `from`, or
// `count` when the rest is an unfinished line.
DWORD lineEnd(const char* bytes, DWORD from, DWORD count) {
    const void* found = memchr(bytes + from, '\n', count - from);
    return found ? static_cast<DWORD>(static_cast<const char*>(found) - bytes) + 1 : count;
}
} // namespace

CRotatingFile::CRotatingFile(const wchar_t* path, const wchar_t* stream, DWORD rotateBytes,
                             DWORD keepFiles, CLogger* logger, CEventReporter* events)
    : path(nullptr), stream(stream), rotateBytes(rotateBytes), keepFiles(keepFiles), logger(logger),
      events(events), file(INVALID_HANDLE_VALUE), size(0), rotateAt(rotateBytes), atLineStart(1),
      failing(0), brokenLine(0), lostBytes(0), failedAttempts(0), lastAttempt(0) {
    size_t bytes = (wcslen(path) + 1) * sizeof(wchar_t);
    this->path = static_cast<wchar_t*>(malloc(bytes));
    if (this->path != nullptr) {
        memcpy(this->path, path, bytes);
    }
}

CRotatingFile::~CRotatingFile() {
    close();
    free(path);
}

int CRotatingFile::open() {
    if (path == nullptr) {
        fail(ERROR_NOT_ENOUGH_MEMORY, L"open", 0);
        return 0;
    }
    // Others may read, follow and even rename the file while the service writes it.
    file = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail(GetLastError(), L"open", 0);
        return 0;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    size = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR
               ? 0
               : (static_cast<unsigned long long>(high) << 32) | low;
    rotateAt = rotateBytes;
    return 1;
}

void CRotatingFile::write(const char* bytes, DWORD count) {
    if (count == 0) {
        return;
    }
    if (file == INVALID_HANDLE_VALUE) {
        // While failing, a new attempt only every so often: a fast writer must not spin on it.
        if (failing && GetTickCount() - lastAttempt < retryMs) {
            lostBytes += count;
            ++failedAttempts;
            atLineStart = bytes[count - 1] == '\n';
            return;
        }
        if (!open()) {
            lostBytes += count;
            atLineStart = bytes[count - 1] == '\n';
            return;
        }
    }
    if (failing && !resume()) {
        lostBytes += count;
        atLineStart = bytes[count - 1] == '\n';
        return;
    }
    // Runs of whole lines that fit into the current file, one write each.
    DWORD start = 0;
    while (start < count) {
        DWORD end = start;
        if (!atLineStart) {
            end = lineEnd(bytes, start, count); // the rest of the line goes where it began
        } else {
            if (rotateBytes != 0 && size > 0 &&
                size + (lineEnd(bytes, start, count) - start) > rotateAt) {
                rotate();
                if (file == INVALID_HANDLE_VALUE) {
                    lostBytes += count - start;
                    atLineStart = bytes[count - 1] == '\n';
                    return;
                }
            }
            end = lineEnd(bytes, start, count);
            // Further lines that still fit.
            while (end < count &&
                   (rotateBytes == 0 || size + (lineEnd(bytes, end, count) - start) <= rotateAt)) {
                end = lineEnd(bytes, end, count);
            }
        }
        if (!put(bytes + start, end - start)) {
            lostBytes += count - end;
            atLineStart = bytes[count - 1] == '\n';
            return;
        }
        atLineStart = bytes[end - 1] == '\n';
        start = end;
    }
}

int CRotatingFile::put(const char* bytes, DWORD count) {
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, count, &written, nullptr);
    if (ok && written == count) {
        size += count;
        return 1;
    }
    DWORD error = ok ? static_cast<DWORD>(ERROR_DISK_FULL) : GetLastError();
    size += written;
    if (written > 0 && bytes[written - 1] != '\n') {
        brokenLine = 1;
    }
    fail(error, L"write", count - written);
    // Opened again on the next attempt: the failure may have been the file's, not the disk's.
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return 0;
}

void CRotatingFile::fail(DWORD error, const wchar_t* action, DWORD lost) {
    lastAttempt = GetTickCount();
    lostBytes += lost;
    ++failedAttempts;
    if (failing) {
        return;
    }
    failing = 1;
    wchar_t reason[400];
    systemText(error, reason, 400);
    wchar_t message[200];
    swprintf(message, 200, L" (%ls failed, error %lu): ", action,
             static_cast<unsigned long>(error));
    logger->logMessage(L"Cannot write the captured output to ", path ? path : L"", message);
    logger->logMessage(reason);
    if (events != nullptr) {
        const wchar_t* strings[] = {events->getServiceName(), stream, path ? path : L"", reason};
        events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_CAPTURE_FAILED, strings, 4);
    }
}

int CRotatingFile::resume() {
    char notice[200];
    int length = snprintf(notice, sizeof notice,
                          "%sbrontel: output capture resumed; %llu bytes of output were lost.\n",
                          brokenLine || !atLineStart ? "\n" : "", lostBytes);
    DWORD written = 0;
    if (!WriteFile(file, notice, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length)) {
        // Still failing: counted as one more attempt, no new report.
        ++failedAttempts;
        size += written;
        brokenLine = brokenLine || written > 0;
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        lastAttempt = GetTickCount();
        return 0;
    }
    size += written;
    failing = 0;
    brokenLine = 0;
    atLineStart = 1;
    wchar_t lostText[30];
    wchar_t attemptsText[30];
    swprintf(lostText, 30, L"%llu", lostBytes);
    swprintf(attemptsText, 30, L"%lu", failedAttempts);
    logger->logMessage(L"Output capture resumed into ", path, L"; bytes lost:");
    logger->logMessage(lostText);
    if (events != nullptr) {
        const wchar_t* strings[] = {events->getServiceName(), stream, path, lostText, attemptsText};
        events->report(EVENTLOG_INFORMATION_TYPE, BRONTEL_EVENT_CAPTURE_RESUMED, strings, 5);
    }
    lostBytes = 0;
    failedAttempts = 0;
    return 1;
}

void CRotatingFile::rotate() {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    size_t chars = wcslen(path) + 16;
    wchar_t* from = static_cast<wchar_t*>(malloc(chars * sizeof(wchar_t)));
    wchar_t* to = static_cast<wchar_t*>(malloc(chars * sizeof(wchar_t)));
    int moved = from != nullptr && to != nullptr;
    if (moved && keepFiles == 0) {
        moved = DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
    } else if (moved) {
        swprintf(to, chars, L"%ls.%lu", path, static_cast<unsigned long>(keepFiles));
        DeleteFileW(to);
        for (DWORD n = keepFiles; n > 1; --n) {
            swprintf(from, chars, L"%ls.%lu", path, static_cast<unsigned long>(n - 1));
            swprintf(to, chars, L"%ls.%lu", path, static_cast<unsigned long>(n));
            MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING); // a gap in the series is fine
        }
        swprintf(to, chars, L"%ls.1", path);
        moved = MoveFileExW(path, to, MOVEFILE_REPLACE_EXISTING);
    }
    DWORD error =
        moved ? 0 : (from == nullptr || to == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError());
    free(from);
    free(to);
    if (!moved) {
        // Another program may hold the file without sharing its deletion: keep writing into it
        // and try again once it has grown by another rotation size.
        logger->logMessage(L"Cannot rotate the capture file ", path, L"; writing on into it.");
        logger->logSystemError(error);
    }
    unsigned long long kept = size;
    if (open() && !moved) {
        rotateAt = kept + rotateBytes;
    }
}

void CRotatingFile::close() {
    if (failing && lostBytes > 0) {
        wchar_t lostText[30];
        wchar_t attemptsText[30];
        swprintf(lostText, 30, L"%llu", lostBytes);
        swprintf(attemptsText, 30, L"%lu", failedAttempts);
        logger->logMessage(L"Output capture ended while failing; bytes lost: ", lostText);
        if (events != nullptr) {
            const wchar_t* strings[] = {events->getServiceName(), stream, path ? path : L"",
                                        lostText, attemptsText};
            events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_CAPTURE_ENDED_FAILING, strings, 5);
        }
        lostBytes = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
}
