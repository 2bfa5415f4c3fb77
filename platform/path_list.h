// Splitting a list of paths (PATH, a class path) at the platform's separator.
#ifndef BRONTEL_PLATFORM_PATH_LIST_H
#define BRONTEL_PLATFORM_PATH_LIST_H

#include "platform/winapi.h"

#include <string>
#include <vector>

// Every entry in order, empty ones included: a list "a;;b" has three.
inline std::vector<std::wstring> splitPathList(const std::wstring& list) {
    std::vector<std::wstring> entries;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(BRONTEL_PATH_LIST_SEPARATOR, start);
        if (end == std::wstring::npos) {
            end = list.size();
        }
        entries.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

#endif
