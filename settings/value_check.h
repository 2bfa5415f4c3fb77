// The rules of the key table for a value's text: whether installation takes it, and the number
// or flag it stands for when the service reads it back.
#ifndef BRONTEL_SETTINGS_VALUE_CHECK_H
#define BRONTEL_SETTINGS_VALUE_CHECK_H

#include "settings/config_keys.h"

// 1 when `text` passes the key's check (always for a key without one); else 0 with `problem`
// (of problemChars) saying why, in the words of the key's refusal.
int checkConfigValue(const ConfigKey& key, const wchar_t* text, wchar_t* problem,
                     size_t problemChars);
// A number key's value: 1 and *value set when `text` passes its check, else 0. A number key
// without a check reads as the C runtime's _wtoi does (what is not a number gives 0).
int parseConfigNumber(const ConfigKey& key, const wchar_t* text, DWORD* value);
// TRUE or FALSE in any case: 1 and *value set, else 0.
int parseConfigFlag(const wchar_t* text, int* value);

#endif
