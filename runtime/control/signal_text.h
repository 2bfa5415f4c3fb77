// The signal text of -s: a control's name, a console event's name, or a number.
#ifndef BRONTEL_RUNTIME_SIGNAL_TEXT_H
#define BRONTEL_RUNTIME_SIGNAL_TEXT_H

#include "platform/winapi.h"

// Results of parseSignalText.
#define SIGNAL_TEXT_CODE 0                    // *code holds the control code to send
#define SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL 1 // begins with S or s but names no control
#define SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT 2   // begins with C or c but names no console event
#define SIGNAL_TEXT_NOT_A_NUMBER 3            // neither a name nor a number

// The names -s accepts: the service controls, and the console events delivered as controls.
struct SignalName {
    const wchar_t* name;
    DWORD code;
};
extern const SignalName serviceSignalNames[];
extern const size_t serviceSignalNameCount;
extern const SignalName consoleSignalNames[];
extern const size_t consoleSignalNameCount;
// The short names, an addition to the Windows names: stop, pause, ..., ctrl_break.
extern const SignalName shortSignalNames[];
extern const size_t shortSignalNameCount;

// A short name, compared without regard to ASCII case, gives its code. Otherwise a text
// beginning with S or C (any case) must be a whole name of the control or console-event table,
// compared the same way; any other text is a decimal number read the way _wtoi reads it, and
// must have a digit after its leading white space and sign (a word is never a number, so never
// control 0). `text` must not be null.
int parseSignalText(const wchar_t* text, DWORD* code);

#endif
