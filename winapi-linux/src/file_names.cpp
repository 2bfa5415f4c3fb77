// Renaming files, and the clock calls: local time of day, the system time, their conversions,
// and milliseconds since start.
#include "file_object.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>

extern "C" BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
    if (existing == nullptr || target == nullptr || (flags & ~MOVEFILE_REPLACE_EXISTING) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string from = standin::toUtf8(existing);
    std::string to = standin::toUtf8(target);
    struct stat info;
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && lstat(to.c_str(), &info) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(standin::errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

namespace {
const unsigned long long ticksPerSecond = 10000000ull;
const long long secondsFrom1601To1970 = 11644473600ll;

void toSystemTime(const struct tm& fields, WORD milliseconds, LPSYSTEMTIME time) {
    time->wYear = static_cast<WORD>(fields.tm_year + 1900);
    time->wMonth = static_cast<WORD>(fields.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
    time->wDay = static_cast<WORD>(fields.tm_mday);
    time->wHour = static_cast<WORD>(fields.tm_hour);
    time->wMinute = static_cast<WORD>(fields.tm_min);
    time->wSecond = static_cast<WORD>(fields.tm_sec);
    time->wMilliseconds = milliseconds;
}
} // namespace

long long standin::clockOffsetSeconds() {
    const char* text = getenv("BRONTEL_STANDIN_CLOCK_OFFSET");
    return text == nullptr ? 0 : strtoll(text, nullptr, 10);
}

unsigned long long standin::fileTimeOf(const struct timespec& time) {
    long long seconds = static_cast<long long>(time.tv_sec) + clockOffsetSeconds();
    return static_cast<unsigned long long>(seconds + secondsFrom1601To1970) * ticksPerSecond +
           static_cast<unsigned long long>(time.tv_nsec) / 100u;
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    time_t seconds = static_cast<time_t>(now.tv_sec + standin::clockOffsetSeconds());
    localtime_r(&seconds, &local);
    toSystemTime(local, static_cast<WORD>(now.tv_nsec / 1000000), time);
}

extern "C" void WINAPI GetSystemTimeAsFileTime(FILETIME* time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long ticks = standin::fileTimeOf(now);
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

extern "C" BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    if (fileTime == nullptr || systemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned long long ticks =
        (static_cast<unsigned long long>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
    time_t seconds =
        static_cast<time_t>(static_cast<long long>(ticks / ticksPerSecond) - secondsFrom1601To1970);
    struct tm universal;
    if (gmtime_r(&seconds, &universal) == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    toSystemTime(universal, static_cast<WORD>(ticks % ticksPerSecond / 10000u), systemTime);
    return TRUE;
}

extern "C" BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone,
                                                       const SYSTEMTIME* universal,
                                                       LPSYSTEMTIME local) {
    if (zone != nullptr || universal == nullptr || local == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct tm fields = {};
    fields.tm_year = universal->wYear - 1900;
    fields.tm_mon = universal->wMonth - 1;
    fields.tm_mday = universal->wDay;
    fields.tm_hour = universal->wHour;
    fields.tm_min = universal->wMinute;
    fields.tm_sec = universal->wSecond;
    time_t seconds = timegm(&fields);
    struct tm there;
    if (localtime_r(&seconds, &there) == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    toSystemTime(there, universal->wMilliseconds, local);
    return TRUE;
}

extern "C" DWORD WINAPI GetTickCount(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000u +
                              static_cast<unsigned long long>(now.tv_nsec) / 1000000u);
}
