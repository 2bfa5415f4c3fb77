#include "runtime/events/event_texts.h"

#include "runtime/events/event_ids.h"

namespace {

struct Message {
    DWORD id;
    const wchar_t* text;
};
// Word for word as in event_messages.mc (the end-to-end test of the status compares them).
const Message messages[] = {
    {BRONTEL_EVENT_START_FAILED,
     L"The service %1 failed to start (code %2).%r%n%r%n%3%r%nJava VM library: %4%r%nService "
     L"class: %5%r%n%r%nWhat to do: %6"},
    {BRONTEL_EVENT_JAVA_ENDED,
     L"The Java side of the service %1 ended without being asked to stop: serviceMain returned "
     L"while the service was in state %2. The service has stopped."},
    {BRONTEL_EVENT_CAPTURE_FAILED,
     L"The service %1 cannot write its %2 to the file %3: %4 The output is lost until the file "
     L"can be written again; the service keeps running."},
    {BRONTEL_EVENT_CAPTURE_RESUMED,
     L"The service %1 writes its %2 to the file %3 again. %4 bytes of output were lost after %5 "
     L"failed attempts."},
    {BRONTEL_EVENT_CAPTURE_ENDED_FAILING,
     L"The service %1 stopped while its %2 could not be written to the file %3: %4 bytes of "
     L"output were lost after %5 failed attempts."},
    {BRONTEL_EVENT_CAPTURE_NOT_STARTED,
     L"The output capture of the service %1 could not be set up: %2 That output is lost."},
    {BRONTEL_EVENT_SUPPRESSED,
     L"%2 more entries with event ID %3 of the service %1 were not written, to keep the log "
     L"readable."},
};

// Appends into a fixed area, a line break as one blank, and stops quietly when it is full.
class OneLine {
  public:
    OneLine(wchar_t* text, size_t chars) : text(text), chars(chars), used(0) { text[0] = L'\0'; }
    void put(wchar_t c) {
        if (c == L'\r' || c == L'\n') {
            if (used > 0 && text[used - 1] == L' ') {
                return;
            }
            c = L' ';
        }
        if (used + 1 < chars) {
            text[used++] = c;
            text[used] = L'\0';
        }
    }
    void put(const wchar_t* words) {
        for (; words != nullptr && *words != L'\0'; ++words) {
            put(*words);
        }
    }

  private:
    wchar_t* text;
    size_t chars;
    size_t used;
};

} // namespace

void formatEventText(DWORD eventId, const wchar_t* const* strings, size_t count, wchar_t* text,
                     size_t chars) {
    if (text == nullptr || chars == 0) {
        return;
    }
    OneLine line(text, chars);
    const wchar_t* pattern = nullptr;
    for (const Message& message : messages) {
        if (message.id == (eventId & 0xFFFF)) {
            pattern = message.text;
        }
    }
    if (pattern == nullptr) {
        for (size_t i = 0; i < count; ++i) {
            if (i > 0) {
                line.put(L' ');
            }
            line.put(strings[i]);
        }
        return;
    }
    for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
        if (*p != L'%' || p[1] == L'\0') {
            line.put(*p);
        } else if (p[1] == L'r') {
            ++p; // the %n after it makes the break
        } else if (p[1] == L'n') {
            line.put(L'\n');
            ++p;
        } else if (p[1] >= L'1' && p[1] <= L'9') {
            size_t index = static_cast<size_t>(p[1] - L'1');
            line.put(index < count ? strings[index] : L"");
            ++p;
        } else {
            line.put(p[1]);
            ++p;
        }
    }
}
