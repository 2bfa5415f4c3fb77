// Fuzz target: the -s signal text, from a name or a number to the control code sent. Compared
// with a model of the naming rules over the program's own name tables.
#include "fuzz_support.h"
#include "platform/textutil.h"
#include "runtime/control/signal_text.h"

#include <limits.h>
#include <wchar.h>
#include <wctype.h>

namespace {

// Leading white space, an optional sign, the digits up to the first other character; a value
// beyond the int range saturates, as the C runtime's conversion does.
DWORD expectedNumber(const wchar_t* text) {
    while (iswspace(static_cast<wint_t>(*text))) {
        ++text;
    }
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+') {
        ++text;
    }
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    value = negative ? -value : value;
    if (value > INT_MAX) {
        value = INT_MAX;
    }
    return static_cast<DWORD>(static_cast<int>(value));
}

// The model's own match: the same length and the same letters when folded to lower case.
int lookUp(const SignalName* table, size_t count, const std::wstring& text, DWORD* code) {
    for (size_t i = 0; i < count; ++i) {
        std::wstring name = table[i].name;
        bool same = name.size() == text.size();
        for (size_t c = 0; same && c < name.size(); ++c) {
            same =
                towlower(static_cast<wint_t>(name[c])) == towlower(static_cast<wint_t>(text[c])) &&
                text[c] < 0x80;
        }
        if (same) {
            *code = table[i].code;
            return 1;
        }
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::setUpProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text = fuzzsupport::decodeTerminated(data, size);
    DWORD code = 0xDEADBEEF;
    int result = parseSignalText(text.c_str(), &code);

    DWORD expectedCode = 0;
    int expectedResult = SIGNAL_TEXT_CODE;
    const wchar_t* number = text.c_str();
    while (iswspace(static_cast<wint_t>(*number))) {
        ++number;
    }
    number += *number == L'-' || *number == L'+';
    if (lookUp(shortSignalNames, shortSignalNameCount, text, &expectedCode)) {
        // a short name wins over the prefix rules
    } else if (text[0] == L'S' || text[0] == L's') {
        if (!lookUp(serviceSignalNames, serviceSignalNameCount, text, &expectedCode)) {
            expectedResult = SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL;
        }
    } else if (text[0] == L'C' || text[0] == L'c') {
        if (!lookUp(consoleSignalNames, consoleSignalNameCount, text, &expectedCode)) {
            expectedResult = SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT;
        }
    } else if (*number >= L'0' && *number <= L'9') {
        expectedCode = expectedNumber(text.c_str());
    } else {
        expectedResult = SIGNAL_TEXT_NOT_A_NUMBER;
    }
    FUZZ_CHECK(result == expectedResult, "classification of the signal text");
    if (result == SIGNAL_TEXT_CODE) {
        FUZZ_CHECK(code == expectedCode, "control code");
    }
    return 0;
}
