// The names of capture files rotated by day: out.log's output of 7 December 2026 becomes
// out.2026-12-07.log, or out.2026-12-07.1.log, .2.log, ... in the order written when the day
// needed several files (a name without a dot gets the date at its end: out.2026-12-07).
#ifndef BRONTEL_RUNTIME_DATED_FILES_H
#define BRONTEL_RUNTIME_DATED_FILES_H

#include "platform/winapi.h"

#include <string>
#include <vector>

// A local date as year * 10000 + month * 100 + day; 0 when the time cannot be converted.
DWORD localDay(const FILETIME& time);

// The rotated name of `fileName`'s output of `day`; part 0 is the name without a number.
std::wstring datedName(const wchar_t* fileName, DWORD day, DWORD part);

struct DatedFile {
    DWORD day;
    DWORD part;
    std::wstring name;
};

// The rotated files of `fileName` in `folder` (held with FILE_LIST_DIRECTORY), oldest first.
// 0, or the Windows error of the listing.
DWORD listDatedFiles(HANDLE folder, const wchar_t* fileName, std::vector<DatedFile>* found);

#endif
