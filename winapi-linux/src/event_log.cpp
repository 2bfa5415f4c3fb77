// The event log: each reported event becomes one JSON object on a line of
// eventlog/Application.jsonl under the root, appended whole so that processes never interleave.
// event_log_read.cpp reads them back.
#include "event_log.h"
#include "kobject.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class EventSource : public standin::KObject {
  public:
    explicit EventSource(const std::string& name) : KObject(EventLog), name_(name) {}
    const std::string& name() const { return name_; }

  private:
    std::string name_;
};

std::atomic<int> inheritedFd{-1};

int inheritedLog() {
    return inheritedFd.load();
}

// The log under the root, open for appending; -1 with the error set when it cannot be.
int openLog() {
    if (!standin::ensureRootDirectory()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    std::string directory = standin::rootDirectory() + "/eventlog";
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        SetLastError(standin::errorFromErrno(errno));
        return -1;
    }
    std::string path = directory + "/Application.jsonl";
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(standin::errorFromErrno(errno));
    }
    return fd;
}

void appendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

EventSource* sourceFromHandle(HANDLE handle) {
    return standin::handleAs<EventSource>(handle, standin::KObject::EventLog);
}

} // namespace

bool standin::isLocalLogName(LPCWSTR serverName, LPCWSTR name) {
    if (serverName != nullptr || name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

extern "C" HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName) {
    if (!standin::isLocalLogName(serverName, sourceName)) {
        return nullptr;
    }
    return standin::registerHandle(new EventSource(standin::toUtf8(sourceName)));
}

extern "C" BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId,
                                    PSID userSid, WORD stringCount, DWORD dataSize,
                                    LPCWSTR* strings, LPVOID rawData) {
    (void)userSid, (void)rawData;
    EventSource* source = sourceFromHandle(eventLog);
    if (source == nullptr) {
        return FALSE;
    }
    if ((stringCount > 0 && strings == nullptr) || dataSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string line = "{\"source\": ";
    appendJsonString(line, source->name());
    char numbers[120];
    snprintf(numbers, sizeof numbers,
             ", \"type\": %u, \"category\": %u, \"id\": %u, \"pid\": %d, \"time\": %lld",
             static_cast<unsigned>(type), static_cast<unsigned>(category),
             static_cast<unsigned>(eventId), static_cast<int>(getpid()),
             static_cast<long long>(time(nullptr)));
    line += numbers;
    line += ", \"strings\": [";
    for (WORD i = 0; i < stringCount; ++i) {
        if (i > 0) {
            line += ", ";
        }
        appendJsonString(line, strings[i] ? standin::toUtf8(strings[i]) : std::string());
    }
    line += "]}\n";

    int inherited = inheritedLog();
    int fd = inherited >= 0 ? inherited : openLog();
    if (fd < 0) {
        return FALSE;
    }
    DWORD written = 0;
    BOOL ok = standin::writeAll(
        [fd](const char* bytes, size_t count) { return ::write(fd, bytes, count); }, line.data(),
        static_cast<DWORD>(line.size()), &written, 0);
    if (fd != inherited) {
        close(fd);
    }
    return ok;
}

void standin::useEventLogDescriptor(int fd) {
    inheritedFd.store(fd);
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
    if (sourceFromHandle(eventLog) == nullptr) {
        return FALSE;
    }
    return CloseHandle(eventLog);
}
