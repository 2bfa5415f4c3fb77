// The readers for arbitrary keys: they never trace, and report a missing key or value only
// through their result.
#include "platform/handles.h"
#include "registry/key_path.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Reads a value into the caller's buffer; returns the number of bytes read, or -1 when the key
// or the value is missing or the value does not fit.
long readValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey, const wchar_t* valueName,
               void* buffer, DWORD bufferSize) {
    if (buffer == nullptr || keyPath == nullptr) {
        return -1;
    }
    wchar_t* path = joinKeyPath(keyPath, subKey, nullptr);
    if (path == nullptr) {
        return -1;
    }
    CRegKey key;
    long result = -1;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD size = bufferSize;
        if (RegQueryValueExW(key.get(), valueName, nullptr, &type, static_cast<LPBYTE>(buffer),
                             &size) == ERROR_SUCCESS &&
            size <= bufferSize) {
            result = static_cast<long>(size);
        }
    }
    free(path);
    return result;
}

// Terminates text read into a buffer of `capacity` characters. Data that fills the whole
// buffer without any NUL cannot be a whole text: false, and the value counts as absent.
bool terminateText(wchar_t* buffer, size_t capacity, size_t bytes) {
    size_t chars = (bytes + sizeof(wchar_t) - 1) / sizeof(wchar_t);
    if (chars < capacity) {
        buffer[chars] = L'\0';
        return true;
    }
    return capacity > 0 && wmemchr(buffer, L'\0', capacity) != nullptr;
}

} // namespace

wchar_t* getRegStrValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                        const wchar_t* valueName, wchar_t* buffer, DWORD bufferSize) {
    long bytes = readValue(root, keyPath, subKey, valueName, buffer, bufferSize);
    if (bytes < 0) {
        return nullptr;
    }
    if (!terminateText(buffer, bufferSize / sizeof(wchar_t), static_cast<size_t>(bytes))) {
        return nullptr;
    }
    return buffer;
}

wchar_t* getRegStrListValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                            const wchar_t* valueName, wchar_t* buffer, DWORD bufferSize,
                            wchar_t separator) {
    long bytes = readValue(root, keyPath, subKey, valueName, buffer, bufferSize);
    if (bytes < 0) {
        return nullptr;
    }
    size_t capacity = bufferSize / sizeof(wchar_t);
    if (!terminateText(buffer, capacity, static_cast<size_t>(bytes))) {
        return nullptr;
    }
    // Join the items in place, never looking past the data read: a list stored without its
    // closing empty item ends where the data ends.
    size_t chars = (static_cast<size_t>(bytes) + sizeof(wchar_t) - 1) / sizeof(wchar_t);
    if (chars >= capacity) {
        chars = capacity - 1;
    }
    for (size_t i = 0; i < chars; ++i) {
        if (buffer[i] != L'\0') {
            continue;
        }
        if (i + 1 >= chars || buffer[i + 1] == L'\0') {
            break;
        }
        buffer[i] = separator;
    }
    return buffer;
}

DWORD getRegDwValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                    const wchar_t* valueName, DWORD defaultValue) {
    DWORD number = defaultValue;
    long bytes = readValue(root, keyPath, subKey, valueName, &number, sizeof(number));
    // Fewer than four bytes are no number: the default, not a mix of data and default bytes.
    if (bytes != static_cast<long>(sizeof(number))) {
        return defaultValue;
    }
    return number;
}
