#include "trace/path_links.h"

#include <string>

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Where the checks start: past "\\?\", a drive ("C:" or "C:\") or a "\\server\share" head.
size_t firstCheckedComponent(const std::wstring& path) {
    size_t start = 0;
    if (path.compare(0, 4, L"\\\\?\\") == 0) {
        start = 4;
        if (path.compare(start, 4, L"UNC\\") == 0) {
            start += 4;
        } else if (path.size() >= start + 2 && path[start + 1] == L':') {
            start += 2;
        }
    } else if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        start = 2;
        // Server and share are not folders on a disk.
        for (int part = 0; part < 2 && start < path.size(); ++part) {
            while (start < path.size() && !isSeparator(path[start])) {
                ++start;
            }
            if (start < path.size()) {
                ++start;
            }
        }
        return start;
    } else if (path.size() >= 2 && path[1] == L':') {
        start = 2;
    }
    while (start < path.size() && isSeparator(path[start])) {
        ++start;
    }
    return start;
}

} // namespace

int pathHasLink(const wchar_t* path) {
    if (path == nullptr) {
        return 0;
    }
    std::wstring text = path;
    size_t end = firstCheckedComponent(text);
    while (end < text.size()) {
        while (end < text.size() && !isSeparator(text[end])) {
            ++end;
        }
        std::wstring prefix = text.substr(0, end);
        DWORD attributes = GetFileAttributesW(prefix.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return 0; // nothing below a missing folder exists either
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return 1;
        }
        while (end < text.size() && isSeparator(text[end])) {
            ++end;
        }
    }
    return 0;
}
