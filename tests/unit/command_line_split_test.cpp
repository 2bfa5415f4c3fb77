// The split of the stored command-line parameters into serviceMain's arguments.
#include "jvm/command_line.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <utility>
#include <vector>

namespace {
std::vector<std::wstring> split(const wchar_t* value) {
    int count = -1;
    wchar_t* buffer = splitCommandLine(value, &count);
    std::vector<std::wstring> args;
    EXPECT_NE(buffer, nullptr);
    if (buffer == nullptr) {
        return args;
    }
    const wchar_t* next = buffer;
    for (int i = 0; i < count; ++i) {
        args.emplace_back(next);
        next += wcslen(next) + 1;
    }
    // Every argument must lie inside the buffer of length + 10 characters.
    EXPECT_LE(static_cast<size_t>(next - buffer), wcslen(value) + 10);
    free(buffer);
    return args;
}
using Args = std::vector<std::wstring>;
} // namespace

TEST(CommandLineSplit, BlanksQuotesAndBackslashes) {
    const std::pair<const wchar_t*, Args> cases[] = {
        // Blanks separate and empty arguments survive; only U+0020 separates, not a tab.
        {L"", {L""}},
        {L"a b", {L"a", L"b"}},
        {L"a  b", {L"a", L"", L"b"}},
        {L" a", {L"", L"a"}},
        {L"a ", {L"a", L""}},
        {L"a\tb", {L"a\tb"}},
        // Quotes group and are dropped.
        {L"\"one two\" three", {L"one two", L"three"}},
        {L"a\"b c\"d", {L"ab cd"}},
        {L"\"unclosed a b", {L"unclosed a b"}},
        {L"\"\"", {L""}},
        // A backslash makes the next character literal.
        {L"\\\"x", {L"\"x"}},
        {L"a\\\\b", {L"a\\b"}},
        {L"a\\ b", {L"a b"}},
        {L"\\x", {L"x"}},
        {L"end\\", {L"end"}},
        {L"\"in \\\" quotes\" z", {L"in \" quotes", L"z"}},
        // Other characters and references pass unchanged.
        {L"%TEMP% caf\u00e9", {L"%TEMP%", L"caf\u00e9"}},
    };
    for (const auto& [line, args] : cases) {
        EXPECT_EQ(split(line), args) << line;
    }
}
