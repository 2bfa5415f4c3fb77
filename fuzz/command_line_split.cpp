// Fuzz target: the splitter that turns the stored "CommandLine" value into the arguments of
// the Java serviceMain. Compared with a model of the quoting rules; the buffer's bounds are
// checked by AddressSanitizer.
#include "fuzz_support.h"
#include "jvm/command_line.h"

#include <wchar.h>

namespace {

std::vector<std::wstring> expectedArguments(const std::wstring& value) {
    std::vector<std::wstring> args(1);
    bool escaped = false;
    bool quoted = false;
    for (wchar_t c : value) {
        if (!escaped && c == L'"') {
            quoted = !quoted;
        } else if (!escaped && c == L'\\') {
            escaped = true;
        } else if (!escaped && !quoted && c == L' ') {
            args.emplace_back();
        } else {
            args.back().push_back(c);
            escaped = false;
        }
    }
    return args;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::setUpProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring value = fuzzsupport::decodeTerminated(data, size);
    int count = -1;
    wchar_t* buffer = splitCommandLine(value.c_str(), &count);
    FUZZ_CHECK(buffer != nullptr, "split returns a buffer");
    std::vector<std::wstring> expected = expectedArguments(value);
    FUZZ_CHECK(count == static_cast<int>(expected.size()), "argument count");
    // The arguments lie one after another, each ended by a zero, inside the buffer's
    // wcslen + 10 characters.
    size_t room = value.size() + 10;
    size_t offset = 0;
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(offset < room, "argument starts inside the buffer");
        size_t length = wcsnlen(buffer + offset, room - offset);
        FUZZ_CHECK(offset + length < room, "argument ends inside the buffer");
        FUZZ_CHECK(expected[static_cast<size_t>(i)] == std::wstring(buffer + offset, length),
                   "argument text");
        offset += length + 1;
    }
    free(buffer);
    return 0;
}
