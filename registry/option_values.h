// The forms of numbers and recovery actions in settings: parsed the same way when installation
// checks a configuration file and when a running service reads its stored values back.
#ifndef BRONTEL_REGISTRY_OPTION_VALUES_H
#define BRONTEL_REGISTRY_OPTION_VALUES_H

#include "platform/winapi.h"

// Most recovery actions one service may have.
#define BRONTEL_MAX_FAILURE_ACTIONS 16

struct FailureActionList {
    DWORD count;
    SC_ACTION actions[BRONTEL_MAX_FAILURE_ACTIONS];
};

// A whole decimal number from 0 to `maximum`, digits only and nothing around them; 1 when it is
// one, else 0.
int parseDigits(const wchar_t* text, DWORD maximum, DWORD* value);
// The same, with blanks allowed around the digits.
int parseWholeNumber(const wchar_t* text, DWORD maximum, DWORD* value);
// failureActions: "action/delay" items separated by commas, action "restart" or "none" (ASCII
// case ignored), delay in milliseconds; blanks around items and parts are allowed. On failure
// `problem` (of problemChars) says what is wrong.
int parseFailureActions(const wchar_t* text, FailureActionList* list, wchar_t* problem,
                        size_t problemChars);

#endif
