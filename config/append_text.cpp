// A wide text that grows in steps of 1000 characters.
#include "config/config_file.h"

#include <stdlib.h>

namespace {
const unsigned long growthStep = 1000;
}

wchar_t* appendText(wchar_t* buffer, unsigned long* capacity, const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0') {
        return buffer;
    }
    size_t length = wcslen(text);
    if (*capacity == 0) {
        buffer = static_cast<wchar_t*>(calloc(length + growthStep, sizeof(wchar_t)));
        if (buffer == nullptr) {
            return nullptr;
        }
        *capacity = static_cast<unsigned long>(length + growthStep);
    }
    size_t used = wcslen(buffer);
    if (*capacity - used <= length) {
        // All the steps a long text needs at once, so the text is copied only once.
        size_t steps = (length - (*capacity - used)) / growthStep + 1;
        size_t grown = *capacity + steps * growthStep;
        wchar_t* larger = static_cast<wchar_t*>(calloc(grown, sizeof(wchar_t)));
        if (larger == nullptr) {
            free(buffer);
            *capacity = 0;
            return nullptr;
        }
        wmemcpy(larger, buffer, used);
        free(buffer);
        buffer = larger;
        *capacity = static_cast<unsigned long>(grown);
    }
    wmemcpy(buffer + used, text, length + 1);
    return buffer;
}
