// Text conversions at the JNI boundary: UTF-16 for Java strings, modified UTF-8 for names.
#include "jvm/jni_text.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <vector>

namespace {
std::vector<jchar> toJava(const std::wstring& text) {
    jsize units = -1;
    jchar* chars = wideToJavaChars(text.c_str(), text.size(), &units);
    EXPECT_NE(chars, nullptr);
    std::vector<jchar> result(chars, chars + units);
    free(chars);
    return result;
}
std::wstring fromJava(const std::vector<jchar>& units) {
    wchar_t* text = javaCharsToWide(units.data(), static_cast<jsize>(units.size()));
    std::wstring result(text);
    free(text);
    return result;
}
std::string modifiedUtf8(const std::wstring& text) {
    char* bytes = wideToModifiedUtf8(text.c_str());
    std::string result(bytes);
    free(bytes);
    return result;
}
// U+1F600 as the platform's wide text: one character on Linux, a surrogate pair on Windows.
std::wstring grinning() {
    return sizeof(wchar_t) == 4
               ? std::wstring(1, static_cast<wchar_t>(0x1F600))
               : std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
}
} // namespace

TEST(JniText, SupplementaryCharactersBecomeSurrogatePairsAndBack) {
    std::wstring text = L"a\u00e9" + grinning() + L"z";
    std::vector<jchar> units = toJava(text);
    EXPECT_EQ(units, (std::vector<jchar>{0x61, 0xE9, 0xD83D, 0xDE00, 0x7A}));
    EXPECT_EQ(fromJava(units), text);
    EXPECT_EQ(fromJava({}), L"");
    // A lone surrogate is kept as it is rather than dropped or merged.
    EXPECT_EQ(fromJava({0xD83D, 0x41}), (std::wstring{static_cast<wchar_t>(0xD83D), L'A'}));
}

TEST(JniText, ModifiedUtf8EncodesEachUtf16UnitSeparately) {
    EXPECT_EQ(modifiedUtf8(L"com/example/Svc"), "com/example/Svc");
    EXPECT_EQ(modifiedUtf8(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
    // Outside the BMP: two three-byte sequences, not the four-byte form of standard UTF-8.
    EXPECT_EQ(modifiedUtf8(grinning()), "\xED\xA0\xBD\xED\xB8\x80");
}
