#include "jvm/jni_text.h"

#include <stdint.h>
#include <stdlib.h>

namespace {
bool isSupplementary(wchar_t c) {
    return (static_cast<uint32_t>(c) >> 16) != 0;
}
} // namespace

jchar* wideToJavaChars(const wchar_t* text, size_t count, jsize* units) {
    size_t needed = 0;
    for (size_t i = 0; i < count; ++i) {
        needed += isSupplementary(text[i]) ? 2 : 1;
    }
    *units = 0;
    if (needed > 0x7FFFFFF0u) {
        return nullptr;
    }
    jchar* out = static_cast<jchar*>(malloc((needed + 1) * sizeof(jchar)));
    if (out == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (isSupplementary(text[i])) {
            uint32_t v = cp - 0x10000;
            out[n++] = static_cast<jchar>(0xD800 + ((v >> 10) & 0x3FF));
            out[n++] = static_cast<jchar>(0xDC00 + (v & 0x3FF));
        } else {
            out[n++] = static_cast<jchar>(cp);
        }
    }
    *units = static_cast<jsize>(n);
    return out;
}

wchar_t* javaCharsToWide(const jchar* chars, jsize units) {
    size_t count = units > 0 ? static_cast<size_t>(units) : 0;
    wchar_t* text = static_cast<wchar_t*>(calloc(count + 1, sizeof(wchar_t)));
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t unit = chars[i];
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count &&
            chars[i + 1] >= 0xDC00 && chars[i + 1] <= 0xDFFF) {
            text[n++] =
                static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (chars[i + 1] - 0xDC00));
            ++i;
            continue;
        }
        text[n++] = static_cast<wchar_t>(unit);
    }
    text[n] = L'\0';
    return text;
}

char* wideToModifiedUtf8(const wchar_t* text) {
    jsize units = 0;
    jchar* chars = wideToJavaChars(text, wcslen(text), &units);
    if (chars == nullptr) {
        return nullptr;
    }
    // Each UTF-16 unit takes at most three bytes; U+0000 takes two.
    char* out = static_cast<char*>(malloc(static_cast<size_t>(units) * 3 + 1));
    if (out == nullptr) {
        free(chars);
        return nullptr;
    }
    size_t n = 0;
    for (jsize i = 0; i < units; ++i) {
        unsigned c = chars[i];
        if (c != 0 && c < 0x80) {
            out[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            out[n++] = static_cast<char>(0xC0 | (c >> 6));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xE0 | (c >> 12));
            out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out[n] = '\0';
    free(chars);
    return out;
}

jstring newJavaString(JNIEnv* env, const wchar_t* text) {
    jsize units = 0;
    jchar* chars = wideToJavaChars(text, wcslen(text), &units);
    if (chars == nullptr) {
        return nullptr;
    }
    jstring result = env->NewString(chars, units);
    free(chars);
    return result;
}
