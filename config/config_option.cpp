#include "config/config_option.h"

#include <stdlib.h>

namespace {

wchar_t* copyOf(const wchar_t* text) {
    size_t length = wcslen(text);
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length + 1);
    }
    return copy;
}

} // namespace

CConfigOption::CConfigOption(CLogger* logger) : logger(logger), name(nullptr), value(nullptr) {}

CConfigOption::~CConfigOption() {
    free(name);
    free(value);
}

void CConfigOption::setName(const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    free(name);
    name = copyOf(text);
}

void CConfigOption::setValue(const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    free(value);
    value = copyOf(text);
}
