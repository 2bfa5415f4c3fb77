// Reading and writing a list value of a service key.
#include "registry/service_strings.h"

#include "platform/handles.h"
#include "platform/textutil.h"
#include "registry/key_path.h"
#include "registry/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

const size_t listChars = serviceStringsChars;

int servicePath(const wchar_t* serviceName, wchar_t* path, size_t chars) {
    int written = swprintf(path, chars, L"%ls\\%ls", BRONTEL_SERVICES_KEY,
                           serviceName != nullptr ? serviceName : L"");
    return written > 0 && static_cast<size_t>(written) < chars;
}

} // namespace

int readServiceStrings(const wchar_t* serviceName, const wchar_t* valueName,
                       std::vector<std::wstring>* items) {
    items->clear();
    size_t bytes = (listChars + 2) * sizeof(wchar_t);
    wchar_t* buffer = static_cast<wchar_t*>(calloc(listChars + 2, sizeof(wchar_t)));
    if (buffer == nullptr) {
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    // Items never hold a line break: the configuration file gives each on a line of its own.
    const wchar_t* text = getRegStrListValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, serviceName,
                                             valueName, buffer, static_cast<DWORD>(bytes), L'\n');
    while (text != nullptr && *text != L'\0') {
        const wchar_t* end = wcschr(text, L'\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - text) : wcslen(text);
        items->push_back(std::wstring(text, length));
        text += length;
        if (*text == L'\n') {
            ++text;
        }
    }
    free(buffer);
    return 0;
}

std::wstring readServiceList(const wchar_t* serviceName, const wchar_t* valueName,
                             wchar_t separator) {
    std::vector<std::wstring> items;
    readServiceStrings(serviceName, valueName, &items);
    std::wstring joined;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += items[i];
    }
    return joined;
}

std::wstring readServiceText(const wchar_t* serviceName, const wchar_t* valueName, int* present) {
    wchar_t* path = joinKeyPath(BRONTEL_SERVICES_KEY, serviceName, nullptr);
    ServiceParamFailure failure;
    wchar_t* text = readRegText(path, valueName, 0, &failure);
    free(path);
    if (present != nullptr) {
        *present = text != nullptr;
    }
    std::wstring value = text != nullptr ? text : L"";
    free(text);
    return value;
}

std::wstring storedServiceName(const wchar_t* serviceName) {
    std::wstring given = serviceName != nullptr ? serviceName : L"";
    CRegKey services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, 0, KEY_ENUMERATE_SUB_KEYS,
                      services.receive()) != ERROR_SUCCESS) {
        return given;
    }
    // Key names hold at most 255 characters.
    wchar_t name[260];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 260;
        LSTATUS rc =
            RegEnumKeyExW(services.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            return given;
        }
        if (asciiEqualNoCase(name, given.c_str())) {
            return name;
        }
    }
}

int writeServiceStrings(const wchar_t* serviceName, const wchar_t* valueName,
                        const std::vector<std::wstring>& items, CLogger* logger) {
    wchar_t path[1024];
    CRegKey key;
    LSTATUS rc = servicePath(serviceName, path, 1024)
                     ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, key.receive())
                     : ERROR_INVALID_NAME;
    if (rc == ERROR_SUCCESS && items.empty()) {
        // A value that is not there is already deleted.
        RegDeleteValueW(key.get(), valueName);
        return 0;
    }
    std::wstring data;
    for (const std::wstring& item : items) {
        data += item;
        data += L'\0';
    }
    data += L'\0';
    if (rc == ERROR_SUCCESS) {
        rc = data.size() > listChars
                 ? ERROR_INVALID_PARAMETER
                 : RegSetValueExW(key.get(), valueName, 0, REG_MULTI_SZ,
                                  reinterpret_cast<const BYTE*>(data.c_str()),
                                  static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    return regWriteResult(rc, valueName, logger);
}
