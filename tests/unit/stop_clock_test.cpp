#include "registry/option_values.h"
#include "runtime/service/stop_clock.h"
#include "settings/value_check.h"

#include <gtest/gtest.h>

namespace {

// stopTimeout's rule, as the key table gives it.
int parseStopTimeout(const wchar_t* text, DWORD* value) {
    return parseConfigNumber(*findConfigKey(CFG_STOP_TIMEOUT), text, value);
}

// A service that runs, is asked to stop at t=1000 and then reports stop-pending (checkpoint 1,
// the given hint) at t=1100.
CStopClock stopAt1000(DWORD timeoutSeconds, DWORD hint = 0) {
    CStopClock clock(timeoutSeconds);
    clock.status(0, SERVICE_RUNNING, 0, 0);
    clock.stopRequested(1000, 0, 0);
    clock.status(1100, SERVICE_STOP_PENDING, 1, hint);
    return clock;
}

TEST(StopClock, NothingIsDueBeforeAStopAndNothingEverWithZero) {
    CStopClock clock(5);
    DWORD wait = 0;
    clock.status(0, SERVICE_RUNNING, 0, 0);
    EXPECT_EQ(clock.due(1000000, &wait), STOP_CLOCK_IDLE);
    EXPECT_EQ(wait, INFINITE);
    CStopClock zero = stopAt1000(0);
    EXPECT_EQ(zero.due(100000000, &wait), STOP_CLOCK_IDLE);
}

TEST(StopClock, TimeoutRunsFromTheLastProgressAndEndsTheProcess) {
    CStopClock clock = stopAt1000(2);
    DWORD wait = 0;
    EXPECT_EQ(clock.due(1100, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(wait, 2000u);
    // Repeating the same report is no progress; a higher checkpoint or a new state is.
    clock.status(2000, SERVICE_STOP_PENDING, 1, 0);
    EXPECT_EQ(clock.due(3099, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(wait, 1u);
    clock.status(3000, SERVICE_STOP_PENDING, 2, 0);
    EXPECT_EQ(clock.due(4999, &wait), STOP_CLOCK_WAIT);
    clock.status(4000, SERVICE_STOP_PENDING, 1, 0); // lower checkpoint: no progress
    EXPECT_EQ(clock.due(5000, &wait), STOP_CLOCK_END);
    EXPECT_EQ(clock.getLastState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(clock.getSilentMs(5000), 2000u);
    // A service that reported stopped but does not end is ended too.
    clock.status(5000, SERVICE_STOPPED, 0, 0);
    EXPECT_EQ(clock.due(6999, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(clock.due(7000, &wait), STOP_CLOCK_END);
}

TEST(StopClock, AStopThatJavaDeclinesByRunningOnIsNotTimed) {
    for (DWORD timeout : {2u, BRONTEL_STOP_TIMEOUT_UNSET}) {
        CStopClock clock = stopAt1000(timeout);
        clock.stopRequested(1200, 1, 5000);
        clock.status(1500, SERVICE_RUNNING, 0, 0);
        DWORD wait = 0;
        EXPECT_EQ(clock.due(100000000, &wait), STOP_CLOCK_IDLE) << timeout;
        // The next stop is timed from its own start, and warned about again.
        clock.stopRequested(200000000, 0, 0);
        EXPECT_EQ(clock.due(200000000 + clock.getAllowedMs() - 1, &wait), STOP_CLOCK_WAIT);
        EXPECT_NE(clock.due(200000000 + clock.getAllowedMs(), &wait), STOP_CLOCK_WAIT);
    }
}

TEST(StopClock, TheWaitIsNeverShorterThanJavasLastWaitHint) {
    CStopClock clock = stopAt1000(1, 5000);
    DWORD wait = 0;
    EXPECT_EQ(clock.due(6099, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(clock.due(6100, &wait), STOP_CLOCK_END);
    // A hint given before the stop counts as well.
    CStopClock early(1);
    early.status(0, SERVICE_RUNNING, 0, 3000);
    early.stopRequested(1000, 0, 0);
    EXPECT_EQ(early.due(3999, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(early.due(4000, &wait), STOP_CLOCK_END);
}

TEST(StopClock, UnsetWarnsOnceAfterAMinuteAndNeverEnds) {
    CStopClock clock = stopAt1000(BRONTEL_STOP_TIMEOUT_UNSET);
    DWORD wait = 0;
    EXPECT_EQ(clock.due(1100 + CStopClock::warningAfterMs - 1, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(clock.due(1100 + CStopClock::warningAfterMs, &wait), STOP_CLOCK_WARN);
    clock.warned();
    EXPECT_EQ(clock.due(10000000, &wait), STOP_CLOCK_IDLE);
    // Later progress does not bring the warning back.
    clock.status(20000000, SERVICE_STOP_PENDING, 9, 0);
    EXPECT_EQ(clock.due(90000000, &wait), STOP_CLOCK_IDLE);
}

TEST(StopClock, ShutdownActsWithinTheAllowanceWhateverTheTimeoutAndHints) {
    CStopClock clock = stopAt1000(600, 100000);
    clock.stopRequested(2000, 1, 5000);
    DWORD wait = 0;
    // Five seconds allowed, one kept back.
    EXPECT_EQ(clock.due(5999, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(clock.due(6000, &wait), STOP_CLOCK_END);
    // Unset: the warning also comes before Windows gives up.
    CStopClock unset = stopAt1000(BRONTEL_STOP_TIMEOUT_UNSET);
    unset.stopRequested(2000, 1, 1000);
    EXPECT_EQ(unset.due(2499, &wait), STOP_CLOCK_WAIT);
    EXPECT_EQ(unset.due(2500, &wait), STOP_CLOCK_WARN);
}

TEST(OptionValues, StopTimeoutAndPeriods) {
    DWORD value = 7;
    EXPECT_TRUE(parseStopTimeout(L" 30 ", &value));
    EXPECT_EQ(value, 30u);
    EXPECT_TRUE(parseStopTimeout(L"4294967", &value));
    for (const wchar_t* bad : {L"", L" ", L"-1", L"4294968", L"3s", L"1 2", L"0x10"}) {
        EXPECT_FALSE(parseStopTimeout(bad, &value)) << bad;
    }
    EXPECT_TRUE(parseWholeNumber(L"4294967295", 0xFFFFFFFFu, &value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_FALSE(parseWholeNumber(L"4294967296", 0xFFFFFFFFu, &value));
    EXPECT_FALSE(parseWholeNumber(L"99999999999999999999999", 0xFFFFFFFFu, &value));
}

TEST(OptionValues, FailureActions) {
    FailureActionList list;
    wchar_t problem[200];
    ASSERT_TRUE(
        parseFailureActions(L"Restart/60000, none / 0 ,RESTART/4294967295", &list, problem, 200));
    ASSERT_EQ(list.count, 3u);
    EXPECT_EQ(list.actions[0].Type, SC_ACTION_RESTART);
    EXPECT_EQ(list.actions[0].Delay, 60000u);
    EXPECT_EQ(list.actions[1].Type, SC_ACTION_NONE);
    EXPECT_EQ(list.actions[2].Delay, 0xFFFFFFFFu);
    std::wstring sixteen;
    for (int i = 0; i < BRONTEL_MAX_FAILURE_ACTIONS; ++i) {
        sixteen += i ? L",restart/1" : L"restart/1";
    }
    EXPECT_TRUE(parseFailureActions(sixteen.c_str(), &list, problem, 200));
    struct {
        std::wstring text;
        const wchar_t* problem;
    } bad[] = {
        {L"", L"item 1 is not of the form action/delay (for example restart/60000)"},
        {L"restart/1,", L"item 2 is not of the form action/delay (for example restart/60000)"},
        {L"restart", L"item 1 is not of the form action/delay (for example restart/60000)"},
        {L"run/1", L"item 1: the action is neither restart nor none"},
        {L"restart/", L"item 1: the delay is not a number of milliseconds below 4294967296"},
        {L"none/4294967296", L"item 1: the delay is not a number of milliseconds below 4294967296"},
        {sixteen + L",none/0", L"more than 16 actions"},
    };
    for (const auto& entry : bad) {
        EXPECT_FALSE(parseFailureActions(entry.text.c_str(), &list, problem, 200));
        EXPECT_STREQ(problem, entry.problem);
    }
}

} // namespace
