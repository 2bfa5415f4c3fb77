// Parsing of the stop, recovery and output capture settings.
#include "registry/option_values.h"

#include "platform/textutil.h"

#include <stdio.h>

namespace {

const wchar_t* skipBlanks(const wchar_t* p, const wchar_t* end) {
    while (p < end && (*p == L' ' || *p == L'\t')) {
        ++p;
    }
    return p;
}

const wchar_t* trimEnd(const wchar_t* start, const wchar_t* end) {
    while (end > start && (end[-1] == L' ' || end[-1] == L'\t')) {
        --end;
    }
    return end;
}

// The number in [start, end); digits only, at most `maximum`.
int parseRange(const wchar_t* start, const wchar_t* end, DWORD maximum, DWORD* value) {
    if (start == end) {
        return 0;
    }
    unsigned long long total = 0;
    for (const wchar_t* p = start; p < end; ++p) {
        if (*p < L'0' || *p > L'9') {
            return 0;
        }
        total = total * 10 + static_cast<unsigned long long>(*p - L'0');
        if (total > maximum) {
            return 0;
        }
    }
    *value = static_cast<DWORD>(total);
    return 1;
}

int equalsWord(const wchar_t* start, const wchar_t* end, const wchar_t* word) {
    size_t length = wcslen(word);
    if (static_cast<size_t>(end - start) != length) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        wchar_t a = start[i];
        if (a >= L'A' && a <= L'Z') {
            a = static_cast<wchar_t>(a - L'A' + L'a');
        }
        if (a != word[i]) {
            return 0;
        }
    }
    return 1;
}

} // namespace

int parseDigits(const wchar_t* text, DWORD maximum, DWORD* value) {
    return text != nullptr && parseRange(text, text + wcslen(text), maximum, value);
}

int parseWholeNumber(const wchar_t* text, DWORD maximum, DWORD* value) {
    if (text == nullptr) {
        return 0;
    }
    const wchar_t* end = text + wcslen(text);
    const wchar_t* start = skipBlanks(text, end);
    return parseRange(start, trimEnd(start, end), maximum, value);
}

int parseFailureActions(const wchar_t* text, FailureActionList* list, wchar_t* problem,
                        size_t problemChars) {
    list->count = 0;
    if (text == nullptr) {
        swprintf(problem, problemChars, L"no value");
        return 0;
    }
    const wchar_t* p = text;
    const wchar_t* end = text + wcslen(text);
    for (int item = 1;; ++item) {
        const wchar_t* comma = p;
        while (comma < end && *comma != L',') {
            ++comma;
        }
        const wchar_t* start = skipBlanks(p, comma);
        const wchar_t* stop = trimEnd(start, comma);
        const wchar_t* slash = start;
        while (slash < stop && *slash != L'/') {
            ++slash;
        }
        if (slash == stop) {
            swprintf(problem, problemChars,
                     L"item %d is not of the form action/delay (for example restart/60000)", item);
            return 0;
        }
        if (list->count == BRONTEL_MAX_FAILURE_ACTIONS) {
            swprintf(problem, problemChars, L"more than %d actions", BRONTEL_MAX_FAILURE_ACTIONS);
            return 0;
        }
        const wchar_t* actionEnd = trimEnd(start, slash);
        SC_ACTION& action = list->actions[list->count];
        if (equalsWord(start, actionEnd, L"restart")) {
            action.Type = SC_ACTION_RESTART;
        } else if (equalsWord(start, actionEnd, L"none")) {
            action.Type = SC_ACTION_NONE;
        } else {
            swprintf(problem, problemChars, L"item %d: the action is neither restart nor none",
                     item);
            return 0;
        }
        const wchar_t* delay = skipBlanks(slash + 1, stop);
        if (!parseRange(delay, stop, 0xFFFFFFFFu, &action.Delay)) {
            swprintf(problem, problemChars,
                     L"item %d: the delay is not a number of milliseconds below 4294967296", item);
            return 0;
        }
        ++list->count;
        if (comma == end) {
            return 1;
        }
        p = comma + 1;
    }
}
