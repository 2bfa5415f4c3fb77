// The service's event log entries. Each number is a message of the table built from
// runtime/events/event_messages.mc into brontel.exe; the insertion strings are listed per entry.
#ifndef BRONTEL_RUNTIME_EVENT_IDS_H
#define BRONTEL_RUNTIME_EVENT_IDS_H

// service, code, trace text, JVM library, service class, what to do
#define BRONTEL_EVENT_START_FAILED 1
// service, state name
#define BRONTEL_EVENT_JAVA_ENDED 2
// service, stream, file, reason
#define BRONTEL_EVENT_CAPTURE_FAILED 3
// service, stream, file, bytes lost, failed attempts
#define BRONTEL_EVENT_CAPTURE_RESUMED 4
// service, stream, file, bytes lost, failed attempts
#define BRONTEL_EVENT_CAPTURE_ENDED_FAILING 5
// service, what failed
#define BRONTEL_EVENT_CAPTURE_NOT_STARTED 6
// service, count, event id
#define BRONTEL_EVENT_SUPPRESSED 7

#endif
