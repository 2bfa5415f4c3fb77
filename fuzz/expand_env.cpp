// Fuzz target: %NAME% expansion of stored registry values. The result is compared with a
// straightforward model of the expansion rules, with variables of every interesting kind set.
#include "fuzz_support.h"
#include "registry/registry.h"

#include <wchar.h>

namespace {

// A variable's value up to the expansion's 4000-character room, as the program sees it;
// absent, empty and too long all give the empty text.
std::wstring variableValue(const std::wstring& name) {
    if (name.empty()) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(70000);
    DWORD length =
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= 4000) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), length);
}

std::wstring expectedExpansion(const std::wstring& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != L'%') {
            out += text[i++];
        } else if (i + 1 < text.size() && text[i + 1] == L'%') {
            out += L'%';
            i += 2;
        } else {
            size_t close = text.find(L'%', i + 1);
            if (close == std::wstring::npos) {
                out.append(text, i, std::wstring::npos); // a lone percent sign: the rest is literal
                break;
            }
            std::wstring value = variableValue(text.substr(i + 1, close - i - 1));
            // A missing, empty or too long value leaves the reference as written.
            out += value.empty() ? text.substr(i, close + 1 - i) : value;
            i = close + 1;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::setUpProcess();
    setenv("A", "alpha", 1);
    setenv("Mixed", "MiXeD", 1);
    setenv("E", "", 1);
    setenv("P", "%A%", 1); // an inserted value is not expanded again
    setenv("BS", "\\", 1);
    setenv("U", "\xc3\xa4\xf0\x9f\x98\x80", 1); // beyond ASCII and beyond the BMP
    setenv("FIT", std::string(3999, 'f').c_str(), 1);
    setenv("LONG", std::string(4000, 'l').c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text = fuzzsupport::decodeTerminated(data, size);
    // A private, writable copy: the expansion may overwrite its argument.
    wchar_t* argument = static_cast<wchar_t*>(calloc(text.size() + 1, sizeof(wchar_t)));
    if (argument == nullptr) {
        return 0;
    }
    wmemcpy(argument, text.c_str(), text.size());
    wchar_t* result = expandEnvStrings(argument);
    FUZZ_CHECK(result != nullptr, "expansion returns a text");
    FUZZ_CHECK(result != argument, "expansion returns a new text");
    std::wstring expected = expectedExpansion(text);
    FUZZ_CHECK(expected == result, "expansion follows the rules");
    free(result);
    free(argument);
    return 0;
}
