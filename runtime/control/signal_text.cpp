#include "runtime/control/signal_text.h"

#include "platform/textutil.h"

#include <stdlib.h>

namespace {

struct SignalName {
    const wchar_t* name;
    DWORD code;
};

const SignalName serviceSignals[] = {
    {L"SERVICE_CONTROL_STOP", 1},          {L"SERVICE_CONTROL_PAUSE", 2},
    {L"SERVICE_CONTROL_CONTINUE", 3},      {L"SERVICE_CONTROL_INTERROGATE", 4},
    {L"SERVICE_CONTROL_SHUTDOWN", 5},      {L"SERVICE_CONTROL_PARAMCHANGE", 6},
    {L"SERVICE_CONTROL_NETBINDADD", 7},    {L"SERVICE_CONTROL_NETBINDREMOVE", 8},
    {L"SERVICE_CONTROL_NETBINDENABLE", 9}, {L"SERVICE_CONTROL_NETBINDDISABLE", 10},
    {L"SERVICE_CONTROL_DEVICEEVENT", 11},  {L"SERVICE_CONTROL_HARDWAREPROFILECHANGE", 12},
    {L"SERVICE_CONTROL_POWEREVENT", 13},   {L"SERVICE_CONTROL_RESTART", 128},
};

const SignalName consoleSignals[] = {
    {L"CTRL_C_EVENT", 250},
    {L"CTRL_BREAK_EVENT", 251},
};

template <size_t N> bool lookUp(const SignalName (&table)[N], const wchar_t* text, DWORD* code) {
    for (const SignalName& entry : table) {
        if (asciiEqualNoCase(text, entry.name)) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

} // namespace

int parseSignalText(const wchar_t* text, DWORD* code) {
    *code = 0;
    if (text[0] == L'S' || text[0] == L's') {
        return lookUp(serviceSignals, text, code) ? SIGNAL_TEXT_CODE
                                                  : SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL;
    }
    if (text[0] == L'C' || text[0] == L'c') {
        return lookUp(consoleSignals, text, code) ? SIGNAL_TEXT_CODE
                                                  : SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT;
    }
    // No range check: the number is taken as it reads, as an unsigned code.
    *code = static_cast<DWORD>(_wtoi(text));
    return SIGNAL_TEXT_CODE;
}
