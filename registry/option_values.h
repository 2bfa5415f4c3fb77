// The forms of the stop, recovery and output capture settings: parsed the same way when
// installation checks a configuration file and when a running service reads its stored values
// back.
#ifndef BRONTEL_REGISTRY_OPTION_VALUES_H
#define BRONTEL_REGISTRY_OPTION_VALUES_H

#include "platform/winapi.h"

// Most recovery actions one service may have.
#define BRONTEL_MAX_FAILURE_ACTIONS 16
// failureResetPeriod when the configuration does not give one: a day.
#define BRONTEL_DEFAULT_RESET_PERIOD 86400

struct FailureActionList {
    DWORD count;
    SC_ACTION actions[BRONTEL_MAX_FAILURE_ACTIONS];
};

// A whole decimal number from 0 to `maximum`, digits only and nothing around them; 1 when it is
// one, else 0.
int parseDigits(const wchar_t* text, DWORD maximum, DWORD* value);
// The same, with blanks allowed around the digits.
int parseWholeNumber(const wchar_t* text, DWORD maximum, DWORD* value);
// stopTimeout: seconds, 0 to 4294967 (so that the milliseconds fit 32 bits).
int parseStopTimeout(const wchar_t* text, DWORD* seconds);
// failureActions: "action/delay" items separated by commas, action "restart" or "none" (ASCII
// case ignored), delay in milliseconds; blanks around items and parts are allowed. On failure
// `problem` (of problemChars) says what is wrong.
int parseFailureActions(const wchar_t* text, FailureActionList* list, wchar_t* problem,
                        size_t problemChars);

#define BRONTEL_DEFAULT_ROTATE_BYTES 10485760u
#define BRONTEL_DEFAULT_KEEP_FILES 5u
#define BRONTEL_MAX_KEEP_FILES 999u

// Each returns 1 and sets *value for a well-formed text, 0 otherwise (nothing set).
// A whole number of bytes from 0 (never rotate) to 4294967295, decimal digits only.
int parseRotateBytes(const wchar_t* text, DWORD* value);
// A whole number of rotated files to keep, 0 to 999.
int parseKeepFiles(const wchar_t* text, DWORD* value);
// TRUE or FALSE, in any case.
int parseTimestamps(const wchar_t* text, int* value);

#endif
