// Reading the event log back: the lines of eventlog/Application.jsonl become records laid out as
// Windows lays out EVENTLOGRECORD, read one after another forwards or backwards. A line that is
// not one of ReportEventW's is skipped; only the file's last part is read when it is very large.
#include "event_log.h"
#include "kobject.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const off_t mostBytesRead = 16 * 1024 * 1024;
const DWORD recordSignature = 0x654c664c; // "LfLe", as Windows marks its records

struct LoggedEvent {
    std::wstring source;
    DWORD id = 0;
    DWORD time = 0;
    WORD type = 0;
    WORD category = 0;
    std::vector<std::wstring> strings;
};

class LogReader : public standin::KObject {
  public:
    LogReader() : KObject(standin::KObject::EventLogReader), next(-1) {}
    std::vector<LoggedEvent> events;
    long next; // the index of the record a sequential read gives next; -1: not begun
};

// A cursor over one JSON line as ReportEventW writes it.
class Line {
  public:
    explicit Line(const std::string& text) : text(text), at(0) {}

    bool take(char c) {
        skipBlanks();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    bool string(std::string* out) {
        out->clear();
        if (!take('"')) {
            return false;
        }
        while (at < text.size()) {
            char c = text[at++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at >= text.size()) {
                return false;
            }
            char escaped = text[at++];
            switch (escaped) {
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            case 't':
                *out += '\t';
                break;
            case 'u': {
                // Only control characters are written this way.
                if (at + 4 > text.size()) {
                    return false;
                }
                *out += static_cast<char>(strtol(text.substr(at, 4).c_str(), nullptr, 16) & 0x7F);
                at += 4;
                break;
            }
            default:
                *out += escaped;
            }
        }
        return false;
    }

    bool number(long long* out) {
        skipBlanks();
        size_t start = at;
        while (at < text.size() &&
               (isdigit(static_cast<unsigned char>(text[at])) || text[at] == '-')) {
            ++at;
        }
        if (at == start) {
            return false;
        }
        *out = strtoll(text.substr(start, at - start).c_str(), nullptr, 10);
        return true;
    }

  private:
    void skipBlanks() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
    }
    const std::string& text;
    size_t at;
};

bool parseStrings(Line& line, LoggedEvent* event) {
    if (!line.take('[')) {
        return false;
    }
    if (line.take(']')) {
        return true;
    }
    do {
        std::string item;
        if (!line.string(&item) || event->strings.size() >= 0xFFFF) {
            return false;
        }
        event->strings.push_back(standin::fromUtf8(item));
    } while (line.take(','));
    return line.take(']');
}

bool parseEvent(const std::string& text, LoggedEvent* event) {
    Line line(text);
    if (!line.take('{')) {
        return false;
    }
    bool haveSource = false;
    do {
        std::string key;
        if (!line.string(&key) || !line.take(':')) {
            return false;
        }
        if (key == "strings") {
            if (!parseStrings(line, event)) {
                return false;
            }
            continue;
        }
        if (key == "source") {
            std::string source;
            if (!line.string(&source)) {
                return false;
            }
            event->source = standin::fromUtf8(source);
            haveSource = true;
            continue;
        }
        long long value = 0;
        if (!line.number(&value)) {
            return false;
        }
        if (key == "id") {
            event->id = static_cast<DWORD>(value);
        } else if (key == "time") {
            event->time = static_cast<DWORD>(value);
        } else if (key == "type") {
            event->type = static_cast<WORD>(value);
        } else if (key == "category") {
            event->category = static_cast<WORD>(value);
        }
    } while (line.take(','));
    return haveSource && line.take('}');
}

void loadEvents(LogReader* reader) {
    std::string path = standin::rootDirectory() + "/eventlog/Application.jsonl";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return; // no log yet: no records
    }
    struct stat info;
    off_t from = 0;
    if (fstat(fd, &info) == 0 && info.st_size > mostBytesRead) {
        from = info.st_size - mostBytesRead;
    }
    std::string text;
    text.resize(static_cast<size_t>(fstat(fd, &info) == 0 ? info.st_size - from : 0));
    DWORD got = 0;
    if (lseek(fd, from, SEEK_SET) != from ||
        !standin::readAll(fd, &text[0], static_cast<DWORD>(text.size()), &got)) {
        got = 0;
    }
    close(fd);
    text.resize(got);
    size_t start = 0;
    if (from > 0) {
        // The first line was cut by the window.
        size_t end = text.find('\n');
        start = end == std::string::npos ? text.size() : end + 1;
    }
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size(); // a line still being written is read as it is
        }
        LoggedEvent event;
        if (parseEvent(text.substr(start, end - start), &event)) {
            reader->events.push_back(event);
        }
        start = end + 1;
    }
}

std::vector<BYTE> layOut(const LoggedEvent& event, DWORD number) {
    const size_t wide = sizeof(WCHAR);
    WCHAR computer[64];
    DWORD computerChars = 64;
    if (!GetComputerNameW(computer, &computerChars)) {
        wcscpy(computer, L"LOCALHOST");
    }
    size_t stringsBytes = 0;
    for (const std::wstring& item : event.strings) {
        stringsBytes += (item.size() + 1) * wide;
    }
    size_t sourceAt = sizeof(EVENTLOGRECORD);
    size_t computerAt = sourceAt + (event.source.size() + 1) * wide;
    size_t stringsAt = (computerAt + (wcslen(computer) + 1) * wide + 3) & ~static_cast<size_t>(3);
    size_t lengthAt = (stringsAt + stringsBytes + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> record(lengthAt + sizeof(DWORD), 0);
    EVENTLOGRECORD header = {};
    header.Length = static_cast<DWORD>(record.size());
    header.Reserved = recordSignature;
    header.RecordNumber = number;
    header.TimeGenerated = event.time;
    header.TimeWritten = event.time;
    header.EventID = event.id;
    header.EventType = event.type;
    header.NumStrings = static_cast<WORD>(event.strings.size());
    header.EventCategory = event.category;
    header.StringOffset = static_cast<DWORD>(stringsAt);
    header.UserSidOffset = static_cast<DWORD>(stringsAt);
    header.DataOffset = static_cast<DWORD>(stringsAt + stringsBytes);
    memcpy(record.data(), &header, sizeof header);
    memcpy(record.data() + sourceAt, event.source.c_str(), (event.source.size() + 1) * wide);
    memcpy(record.data() + computerAt, computer, (wcslen(computer) + 1) * wide);
    size_t at = stringsAt;
    for (const std::wstring& item : event.strings) {
        memcpy(record.data() + at, item.c_str(), (item.size() + 1) * wide);
        at += (item.size() + 1) * wide;
    }
    memcpy(record.data() + lengthAt, &header.Length, sizeof(DWORD));
    return record;
}

LogReader* readerFromHandle(HANDLE handle) {
    return standin::handleAs<LogReader>(handle, standin::KObject::EventLogReader);
}

} // namespace

extern "C" HANDLE WINAPI OpenEventLogW(LPCWSTR serverName, LPCWSTR sourceName) {
    if (!standin::isLocalLogName(serverName, sourceName)) {
        return nullptr;
    }
    // Every source's events are in the one Application log, as a source not registered with
    // Windows opens that log too.
    LogReader* reader = new LogReader();
    loadEvents(reader);
    return standin::registerHandle(reader);
}

extern "C" BOOL WINAPI ReadEventLogW(HANDLE eventLog, DWORD readFlags, DWORD recordOffset,
                                     LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead,
                                     DWORD* minNeeded) {
    (void)recordOffset;
    LogReader* reader = readerFromHandle(eventLog);
    if (reader == nullptr) {
        return FALSE;
    }
    bool backwards = (readFlags & EVENTLOG_BACKWARDS_READ) != 0;
    if ((readFlags & EVENTLOG_SEQUENTIAL_READ) == 0 ||
        backwards == ((readFlags & EVENTLOG_FORWARDS_READ) != 0) || bytesRead == nullptr ||
        minNeeded == nullptr || (buffer == nullptr && bytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *bytesRead = 0;
    *minNeeded = 0;
    long count = static_cast<long>(reader->events.size());
    if (reader->next < 0) {
        reader->next = backwards ? count - 1 : 0;
    }
    // As many whole records as fit, as Windows gives them.
    DWORD used = 0;
    while (reader->next >= 0 && reader->next < count) {
        std::vector<BYTE> record = layOut(reader->events[static_cast<size_t>(reader->next)],
                                          static_cast<DWORD>(reader->next + 1));
        if (record.size() > bytesToRead - used) {
            if (used == 0) {
                *minNeeded = static_cast<DWORD>(record.size());
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            break;
        }
        memcpy(static_cast<BYTE*>(buffer) + used, record.data(), record.size());
        used += static_cast<DWORD>(record.size());
        reader->next += backwards ? -1 : 1;
    }
    if (used == 0) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    *bytesRead = used;
    return TRUE;
}

extern "C" BOOL WINAPI CloseEventLog(HANDLE eventLog) {
    if (readerFromHandle(eventLog) == nullptr) {
        return FALSE;
    }
    return CloseHandle(eventLog);
}
