// Code-page conversions (CP_ACP is UTF-8 here), wsprintfW and _wtoi.
#include "kobject.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

const wchar_t replacementChar = 0xFFFD;

bool supportedCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8 || codePage == CP_OEMCP;
}

// Decodes UTF-8; malformed sequences become U+FFFD (or fail when `strict`).
bool decodeUtf8(const unsigned char* src, size_t length, std::wstring& out, bool strict) {
    size_t i = 0;
    while (i < length) {
        unsigned char c = src[i];
        uint32_t cp;
        size_t extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            if (strict) {
                return false;
            }
            out.push_back(replacementChar);
            ++i;
            continue;
        }
        // A sequence cut off by the end of the input is malformed.
        bool bad = i + extra >= length && extra > 0;
        for (size_t k = 1; !bad && k <= extra; ++k) {
            unsigned char next = src[i + k];
            if ((next & 0xC0) != 0x80) {
                bad = true;
            } else {
                cp = (cp << 6) | (next & 0x3F);
            }
        }
        if (!bad) {
            static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
            if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                bad = true;
            }
        }
        if (bad) {
            if (strict) {
                return false;
            }
            out.push_back(replacementChar);
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += extra + 1;
    }
    return true;
}

void encodeUtf8(const wchar_t* src, size_t length, std::string& out) {
    for (size_t i = 0; i < length; ++i) {
        uint32_t cp = static_cast<uint32_t>(src[i]);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

} // namespace

namespace standin {
std::string toUtf8(const wchar_t* text, size_t length) {
    std::string out;
    if (text != nullptr) {
        encodeUtf8(text, length, out);
    }
    return out;
}
std::string toUtf8(const wchar_t* text) {
    return text ? toUtf8(text, wcslen(text)) : std::string();
}
std::wstring fromUtf8(const std::string& text) {
    std::wstring out;
    decodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out, false);
    return out;
}
} // namespace standin

extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes,
                                          LPWSTR dst, int dstChars) {
    if (!supportedCodePage(codePage) || src == nullptr || srcBytes == 0 || dstChars < 0 ||
        (dstChars > 0 && dst == nullptr) ||
        (flags & ~(DWORD)(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = srcBytes < 0 ? strlen(src) + 1 : static_cast<size_t>(srcBytes);
    std::wstring out;
    if (!decodeUtf8(reinterpret_cast<const unsigned char*>(src), length, out,
                    (flags & MB_ERR_INVALID_CHARS) != 0)) {
        SetLastError(1113); // ERROR_NO_UNICODE_TRANSLATION
        return 0;
    }
    if (out.size() > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dstChars == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(dstChars)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wmemcpy(dst, out.data(), out.size());
    return static_cast<int>(out.size());
}

extern "C" UINT WINAPI GetACP(void) {
    return CP_UTF8;
}

extern "C" int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars,
                                          LPSTR dst, int dstBytes, LPCSTR defaultChar,
                                          LPBOOL usedDefaultChar) {
    (void)defaultChar;
    // Every code page here is UTF-8, which takes no best-fit flag and no default-character
    // report.
    if (!supportedCodePage(codePage) || src == nullptr || srcChars == 0 || dstBytes < 0 ||
        (dstBytes > 0 && dst == nullptr) || (flags & ~WC_ERR_INVALID_CHARS) != 0 ||
        usedDefaultChar != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = srcChars < 0 ? wcslen(src) + 1 : static_cast<size_t>(srcChars);
    if ((flags & WC_ERR_INVALID_CHARS) != 0) {
        for (size_t i = 0; i < length; ++i) {
            uint32_t cp = static_cast<uint32_t>(src[i]);
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
        }
    }
    std::string out;
    encodeUtf8(src, length, out);
    if (out.size() > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dstBytes == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(dstBytes)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(dst, out.data(), out.size());
    return static_cast<int>(out.size());
}

extern "C" int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    // The user library writes at most 1024 characters including the terminator.
    const size_t limit = 1024;
    std::vector<wchar_t> scratch(4096);
    int written;
    for (;;) {
        va_list args;
        va_start(args, format);
        written = vswprintf(scratch.data(), scratch.size(), format, args);
        va_end(args);
        if (written >= 0 || scratch.size() >= (1u << 24)) {
            break;
        }
        scratch.resize(scratch.size() * 4);
    }
    if (written < 0) {
        buffer[0] = L'\0';
        return 0;
    }
    size_t count =
        static_cast<size_t>(written) < limit - 1 ? static_cast<size_t>(written) : limit - 1;
    wmemcpy(buffer, scratch.data(), count);
    buffer[count] = L'\0';
    return static_cast<int>(count);
}

extern "C" int _wtoi(const wchar_t* text) {
    if (text == nullptr) {
        return 0;
    }
    while (iswspace(static_cast<wint_t>(*text))) {
        ++text;
    }
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    long long value = 0;
    while (*text >= L'0' && *text <= L'9') {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
        ++text;
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}
