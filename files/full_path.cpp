#include "files/full_path.h"

#include <wchar.h>

namespace {
// Past the next name and the separator after it; 0 when the name is missing.
size_t pastName(const std::wstring& path, size_t at) {
    size_t end = at;
    while (end < path.size() && !isPathSeparator(path[end])) {
        ++end;
    }
    if (end == at || end == path.size()) {
        return 0;
    }
    return end + 1;
}
} // namespace

int isPathSeparator(wchar_t c) {
    return c != L'\0' && wcschr(BRONTEL_PATH_SEPARATORS, c) != nullptr;
}

size_t rootLength(const std::wstring& path) {
    if (path.size() >= 2 && isPathSeparator(path[0]) && isPathSeparator(path[1])) {
        if (path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && isPathSeparator(path[3])) {
            // \\?\UNC\server\share\, or \\?\C:\ and \\?\Volume{...}\ .
            if (path.compare(4, 4, L"UNC\\") == 0) {
                size_t server = pastName(path, 8);
                return server == 0 ? 0 : pastName(path, server);
            }
            return pastName(path, 4);
        }
        size_t server = pastName(path, 2);
        return server == 0 ? 0 : pastName(path, server);
    }
    if (path.size() >= 3 && path[1] == L':' && isPathSeparator(path[2])) {
        return 3;
    }
    if (!path.empty() && isPathSeparator(path[0])) {
        return 1;
    }
    return 0;
}

DWORD splitFullPath(const wchar_t* path, std::wstring& root, std::vector<std::wstring>& names) {
    root.clear();
    names.clear();
    if (path == nullptr || *path == L'\0') {
        return ERROR_INVALID_NAME;
    }
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        DWORD length =
            GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return GetLastError();
        }
        if (length < full.size()) {
            break;
        }
        full.resize(static_cast<size_t>(length) + 1); // the room it asked for
    }
    std::wstring text = full.data();
    size_t start = rootLength(text);
    if (start == 0) {
        return ERROR_INVALID_NAME;
    }
    root = text.substr(0, start);
    size_t at = start;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && !isPathSeparator(text[end])) {
            ++end;
        }
        if (end > at) {
            names.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return 0;
}

std::wstring folderOf(const wchar_t* path) {
    std::wstring text = path;
    size_t end = text.size();
    while (end > 0 && !isPathSeparator(text[end - 1])) {
        --end;
    }
    while (end > 1 && isPathSeparator(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}
