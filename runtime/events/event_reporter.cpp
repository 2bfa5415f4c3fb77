// Writing the service's event log entries, with repeats held back and counted.
#include "runtime/events/event_reporter.h"

#include "runtime/events/event_ids.h"

#include <stdio.h>

CEventReporter::CEventReporter(const wchar_t* serviceName, CLogger* logger, DWORD quietMs)
    : serviceName(serviceName), logger(logger), quietMs(quietMs),
      source(RegisterEventSourceW(nullptr, serviceName)),
      lock(CreateMutexW(nullptr, FALSE, nullptr)), failureTraced(0), lastWritten(), written(),
      heldBack() {
    if (!source.isOpen()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot open the event log; failures are only traced.", error);
        logger->logSystemError(error);
    }
}

CEventReporter::~CEventReporter() {
    for (int slot = 0; slot < slots; ++slot) {
        writeHeldBack(slot);
    }
}

int CEventReporter::report(WORD type, DWORD eventId, const wchar_t* const* strings, WORD count) {
    if (!source.isOpen()) {
        return 0;
    }
    WaitForSingleObject(lock.get(), INFINITE);
    int slot = eventId < static_cast<DWORD>(slots) ? static_cast<int>(eventId) : 0;
    DWORD now = GetTickCount();
    int result = 0;
    if (written[slot] && now - lastWritten[slot] < quietMs) {
        ++heldBack[slot];
    } else {
        writeHeldBack(slot);
        if (ReportEventW(source.get(), type, 0, eventId, nullptr, count, 0,
                         const_cast<LPCWSTR*>(strings), nullptr)) {
            result = 1;
        } else if (!failureTraced) {
            // Said once: a log that refuses one entry refuses the next ones too.
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot write to the event log", error);
            logger->logSystemError(error);
            failureTraced = 1;
        }
        written[slot] = 1;
        lastWritten[slot] = now;
    }
    ReleaseMutex(lock.get());
    return result;
}

void CEventReporter::writeHeldBack(int slot) {
    if (heldBack[slot] == 0 || !source.isOpen()) {
        return;
    }
    wchar_t countText[20];
    wchar_t idText[20];
    swprintf(countText, 20, L"%lu", static_cast<unsigned long>(heldBack[slot]));
    swprintf(idText, 20, L"%d", slot);
    const wchar_t* strings[] = {serviceName, countText, idText};
    ReportEventW(source.get(), EVENTLOG_WARNING_TYPE, 0, BRONTEL_EVENT_SUPPRESSED, nullptr, 3, 0,
                 const_cast<LPCWSTR*>(strings), nullptr);
    heldBack[slot] = 0;
}
