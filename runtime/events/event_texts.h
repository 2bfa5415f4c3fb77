// The words of the service's event log entries, as the message table built from
// runtime/events/event_messages.mc gives them, for reading an entry back on one line.
#ifndef BRONTEL_RUNTIME_EVENT_TEXTS_H
#define BRONTEL_RUNTIME_EVENT_TEXTS_H

#include "platform/winapi.h"

#include <stddef.h>

// The entry `eventId` with its insertion strings put in, on one line: each line break of the
// message or of a string becomes a blank. An ID that is not brontel's gives the strings
// side by side. At most `chars` characters with the ending zero go into `text`.
void formatEventText(DWORD eventId, const wchar_t* const* strings, size_t count, wchar_t* text,
                     size_t chars);

#endif
