// Fuzz target: the configuration file reader, from the file on disk to the option lookups.
// Built twice: fuzz_config_ansi reads the input as an ANSI (UTF-8 here) file, fuzz_config_utf16
// as a -w file. The options found are compared with a model of the line rules applied to the
// same decoded text.
#include "config/config_file.h"
#include "fuzz_support.h"
#include "platform/textutil.h"

#include <fcntl.h>
#include <wchar.h>

#ifndef BRONTEL_FUZZ_UNICODE
#error "define BRONTEL_FUZZ_UNICODE to 0 or 1"
#endif

namespace {

CLogger* logger = nullptr;
std::string filePath;
std::wstring widePath;

struct Option {
    std::wstring name;
    std::wstring value;
};

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The text the reader works on: what the file's bytes decode to, up to the first zero.
std::wstring decodedFile(const uint8_t* data, size_t size) {
    if (BRONTEL_FUZZ_UNICODE) {
        // The reader's buffer has zero bytes behind the file's, so an odd last byte still
        // forms a character with the zero that follows it.
        std::vector<uint8_t> padded(data, data + size);
        padded.resize(size + 4, 0);
        wchar_t* text = utf16leDecode(padded.data(), padded.size());
        std::wstring result = text ? text : L"";
        free(text);
        return result;
    }
    size_t bytes = strnlen(reinterpret_cast<const char*>(data), size);
    if (bytes == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> wide(bytes * 2 + 4);
    int n =
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<const char*>(data),
                            static_cast<int>(bytes), wide.data(), static_cast<int>(wide.size()));
    if (n <= 0) {
        return std::wstring();
    }
    return std::wstring(wide.data(), static_cast<size_t>(n));
}

// Lines end at LF; a CR ends the line's content; an empty rest after the last LF is no line.
// Returns 5 when a line has no value, else 0.
int expectedOptions(const std::wstring& text, std::vector<Option>* options) {
    int result = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        size_t next = end == std::wstring::npos ? text.size() : end + 1;
        std::wstring line =
            text.substr(start, (end == std::wstring::npos ? text.size() : end) - start);
        start = next;
        size_t cr = line.find(L'\r');
        if (cr != std::wstring::npos) {
            line.resize(cr);
        }
        if (!line.empty() && line[0] == L'#') {
            continue;
        }
        size_t first = 0;
        while (first < line.size() && isBlank(line[first])) {
            ++first;
        }
        if (first == line.size()) {
            continue;
        }
        size_t equals = line.find(L'=', first);
        size_t valueStart = equals == std::wstring::npos ? line.size() : equals + 1;
        while (valueStart < line.size() && isBlank(line[valueStart])) {
            ++valueStart;
        }
        if (equals == std::wstring::npos || valueStart == line.size()) {
            result = 5;
            continue;
        }
        size_t nameEnd = equals;
        while (nameEnd > first && isBlank(line[nameEnd - 1])) {
            --nameEnd;
        }
        size_t valueEnd = line.size();
        while (valueEnd > valueStart && isBlank(line[valueEnd - 1])) {
            --valueEnd;
        }
        options->push_back(Option{line.substr(first, nameEnd - first),
                                  line.substr(valueStart, valueEnd - valueStart)});
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::setUpProcess();
    logger = new CLogger();
    filePath = fuzzsupport::scratchDirectory() + "/input.conf";
    widePath.assign(filePath.begin(), filePath.end());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FUZZ_CHECK(fd >= 0, "scratch file can be written");
    FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size), "scratch file written");
    close(fd);

    CConfigFile config(logger);
    int result = config.parseConfigFile(widePath.c_str(), BRONTEL_FUZZ_UNICODE);

    std::vector<Option> expected;
    int expectedResult = expectedOptions(decodedFile(data, size), &expected);
    FUZZ_CHECK(result == expectedResult, "result of reading");
    FUZZ_CHECK(config.getOptionCount() == static_cast<int>(expected.size()), "number of options");

    for (size_t i = 0; i < expected.size(); ++i) {
        const Option& want = expected[i];
        if (want.name.empty()) {
            continue;
        }
        // A lookup finds the first option of that name, whatever the case of its ASCII letters.
        size_t firstIndex = i;
        for (size_t k = 0; k < i; ++k) {
            if (asciiEqualNoCase(expected[k].name.c_str(), want.name.c_str())) {
                firstIndex = k;
                break;
            }
        }
        CConfigOption* option = config.getOption(want.name.c_str());
        FUZZ_CHECK(option != nullptr, "every option can be looked up");
        FUZZ_CHECK(expected[firstIndex].value == option->getValue(), "lookup finds the first");
        wchar_t fallback[] = L"fallback";
        FUZZ_CHECK(expected[firstIndex].value ==
                       config.getStrOptionValue(want.name.c_str(), fallback),
                   "string lookup");
        int truth = config.getBoolOptionValue(want.name.c_str(), 7);
        const wchar_t* v = expected[firstIndex].value.c_str();
        int wantTruth = asciiEqualNoCase(v, L"TRUE") ? 1 : asciiEqualNoCase(v, L"FALSE") ? 0 : 7;
        FUZZ_CHECK(truth == wantTruth, "boolean lookup");
    }
    return 0;
}
