// Small text helpers the program uses on both builds.
#ifndef BRONTEL_PLATFORM_TEXTUTIL_H
#define BRONTEL_PLATFORM_TEXTUTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// A copy of a text (free() it); null when `text` is null or memory runs out.
inline wchar_t* copyText(const wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    wchar_t* copy = static_cast<wchar_t*>(malloc(bytes));
    if (copy != nullptr) {
        memcpy(copy, text, bytes);
    }
    return copy;
}

// Equality without regard to the case of ASCII letters only; other characters compare exactly.
inline int asciiEqualNoCase(const wchar_t* a, const wchar_t* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    for (;; ++a, ++b) {
        wchar_t x = *a;
        wchar_t y = *b;
        if (x >= L'A' && x <= L'Z') {
            x = static_cast<wchar_t>(x - L'A' + L'a');
        }
        if (y >= L'A' && y <= L'Z') {
            y = static_cast<wchar_t>(y - L'A' + L'a');
        }
        if (x != y) {
            return 0;
        }
        if (x == L'\0') {
            return 1;
        }
    }
}

// UTF-16LE on disk (configuration files, skeletons and reports under -w). wchar_t is UTF-16 on
// Windows and UTF-32 on Linux, so these encode and decode explicitly.

// Whether a wide character lies outside the Basic Multilingual Plane (only possible where
// wchar_t is 32 bits wide).
inline bool isSupplementary(wchar_t c) {
    return (static_cast<uint32_t>(c) >> 16) != 0;
}

// Bytes needed to encode `count` wide characters as UTF-16LE.
inline size_t utf16leSize(const wchar_t* text, size_t count) {
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        bytes += isSupplementary(text[i]) ? 4 : 2;
    }
    return bytes;
}

// Encodes `count` wide characters into `out`, which holds utf16leSize() bytes.
inline void utf16leEncode(const wchar_t* text, size_t count, unsigned char* out) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (isSupplementary(text[i])) {
            uint32_t v = cp - 0x10000;
            uint16_t high = static_cast<uint16_t>(0xD800 + (v >> 10));
            uint16_t low = static_cast<uint16_t>(0xDC00 + (v & 0x3FF));
            *out++ = static_cast<unsigned char>(high & 0xFF);
            *out++ = static_cast<unsigned char>(high >> 8);
            *out++ = static_cast<unsigned char>(low & 0xFF);
            *out++ = static_cast<unsigned char>(low >> 8);
        } else {
            *out++ = static_cast<unsigned char>(cp & 0xFF);
            *out++ = static_cast<unsigned char>((cp >> 8) & 0xFF);
        }
    }
}

// Decodes UTF-16LE bytes up to the first U+0000 or the end into a new zero-terminated wide
// text (malloc; the caller frees). An odd trailing byte is ignored. Null when out of memory.
inline wchar_t* utf16leDecode(const unsigned char* bytes, size_t size) {
    size_t units = size / 2;
    wchar_t* text = static_cast<wchar_t*>(calloc(units + 1, sizeof(wchar_t)));
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit =
            static_cast<uint32_t>(bytes[2 * i]) | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
        if (unit == 0) {
            break;
        }
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            uint32_t next = static_cast<uint32_t>(bytes[2 * i + 2]) |
                            (static_cast<uint32_t>(bytes[2 * i + 3]) << 8);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                text[n++] =
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        text[n++] = static_cast<wchar_t>(unit);
    }
    text[n] = L'\0';
    return text;
}

#endif
