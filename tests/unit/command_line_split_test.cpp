// The split of the stored command-line parameters into serviceMain's arguments.
#include "jvm/command_line.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
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

TEST(CommandLineSplit, BlanksSeparateAndEmptyArgumentsSurvive) {
    EXPECT_EQ(split(L""), Args({L""}));
    EXPECT_EQ(split(L"a b"), Args({L"a", L"b"}));
    EXPECT_EQ(split(L"a  b"), Args({L"a", L"", L"b"}));
    EXPECT_EQ(split(L" a"), Args({L"", L"a"}));
    EXPECT_EQ(split(L"a "), Args({L"a", L""}));
    // Only U+0020 separates; a tab is an ordinary character.
    EXPECT_EQ(split(L"a\tb"), Args({L"a\tb"}));
}

TEST(CommandLineSplit, QuotesGroupAndAreDropped) {
    EXPECT_EQ(split(L"\"one two\" three"), Args({L"one two", L"three"}));
    EXPECT_EQ(split(L"a\"b c\"d"), Args({L"ab cd"}));
    EXPECT_EQ(split(L"\"unclosed a b"), Args({L"unclosed a b"}));
    EXPECT_EQ(split(L"\"\""), Args({L""}));
}

TEST(CommandLineSplit, BackslashMakesTheNextCharacterLiteral) {
    EXPECT_EQ(split(L"\\\"x"), Args({L"\"x"}));
    EXPECT_EQ(split(L"a\\\\b"), Args({L"a\\b"}));
    EXPECT_EQ(split(L"a\\ b"), Args({L"a b"}));
    EXPECT_EQ(split(L"\\x"), Args({L"x"}));
    EXPECT_EQ(split(L"end\\"), Args({L"end"}));
    EXPECT_EQ(split(L"\"in \\\" quotes\" z"), Args({L"in \" quotes", L"z"}));
}

TEST(CommandLineSplit, OtherCharactersAndReferencesPassUnchanged) {
    EXPECT_EQ(split(L"%TEMP% caf\u00e9"), Args({L"%TEMP%", L"caf\u00e9"}));
}
