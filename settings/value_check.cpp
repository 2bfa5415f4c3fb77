// Checking and reading values by the key table's rules, and the two wordings of a refusal.
#include "settings/value_check.h"

#include "registry/option_values.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

void refuseStopOrRecovery(CLogger* logger, const wchar_t* key, const wchar_t* value,
                          const wchar_t* why) {
    wchar_t text[1200];
    swprintf(text, 1200, L"The value %.500ls of %ls cannot be used: %ls. Nothing was installed.",
             value, key, why);
    logger->logMessage(text);
}

void refuseCapture(CLogger* logger, const wchar_t* key, const wchar_t* value, const wchar_t* why) {
    std::wstring rest = std::wstring(L" is not valid for ") + key + L": expected " + why +
                        L". Nothing was installed.";
    logger->logMessage(L"The value ", value, rest.c_str());
}

} // namespace

const ConfigRefusal stopAndRecoveryRefusal = {BRONTEL_RESULT_BAD_VALUE, 1, refuseStopOrRecovery};
const ConfigRefusal captureRefusal = {BRONTEL_RESULT_BAD_CAPTURE_VALUE, 0, refuseCapture};

int checkConfigValue(const ConfigKey& key, const wchar_t* text, wchar_t* problem,
                     size_t problemChars) {
    int good = 1;
    switch (key.check) {
    case CONFIG_CHECK_NONE:
        return 1;
    case CONFIG_CHECK_WHOLE_NUMBER:
    case CONFIG_CHECK_DIGITS: {
        DWORD number = 0;
        good = parseConfigNumber(key, text, &number);
        break;
    }
    case CONFIG_CHECK_TRUE_FALSE: {
        int flag = 0;
        good = parseConfigFlag(text, &flag);
        break;
    }
    case CONFIG_CHECK_VARIABLE: {
        const wchar_t* equals = text != nullptr ? wcschr(text, L'=') : nullptr;
        good = equals != nullptr && equals != text;
        break;
    }
    case CONFIG_CHECK_FAILURE_ACTIONS: {
        // The parser says which item is wrong, and how.
        FailureActionList list;
        return parseFailureActions(text, &list, problem, problemChars);
    }
    }
    if (!good) {
        swprintf(problem, problemChars, L"%ls", key.expected != nullptr ? key.expected : L"");
    }
    return good;
}

int parseConfigNumber(const ConfigKey& key, const wchar_t* text, DWORD* value) {
    switch (key.check) {
    case CONFIG_CHECK_WHOLE_NUMBER:
        return parseWholeNumber(text, key.maximum, value);
    case CONFIG_CHECK_DIGITS:
        return parseDigits(text, key.maximum, value);
    default:
        if (text == nullptr) {
            return 0;
        }
        *value = static_cast<DWORD>(_wtoi(text));
        return 1;
    }
}

int parseConfigFlag(const wchar_t* text, int* value) {
    if (text != nullptr && asciiEqualNoCase(text, L"TRUE")) {
        *value = 1;
        return 1;
    }
    if (text != nullptr && asciiEqualNoCase(text, L"FALSE")) {
        *value = 0;
        return 1;
    }
    return 0;
}
