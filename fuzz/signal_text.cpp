// Fuzz target: the -s signal text, from a name or a number to the control code sent. Compared
// with a model of the naming rules.
#include "fuzz_support.h"
#include "platform/textutil.h"
#include "runtime/control/signal_text.h"

#include <limits.h>
#include <wchar.h>
#include <wctype.h>

namespace {

struct Name {
    const wchar_t* text;
    DWORD code;
};

const Name serviceNames[] = {
    {L"SERVICE_CONTROL_STOP", 1},          {L"SERVICE_CONTROL_PAUSE", 2},
    {L"SERVICE_CONTROL_CONTINUE", 3},      {L"SERVICE_CONTROL_INTERROGATE", 4},
    {L"SERVICE_CONTROL_SHUTDOWN", 5},      {L"SERVICE_CONTROL_PARAMCHANGE", 6},
    {L"SERVICE_CONTROL_NETBINDADD", 7},    {L"SERVICE_CONTROL_NETBINDREMOVE", 8},
    {L"SERVICE_CONTROL_NETBINDENABLE", 9}, {L"SERVICE_CONTROL_NETBINDDISABLE", 10},
    {L"SERVICE_CONTROL_DEVICEEVENT", 11},  {L"SERVICE_CONTROL_HARDWAREPROFILECHANGE", 12},
    {L"SERVICE_CONTROL_POWEREVENT", 13},   {L"SERVICE_CONTROL_RESTART", 128},
};
const Name consoleNames[] = {{L"CTRL_C_EVENT", 250}, {L"CTRL_BREAK_EVENT", 251}};

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

template <size_t N> int lookUp(const Name (&table)[N], const wchar_t* text, DWORD* code) {
    for (const Name& name : table) {
        if (asciiEqualNoCase(text, name.text)) {
            *code = name.code;
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
    if (text[0] == L'S' || text[0] == L's') {
        if (!lookUp(serviceNames, text.c_str(), &expectedCode)) {
            expectedResult = SIGNAL_TEXT_UNKNOWN_SERVICE_CONTROL;
        }
    } else if (text[0] == L'C' || text[0] == L'c') {
        if (!lookUp(consoleNames, text.c_str(), &expectedCode)) {
            expectedResult = SIGNAL_TEXT_UNKNOWN_CONSOLE_EVENT;
        }
    } else {
        expectedCode = expectedNumber(text.c_str());
    }
    FUZZ_CHECK(result == expectedResult, "classification of the signal text");
    if (result == SIGNAL_TEXT_CODE) {
        FUZZ_CHECK(code == expectedCode, "control code");
    }
    return 0;
}
