// The service process's own event log entries: a start that failed, and a Java side that ended
// without being asked to stop.
#ifndef BRONTEL_RUNTIME_SERVICE_EVENTS_H
#define BRONTEL_RUNTIME_SERVICE_EVENTS_H

#include "runtime/events/event_reporter.h"
#include "settings/service_settings.h"

// What the administrator's guide advises for a failure code; a general hint for other codes.
const wchar_t* startFailureHint(int code);
// The entry for a start that failed with `code`: `traceText` (the messages the trace has for
// it; may be null), the JVM library and service class as configured, and the hint.
void reportStartFailure(CEventReporter* events, int code, const wchar_t* traceText,
                        const CServiceSettings& settings);
void reportJavaEnded(CEventReporter* events, const wchar_t* stateName);

#endif
