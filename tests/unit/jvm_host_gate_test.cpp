// The gate between the Java VM's own threads and the service that hosts the VM: the natives and
// the exit hook reach the host only while it is open, and closing waits for calls inside.
#include "jvm/host_link.h"
#include "jvm/jvm.h"
#include "jvm/vm_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class RecordingHost : public CJvmHostLink {
  public:
    void setServiceStatus(DWORD currentState, DWORD controlsAccepted, DWORD exitCode,
                          DWORD checkPoint, DWORD waitHint) override {
        statuses.push_back({currentState, controlsAccepted, exitCode, checkPoint, waitHint});
    }
    void reportJavaExit(DWORD exitCode) override { exits.push_back(exitCode); }
    int relayControl(const wchar_t*, DWORD) override { return 0; }
    CLogger* getLogger() override { return &logger; }
    int tracesArguments() override { return 0; }

    std::vector<std::vector<DWORD>> statuses;
    std::vector<DWORD> exits;
    CLogger logger;
};

DWORD WINAPI closeGate(LPVOID) {
    closeJvmHostGate();
    return 0;
}

} // namespace

TEST(JvmHostGate, NativesReachTheHostOnlyWhileTheGateIsOpen) {
    RecordingHost host;
    Java_com_vantero_core_orb_BrontelManager_setServiceState(nullptr, nullptr, 4, 1, 0, 0, 0);
    brontelExitHook(3);
    EXPECT_TRUE(host.statuses.empty());

    openJvmHostGate(&host);
    Java_com_vantero_core_orb_BrontelManager_setServiceState(nullptr, nullptr, 4, 1, 7, 2, 900);
    brontelExitHook(3);
    closeJvmHostGate();
    Java_com_vantero_core_orb_BrontelManager_setServiceState(nullptr, nullptr, 1, 0, 0, 0, 0);
    brontelExitHook(5);

    ASSERT_EQ(host.statuses.size(), 1u);
    EXPECT_EQ(host.statuses[0], (std::vector<DWORD>{4, 1, 7, 2, 900}));
    EXPECT_EQ(host.exits, std::vector<DWORD>{3});
    EXPECT_EQ(enterJvmHost(), nullptr);
}

TEST(JvmHostGate, ClosingWaitsForTheCallsInside) {
    RecordingHost host;
    openJvmHostGate(&host);
    ASSERT_EQ(enterJvmHost(), &host);
    HANDLE closer = CreateThread(nullptr, 0, closeGate, nullptr, 0, nullptr);
    ASSERT_NE(closer, nullptr);
    // However long it is given, the closer cannot finish while a call is inside.
    EXPECT_EQ(WaitForSingleObject(closer, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    // Closing has begun: nothing new gets in.
    EXPECT_EQ(enterJvmHost(), nullptr);
    leaveJvmHost();
    EXPECT_EQ(WaitForSingleObject(closer, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(closer);
}
