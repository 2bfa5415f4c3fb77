// The service's entries in the Windows Application event log, under the service's name as the
// source. A failure that repeats is counted, not repeated: an entry with the same event ID as one
// written less than a quiet time ago is held back, and the count of those held back is written
// once the quiet time is over or the reporter ends.
#ifndef BRONTEL_RUNTIME_EVENT_REPORTER_H
#define BRONTEL_RUNTIME_EVENT_REPORTER_H

#include "platform/handles.h"
#include "trace/logger.h"

class CEventReporter {
  public:
    CEventReporter(const wchar_t* serviceName, CLogger* logger, DWORD quietMs = 60000);
    ~CEventReporter();
    CEventReporter(const CEventReporter&) = delete;
    CEventReporter& operator=(const CEventReporter&) = delete;

    // strings[0] is the service name; the others follow the entry's insertion strings. Safe from
    // any thread. Returns 1 when the entry was written, 0 when it was held back or failed.
    int report(WORD type, DWORD eventId, const wchar_t* const* strings, WORD count);
    const wchar_t* getServiceName() const { return serviceName; }

  private:
    void writeHeldBack(int slot);

    static const int slots = 8; // event IDs 0 to 7
    const wchar_t* serviceName;
    CLogger* logger;
    DWORD quietMs;
    CEventSource source;
    CWinHandle lock;
    int failureTraced;
    DWORD lastWritten[slots];
    int written[slots];
    DWORD heldBack[slots];
};

#endif
