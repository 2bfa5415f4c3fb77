#include "runtime/operate/last_event.h"

#include "platform/handles.h"
#include "platform/textutil.h"
#include "runtime/events/event_texts.h"

#include <stdio.h>
#include <string.h>
#include <time.h>
#include <vector>
#include <wchar.h>

namespace {

const DWORD areaBytes = 64 * 1024;
// A record larger than this is no entry of brontel's (Windows keeps each under 64 KB).
const DWORD mostRecordBytes = 256 * 1024;
// The newest entries only: a long log without the service's entry is not read to its start.
const DWORD mostRecords = 20000;
const size_t mostStrings = 16;

struct EventLogKind {
    typedef HANDLE Type;
    static Type none() { return nullptr; }
    static bool isValid(Type handle) { return handle != nullptr; }
    static void close(Type handle) { CloseEventLog(handle); }
};

// The zero-ended text at `at` in the record, or null when it runs past the record's end.
const wchar_t* textAt(const BYTE* record, DWORD length, size_t at, size_t* bytes) {
    const size_t wide = sizeof(wchar_t);
    for (size_t end = at; end + wide <= length; end += wide) {
        wchar_t c;
        memcpy(&c, record + end, wide);
        if (c == L'\0') {
            *bytes = end + wide - at;
            return reinterpret_cast<const wchar_t*>(record + at);
        }
    }
    return nullptr;
}

int fromRecord(const BYTE* record, const EVENTLOGRECORD& header, const wchar_t* serviceName,
               LastEvent* event) {
    size_t bytes = 0;
    const wchar_t* source = textAt(record, header.Length, sizeof(EVENTLOGRECORD), &bytes);
    // Windows knows a service and its event source by name without regard to case.
    if (source == nullptr || !asciiEqualNoCase(source, serviceName)) {
        return 0;
    }
    const wchar_t* strings[mostStrings];
    size_t count = 0;
    size_t at = header.StringOffset;
    for (WORD i = 0; i < header.NumStrings && count < mostStrings; ++i) {
        const wchar_t* item = textAt(record, header.Length, at, &bytes);
        if (item == nullptr) {
            break;
        }
        strings[count++] = item;
        at += bytes;
    }
    event->time = header.TimeGenerated;
    event->id = header.EventID & 0xFFFF;
    formatEventText(event->id, strings, count, event->text, LastEvent::textChars);
    time_t seconds = static_cast<time_t>(header.TimeGenerated);
    const struct tm* utc = gmtime(&seconds);
    if (utc == nullptr) {
        swprintf(event->when, 32, L"%lu", static_cast<unsigned long>(header.TimeGenerated));
    } else {
        swprintf(event->when, 32, L"%04d-%02d-%02d %02d:%02d:%02d UTC", utc->tm_year + 1900,
                 utc->tm_mon + 1, utc->tm_mday, utc->tm_hour, utc->tm_min, utc->tm_sec);
    }
    return 1;
}

} // namespace

int readLastEvent(const wchar_t* serviceName, LastEvent* event) {
    CHandleOf<EventLogKind> log(OpenEventLogW(nullptr, L"Application"));
    if (!log.isOpen()) {
        return 0;
    }
    std::vector<BYTE> area(areaBytes);
    DWORD seen = 0;
    while (seen < mostRecords) {
        DWORD read = 0;
        DWORD needed = 0;
        if (!ReadEventLogW(log.get(), EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0,
                           area.data(), static_cast<DWORD>(area.size()), &read, &needed)) {
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > area.size() &&
                needed <= mostRecordBytes) {
                area.resize(needed);
                continue;
            }
            return 0; // the end of the log, or a log that cannot be read
        }
        // Newest first: the first record of the service's source is its last entry.
        DWORD at = 0;
        while (read - at >= sizeof(EVENTLOGRECORD)) {
            EVENTLOGRECORD header;
            memcpy(&header, area.data() + at, sizeof header);
            if (header.Length < sizeof header || header.Length > read - at) {
                return 0; // not a record: nothing more can be trusted
            }
            if (fromRecord(area.data() + at, header, serviceName, event)) {
                return 1;
            }
            at += header.Length;
            ++seen;
        }
        if (read == 0) {
            return 0;
        }
    }
    return 0;
}
