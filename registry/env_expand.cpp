// Expansion of %NAME% references to the values of process environment variables.
#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A variable's value must fit this scratch buffer, terminator included, or its reference stays
// unexpanded.
const DWORD scratchChars = 4000;

wchar_t* copyText(const wchar_t* text, size_t length) {
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length);
        copy[length] = L'\0';
    }
    return copy;
}

// The growing result. Capacity doubles, so long texts are built in linear time.
class TextBuilder {
  public:
    TextBuilder() : text(nullptr), length(0), capacity(0), failed(false) {}
    ~TextBuilder() { free(text); }
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    void append(const wchar_t* piece, size_t count) {
        if (failed || count == 0) {
            return;
        }
        if (length + count + 1 > capacity) {
            size_t wanted = capacity ? capacity * 2 : 256;
            while (wanted < length + count + 1) {
                wanted *= 2;
            }
            wchar_t* grown = static_cast<wchar_t*>(realloc(text, wanted * sizeof(wchar_t)));
            if (grown == nullptr) {
                failed = true;
                return;
            }
            text = grown;
            capacity = wanted;
        }
        wmemcpy(text + length, piece, count);
        length += count;
    }

    // The built text as a new allocation of exactly its length; null when memory ran out.
    wchar_t* result() const { return failed ? nullptr : copyText(text ? text : L"", length); }

  private:
    wchar_t* text;
    size_t length;
    size_t capacity;
    bool failed;
};

} // namespace

wchar_t* expandEnvStrings(wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t total = wcslen(text);
    if (wcschr(text, L'%') == nullptr) {
        return copyText(text, total);
    }
    wchar_t* scratch = static_cast<wchar_t*>(malloc(scratchChars * sizeof(wchar_t)));
    if (scratch == nullptr) {
        return copyText(text, total);
    }
    TextBuilder out;
    size_t literal = 0; // start of the literal stretch not yet copied
    size_t i = 0;
    while (i < total) {
        if (text[i] != L'%') {
            // A backslash before "%" is a path separator, never an escape.
            ++i;
            continue;
        }
        if (text[i + 1] == L'%') {
            // "%%" is one literal percent sign.
            out.append(text + literal, i + 1 - literal);
            i += 2;
            literal = i;
            continue;
        }
        const wchar_t* closing = wcschr(text + i + 1, L'%');
        if (closing == nullptr) {
            // A lone "%" is ordinary text, and so is everything after it.
            break;
        }
        size_t end = static_cast<size_t>(closing - text);
        text[end] = L'\0'; // the name, terminated in place
        DWORD found = GetEnvironmentVariableW(text + i + 1, scratch, scratchChars);
        text[end] = L'%';
        if (found > 0 && found < scratchChars) {
            out.append(text + literal, i - literal);
            out.append(scratch, found);
            literal = end + 1;
        }
        // Otherwise the reference stays as written: a path built on a missing variable must
        // name nothing, not a folder under the root of a drive.
        i = end + 1;
    }
    out.append(text + literal, total - literal);
    free(scratch);
    return out.result();
}
