#include "app/service_list.h"

#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

namespace {

using testsupport::ScratchService;

TEST(ServiceList, OwnershipByImagePathMarkerOrServiceClass) {
    ScratchService ours(L"listtest-ours");
    ASSERT_TRUE(testsupport::setRegistryString(ours.key.c_str(), L"ImagePath",
                                               L"\"C:\\Tools\\brontel.exe\" -Z \"listtest-ours\""));
    EXPECT_EQ(isBrontelService(ours.name.c_str()), 1);

    // Only the lower-case program name marks a service; an upper-case one needs the class.
    ScratchService upper(L"listtest-upper");
    ASSERT_TRUE(testsupport::setRegistryString(
        upper.key.c_str(), L"ImagePath", L"\"C:\\Tools\\BRONTEL.EXE\" -Z \"listtest-upper\""));
    EXPECT_EQ(isBrontelService(upper.name.c_str()), 0);
    ASSERT_TRUE(testsupport::setRegistryString(upper.params.c_str(), L"IBrontelClass",
                                               L"com.example.Service"));
    EXPECT_EQ(isBrontelService(upper.name.c_str()), 1);

    ScratchService foreign(L"listtest-foreign");
    ASSERT_TRUE(testsupport::setRegistryString(foreign.key.c_str(), L"ImagePath",
                                               L"C:\\Windows\\system32\\svchost.exe -k netsvcs"));
    EXPECT_EQ(isBrontelService(foreign.name.c_str()), 0);
    EXPECT_EQ(isBrontelService(L"listtest-not-there"), 0);
    // A name too long for any key path is nobody's service.
    EXPECT_EQ(isBrontelService(std::wstring(600, L'x').c_str()), 0);

    // An ImagePath longer than the area it is read into counts as absent.
    ScratchService huge(L"listtest-huge");
    ASSERT_TRUE(testsupport::setRegistryString(huge.key.c_str(), L"ImagePath",
                                               (std::wstring(1100, L'a') + L"brontel").c_str()));
    EXPECT_EQ(isBrontelService(huge.name.c_str()), 0);
}

} // namespace

// The helper's failures say what failed with Windows' reason; a service that does not exist
// counts as stopped, as removal and restart rely on.
TEST(ServiceManager, FailuresAreTracedWithTheCallersTextAndAMissingServiceCountsAsStopped) {
    TraceCapture trace(L"svcmgr");
    CServiceManager manager(trace.get());
    ASSERT_EQ(manager.open(SC_MANAGER_CONNECT, L"Cannot open the manager "), 1);
    CServiceHandle service;
    EXPECT_EQ(manager.openService(service, L"svcmgr-not-there", SERVICE_QUERY_STATUS,
                                  L"Failed to open service "),
              0);
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(manager.openService(service, L"svcmgr-not-there", SERVICE_QUERY_STATUS, nullptr), 0);
    EXPECT_EQ(manager.stopService(L"svcmgr-not-there"), 1);
    EXPECT_EQ(isServiceRunning(L"svcmgr-not-there"), 0);
    EXPECT_EQ(isDelayedAutoStart(L"svcmgr-not-there"), 0);

    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Failed to open service  1060");
    EXPECT_FALSE(lines[1].empty()); // the system's text for 1060
    EXPECT_EQ(lines[2], "Cannot open service for stopping, rc=  1060");
    EXPECT_EQ(lines[3], lines[1]);
}
