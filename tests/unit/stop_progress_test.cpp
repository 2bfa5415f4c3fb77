#include "registry/stop_progress.h"

#include <gtest/gtest.h>

namespace {

SERVICE_STATUS stopPending(DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status = {};
    status.dwCurrentState = SERVICE_STOP_PENDING;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    return status;
}

// The waits until the policy gives up on a service that repeats `status`.
std::vector<DWORD> waitsUntilGivingUp(const SERVICE_STATUS& status) {
    CStopProgress progress;
    std::vector<DWORD> waits;
    for (DWORD wait; (wait = progress.nextWait(status)) != 0 && waits.size() < 100000;) {
        waits.push_back(wait);
    }
    return waits;
}

TEST(StopProgress, PollsOftenAndGivesUpOnAStalledServiceAfterItsHints) {
    const DWORD poll = CStopProgress::pollMs;
    // No hint: polled every 250 ms, abandoned after ten seconds without progress.
    EXPECT_EQ(waitsUntilGivingUp(stopPending(1, 0)), std::vector<DWORD>(10000 / poll, poll));
    // A hint of three seconds: still polled every 250 ms, for at least ten seconds.
    EXPECT_EQ(waitsUntilGivingUp(stopPending(1, 3000)), std::vector<DWORD>(10000 / poll, poll));
    // A long hint is honoured three times over.
    EXPECT_EQ(waitsUntilGivingUp(stopPending(1, 20000)), std::vector<DWORD>(60000 / poll, poll));
    // A hint beyond reason is capped.
    EXPECT_EQ(waitsUntilGivingUp(stopPending(1, 0xFFFFFFFF)).size(),
              3 * CStopProgress::maximumIntervalMs / poll);
    // A hint shorter than a poll is waited as given.
    EXPECT_EQ(waitsUntilGivingUp(stopPending(1, 100)), std::vector<DWORD>(10000 / 100, 100));
}

TEST(StopProgress, ProgressKeepsTheWaitGoingUpToTheTotalLimit) {
    CStopProgress progress;
    DWORD total = 0;
    DWORD checkPoint = 0;
    // A new checkpoint (or a new state) each round is progress: no stall, only the total limit.
    for (;;) {
        SERVICE_STATUS status = stopPending(++checkPoint, 5000);
        if (checkPoint % 2 == 0) {
            status.dwCurrentState = SERVICE_RUNNING;
        }
        DWORD wait = progress.nextWait(status);
        if (wait == 0) {
            break;
        }
        EXPECT_EQ(progress.getStalledMs(), CStopProgress::pollMs);
        total += wait;
    }
    EXPECT_EQ(total, CStopProgress::maximumTotalMs);
}

TEST(StopProgress, StallCountsFromTheLastProgress) {
    CStopProgress progress;
    for (int i = 0; i < 36; ++i) {
        EXPECT_EQ(progress.nextWait(stopPending(1, 0)), CStopProgress::pollMs);
    }
    EXPECT_EQ(progress.getStalledMs(), 9000u);
    EXPECT_EQ(progress.nextWait(stopPending(2, 0)), CStopProgress::pollMs);
    EXPECT_EQ(progress.getStalledMs(), CStopProgress::pollMs);
}

} // namespace
