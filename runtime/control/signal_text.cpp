#include "runtime/control/signal_text.h"

#include "platform/textutil.h"

#include <stdlib.h>
#include <wctype.h>

const SignalName serviceSignalNames[] = {
    {L"SERVICE_CONTROL_STOP", 1},          {L"SERVICE_CONTROL_PAUSE", 2},
    {L"SERVICE_CONTROL_CONTINUE", 3},      {L"SERVICE_CONTROL_INTERROGATE", 4},
    {L"SERVICE_CONTROL_SHUTDOWN", 5},      {L"SERVICE_CONTROL_PARAMCHANGE", 6},
    {L"SERVICE_CONTROL_NETBINDADD", 7},    {L"SERVICE_CONTROL_NETBINDREMOVE", 8},
    {L"SERVICE_CONTROL_NETBINDENABLE", 9}, {L"SERVICE_CONTROL_NETBINDDISABLE", 10},
    {L"SERVICE_CONTROL_DEVICEEVENT", 11},  {L"SERVICE_CONTROL_HARDWAREPROFILECHANGE", 12},
    {L"SERVICE_CONTROL_POWEREVENT", 13},   {L"SERVICE_CONTROL_RESTART", 128},
};

const size_t serviceSignalNameCount = sizeof(serviceSignalNames) / sizeof(serviceSignalNames[0]);

const SignalName consoleSignalNames[] = {
    {L"CTRL_C_EVENT", 250},
    {L"CTRL_BREAK_EVENT", 251},
};
const size_t consoleSignalNameCount = sizeof(consoleSignalNames) / sizeof(consoleSignalNames[0]);

const SignalName shortSignalNames[] = {
    {L"stop", 1},     {L"pause", 2},     {L"continue", 3}, {L"interrogate", 4},
    {L"shutdown", 5}, {L"restart", 128}, {L"ctrl_c", 250}, {L"ctrl_break", 251},
};
const size_t shortSignalNameCount = sizeof(shortSignalNames) / sizeof(shortSignalNames[0]);

namespace {

bool lookUp(const SignalName* table, size_t count, const wchar_t* text, DWORD* code) {
    for (size_t i = 0; i < count; ++i) {
        if (asciiEqualNoCase(text, table[i].name)) {
            *code = table[i].code;
            return true;
        }
    }
    return false;
}

} // namespace

int parseSignalText(const wchar_t* text, DWORD* code) {
    *code = 0;
    if (lookUp(shortSignalNames, shortSignalNameCount, text, code)) {
        return SIGNAL_TEXT_CODE;
    }
    if (text[0] == L'S' || text[0] == L's') {
        return lookUp(serviceSignalNames, serviceSignalNameCount, text, code)
                   ? SIGNAL_TEXT_CODE
                   : SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL;
    }
    if (text[0] == L'C' || text[0] == L'c') {
        return lookUp(consoleSignalNames, consoleSignalNameCount, text, code)
                   ? SIGNAL_TEXT_CODE
                   : SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT;
    }
    const wchar_t* digits = text;
    while (iswspace(static_cast<wint_t>(*digits))) {
        ++digits;
    }
    if (*digits == L'-' || *digits == L'+') {
        ++digits;
    }
    if (*digits < L'0' || *digits > L'9') {
        return SIGNAL_TEXT_NOT_A_NUMBER;
    }
    // No range check: the number is taken as it reads, as an unsigned code.
    *code = static_cast<DWORD>(_wtoi(text));
    return SIGNAL_TEXT_CODE;
}
