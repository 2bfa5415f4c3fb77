// Rotated capture files' names by date, and finding them in the capture folder.
#include "runtime/capture/dated_files.h"

#include "files/relative_open.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>

namespace {
int isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Where the extension of a file name starts (its last dot, unless the name starts there), or
// the name's end.
size_t extensionAt(const std::wstring& name) {
    size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name.size() : dot;
}

// "YYYY-MM-DD" or "YYYY-MM-DD.N" (N a number from 1 without leading zeros) into day and part.
int readDateAndPart(const std::wstring& text, DWORD* day, DWORD* part) {
    static const wchar_t shape[] = L"0000-00-00";
    if (text.size() < 10) {
        return 0;
    }
    for (size_t i = 0; i < 10; ++i) {
        if (shape[i] == L'-' ? text[i] != L'-' : !isDigit(text[i])) {
            return 0;
        }
    }
    DWORD year = static_cast<DWORD>(wcstoul(text.c_str(), nullptr, 10));
    DWORD month = static_cast<DWORD>(wcstoul(text.c_str() + 5, nullptr, 10));
    DWORD date = static_cast<DWORD>(wcstoul(text.c_str() + 8, nullptr, 10));
    if (month < 1 || month > 12 || date < 1 || date > 31) {
        return 0;
    }
    *day = year * 10000 + month * 100 + date;
    *part = 0;
    if (text.size() == 10) {
        return 1;
    }
    if (text[10] != L'.' || text.size() == 11 || text.size() > 20 || text[11] == L'0') {
        return 0;
    }
    for (size_t i = 11; i < text.size(); ++i) {
        if (!isDigit(text[i])) {
            return 0;
        }
    }
    unsigned long long number = wcstoull(text.c_str() + 11, nullptr, 10);
    if (number > 0xFFFFFFFFull) {
        return 0;
    }
    *part = static_cast<DWORD>(number);
    return 1;
}

// The day and part of `candidate` when it is a rotated name of `fileName`.
int readDatedName(const std::wstring& fileName, const std::wstring& candidate, DatedFile* file) {
    size_t stem = extensionAt(fileName);
    size_t extension = fileName.size() - stem;
    if (candidate.size() < fileName.size() + 11 ||
        candidate.compare(0, stem, fileName, 0, stem) != 0 || candidate[stem] != L'.' ||
        candidate.compare(candidate.size() - extension, extension, fileName, stem, extension) !=
            0) {
        return 0;
    }
    std::wstring middle = candidate.substr(stem + 1, candidate.size() - extension - stem - 1);
    if (!readDateAndPart(middle, &file->day, &file->part)) {
        return 0;
    }
    file->name = candidate;
    return 1;
}
} // namespace

DWORD localDay(const FILETIME& time) {
    SYSTEMTIME universal;
    SYSTEMTIME local;
    if (!FileTimeToSystemTime(&time, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return 0;
    }
    return static_cast<DWORD>(local.wYear) * 10000 + local.wMonth * 100u + local.wDay;
}

std::wstring datedName(const wchar_t* fileName, DWORD day, DWORD part) {
    std::wstring name(fileName);
    size_t stem = extensionAt(name);
    wchar_t date[32];
    if (part == 0) {
        swprintf(date, 32, L".%04lu-%02lu-%02lu", static_cast<unsigned long>(day / 10000),
                 static_cast<unsigned long>(day / 100 % 100),
                 static_cast<unsigned long>(day % 100));
    } else {
        swprintf(date, 32, L".%04lu-%02lu-%02lu.%lu", static_cast<unsigned long>(day / 10000),
                 static_cast<unsigned long>(day / 100 % 100), static_cast<unsigned long>(day % 100),
                 static_cast<unsigned long>(part));
    }
    return name.substr(0, stem) + date + name.substr(stem);
}

DWORD listDatedFiles(HANDLE folder, const wchar_t* fileName, std::vector<DatedFile>* found) {
    // 8-byte aligned, as the entries are.
    std::vector<unsigned long long> buffer(8192);
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(buffer[0]));
    std::wstring name(fileName);
    // A handle of its own each time: Wine keeps a handle's first listing even when restarted.
    CWinHandle listing;
    DWORD error = reopenFolder(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, listing);
    if (error != 0) {
        return error;
    }
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(listing.get(), kind, buffer.data(), bytes)) {
        kind = FileIdBothDirectoryInfo;
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            DatedFile file;
            if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                readDatedName(name,
                              std::wstring(entry->FileName, entry->FileNameLength / sizeof(WCHAR)),
                              &file)) {
                found->push_back(file);
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        return error;
    }
    std::sort(found->begin(), found->end(), [](const DatedFile& a, const DatedFile& b) {
        return a.day != b.day ? a.day < b.day : a.part < b.part;
    });
    return 0;
}
