#include "test_support.h"

#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::openShared;

// The trace file's lock: one byte far past the end, taken through one handle, keeps another
// handle out until it is released, and never stops anybody reading the file's real bytes.
TEST(FileLock, ExclusiveRangePastTheEndExcludesOtherHandlesUntilReleased) {
    std::wstring path = testsupport::makeScratchDir(L"filelock") + L"/locked.log";
    HANDLE first = openShared(path);
    HANDLE second = openShared(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    ASSERT_NE(INVALID_HANDLE_VALUE, second);

    OVERLAPPED range = {};
    range.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range));

    OVERLAPPED again = {};
    again.OffsetHigh = 0x7FFFFFFF;
    EXPECT_TRUE(testsupport::failedWith(
        !LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &again),
        ERROR_LOCK_VIOLATION));

    // Bytes before the locked one stay free to write and read through the other handle.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(second, "line\n", 5, &written, nullptr));
    EXPECT_EQ(5u, written);
    EXPECT_EQ("line\n", testsupport::readFileBytes(path));

    ASSERT_TRUE(UnlockFileEx(first, 0, 1, 0, &range));
    EXPECT_TRUE(
        LockFileEx(second, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &again));
    // Closing a handle gives its locks up.
    CloseHandle(second);
    EXPECT_TRUE(
        LockFileEx(first, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range));
    CloseHandle(first);
}

} // namespace
