// The capture file: appending, rotation at line boundaries, and surviving write failures.
#include "runtime/capture/rotating_file.h"

#include "files/file_in_folder.h"
#include "files/file_results.h"
#include "files/folder_refusal.h"
#include "files/full_path.h"
#include "files/relative_open.h"
#include "runtime/capture/dated_files.h"
#include "runtime/events/event_ids.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
// The system's text for an error, without its line end, into the caller's buffer.
void systemText(DWORD error, wchar_t* buffer, size_t chars) {
    CLocalText text;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, error, 0x400, reinterpret_cast<LPWSTR>(text.receive()), 0, nullptr);
    if (length == 0 || !text.isOpen()) {
        swprintf(buffer, chars, L"error %lu.", static_cast<unsigned long>(error));
        return;
    }
    swprintf(buffer, chars, L"%ls", text.get());
    size_t end = wcslen(buffer);
    while (end > 0 && (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n')) {
        buffer[--end] = L'\0';
    }
}

// Why brontel refuses to use a file or its folder, for the trace and the event log.
const wchar_t* refusalReason(int result) {
    switch (result) {
    case FILES_LINK:
        return L"The file, or a folder on its path, is a link (a symbolic link, junction or mount "
               L"point); brontel does not follow it.";
    case FILES_HARD_LINK:
        return L"The file has more than one name (a hard link); brontel does not write into it.";
    case FILES_OTHERS_WRITE:
        return L"Users other than LocalSystem, Administrators and the service's account can "
               L"change its folder.";
    default:
        return L"The security of its folder cannot be read.";
    }
}

// Everything the capture may do with its own files; others may read, follow and rename them.
const ACCESS_MASK captureAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE;
const ULONG captureShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
      events(events), clock(nullptr), fileDay(0), folder(path), folderMoveSaid(0), file(), size(0),
      rotateAt(rotateBytes), atLineStart(1), failing(0), brokenLine(0), lostBytes(0),
      failedAttempts(0), lastAttempt(0) {
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

int CRotatingFile::prepare() {
    DWORD error = 0;
    int result = path == nullptr ? FILES_OK : folder.open(&error);
    wchar_t refused[400];
    if (captureFolderRefusal(result, 0, refused, 400)) {
        logger->logMessage(refused, folderOf(path).c_str());
        if (result == FILES_SECURITY_UNKNOWN) {
            logger->logSystemError(error);
        }
        return BRONTEL_RESULT_UNSAFE_CAPTURE_PATH;
    }
    // Any other failure is the capture's: reported, and tried again while the service runs.
    if (!file.isOpen()) {
        open();
    }
    // A restart on a later day first puts the earlier day's output under its date.
    if (clock != nullptr && file.isOpen() && size > 0 && fileDay != 0 && fileDay != today()) {
        rotate(1);
    }
    return 0;
}

int CRotatingFile::open() {
    if (path == nullptr) {
        fail(ERROR_NOT_ENOUGH_MEMORY, L"open", 0);
        return 0;
    }
    DWORD error = 0;
    int result = folder.open(&error);
    if (result == FILES_OK) {
        CWinHandle opened;
        int created = 0;
        result = openFileInFolder(folder.get(), folder.fileName(), captureAccess, captureShare,
                                  folder.fileSecurity(), opened, &error, &created);
        file.reset(opened.release());
    }
    if (result == FILES_FAILED) {
        fail(error, L"open", 0);
        return 0;
    }
    if (result != FILES_OK) {
        refuse(result, error);
        return 0;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(file.get(), &high);
    size = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR
               ? 0
               : (static_cast<unsigned long long>(high) << 32) | low;
    rotateAt = rotateBytes;
    fileDay = 0;
    BY_HANDLE_FILE_INFORMATION information;
    if (clock != nullptr && size > 0 && GetFileInformationByHandle(file.get(), &information)) {
        fileDay = localDay(information.ftLastWriteTime);
    }
    return 1;
}

void CRotatingFile::write(const char* bytes, DWORD count) {
    if (count == 0) {
        return;
    }
    if (!file.isOpen()) {
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
    DWORD day = clock != nullptr ? today() : 0;
    // Runs of whole lines that fit into the current file, one write each.
    DWORD start = 0;
    while (start < count) {
        DWORD end = start;
        if (!atLineStart) {
            end = lineEnd(bytes, start, count); // the rest of the line goes where it began
        } else {
            int dayEnded = day != 0 && size > 0 && fileDay != 0 && fileDay != day;
            if (dayEnded || (rotateBytes != 0 && size > 0 &&
                             size + (lineEnd(bytes, start, count) - start) > rotateAt)) {
                rotate(dayEnded);
                if (!file.isOpen()) {
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
        if (fileDay == 0) {
            fileDay = day;
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
    BOOL ok = WriteFile(file.get(), bytes, count, &written, nullptr);
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
    file.reset(KernelHandleKind::none());
    return 0;
}

void CRotatingFile::fail(DWORD error, const wchar_t* action, DWORD lost) {
    wchar_t reason[400];
    systemText(error, reason, 400);
    wchar_t detail[200];
    swprintf(detail, 200, L" (%ls failed, error %lu): ", action, static_cast<unsigned long>(error));
    report(detail, reason, lost);
}

void CRotatingFile::refuse(int result, DWORD error) {
    if (result != FILES_SECURITY_UNKNOWN) {
        report(L" (open refused): ", refusalReason(result), 0);
        return;
    }
    wchar_t reason[600];
    wchar_t system[400];
    systemText(error, system, 400);
    swprintf(reason, 600, L"%ls %ls", refusalReason(result), system);
    report(L" (open refused): ", reason, 0);
}

void CRotatingFile::report(const wchar_t* detail, const wchar_t* reason, DWORD lost) {
    lastAttempt = GetTickCount();
    lostBytes += lost;
    ++failedAttempts;
    if (failing) {
        return;
    }
    failing = 1;
    logger->logMessage(L"Cannot write the captured output to ", path ? path : L"", detail);
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
    if (!WriteFile(file.get(), notice, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length)) {
        // Still failing: counted as one more attempt, no new report.
        ++failedAttempts;
        size += written;
        brokenLine = brokenLine || written > 0;
        file.reset(KernelHandleKind::none());
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

void CRotatingFile::rotate(int dayEnds) {
    checkFolderStays();
    DWORD error = 0;
    if (keepFiles == 0) {
        error = deleteOpened(file.get());
    } else if (clock != nullptr) {
        error = moveToDate(dayEnds);
    } else {
        for (DWORD n = keepFiles; n > 1; --n) {
            shift(n);
        }
        std::wstring first = std::wstring(folder.fileName()) + L".1";
        error = renameIntoFolder(file.get(), folder.get(), first.c_str(), 1);
    }
    int moved = error == 0;
    file.reset(KernelHandleKind::none());
    if (!moved) {
        // Another program may hold the file without sharing its deletion: keep writing into it
        // and try again once it has grown by another rotation size.
        logger->logMessage(L"Cannot rotate the capture file ", path, L"; writing on into it.");
        logger->logSystemError(error);
    }
    unsigned long long kept = size;
    if (open() && !moved) {
        rotateAt = kept + rotateBytes;
        // The day's output goes on into it; tried again when the next day ends.
        fileDay = clock != nullptr ? today() : 0;
    }
}

DWORD CRotatingFile::today() {
    FILETIME now;
    clock(&now);
    return localDay(now);
}

DWORD CRotatingFile::moveToDate(int dayEnds) {
    std::vector<DatedFile> dated;
    DWORD error = listDatedFiles(folder.get(), folder.fileName(), &dated);
    if (error != 0) {
        return error;
    }
    DWORD day = fileDay != 0 ? fileDay : today();
    // A day's only file has the date alone; a day of several files numbers them all.
    int earlier = 0;
    DWORD highest = 0;
    for (const DatedFile& found : dated) {
        if (found.day == day) {
            earlier = 1;
            highest = found.part > highest ? found.part : highest;
        }
    }
    DWORD part = dayEnds && !earlier ? 0 : highest + 1;
    std::wstring name = datedName(folder.fileName(), day, part);
    error = renameIntoFolder(file.get(), folder.get(), name.c_str(), 0);
    if (error != 0) {
        return error;
    }
    dated.push_back(DatedFile{day, part, name});
    // Oldest first: listed in order, and the new name is the day's latest.
    std::stable_sort(dated.begin(), dated.end(), [](const DatedFile& a, const DatedFile& b) {
        return a.day != b.day ? a.day < b.day : a.part < b.part;
    });
    for (size_t i = 0; i + keepFiles < dated.size(); ++i) {
        CWinHandle oldest;
        DWORD ignored = 0;
        int result =
            openExistingInFolder(folder.get(), dated[i].name.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                 captureShare, oldest, &ignored);
        if (result == FILES_OK) {
            deleteOpened(oldest.get());
        } else if (result != FILES_FAILED) {
            leftAlone(dated[i].name.c_str());
        }
    }
    return 0;
}

void CRotatingFile::shift(DWORD n) {
    wchar_t number[16];
    swprintf(number, 16, L".%lu", static_cast<unsigned long>(n));
    std::wstring newer = std::wstring(folder.fileName()) + number;
    // The oldest goes first; then name.(n - 1) takes its number. A gap in the series is fine.
    if (n == keepFiles) {
        CWinHandle oldest;
        DWORD error = 0;
        int result =
            openExistingInFolder(folder.get(), newer.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                 captureShare, oldest, &error);
        if (result == FILES_OK) {
            deleteOpened(oldest.get());
        } else if (result != FILES_FAILED) {
            leftAlone(newer.c_str());
        }
    }
    swprintf(number, 16, L".%lu", static_cast<unsigned long>(n - 1));
    std::wstring older = std::wstring(folder.fileName()) + number;
    CWinHandle moving;
    DWORD error = 0;
    int result = openExistingInFolder(folder.get(), older.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                      captureShare, moving, &error);
    if (result == FILES_OK) {
        renameIntoFolder(moving.get(), folder.get(), newer.c_str(), 1);
    } else if (result != FILES_FAILED) {
        leftAlone(older.c_str());
    }
}

void CRotatingFile::leftAlone(const wchar_t* name) {
    logger->logMessage(L"Capture rotation leaves alone what is not a plain file of the capture: ",
                       name, L" is a link or has another name.");
}

void CRotatingFile::checkFolderStays() {
    if (folderMoveSaid || folder.stillAtItsPath()) {
        return;
    }
    folderMoveSaid = 1;
    logger->logMessage(L"The output capture folder was moved, removed or replaced while the "
                       L"service ran; the output goes on into the folder brontel opened: ",
                       folderOf(path).c_str());
}

void CRotatingFile::close() {
    if (path != nullptr && folder.isOpen()) {
        checkFolderStays();
    }
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
    file.reset(KernelHandleKind::none());
}
