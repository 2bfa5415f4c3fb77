#include "app/parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses a command line given as a list of words (the program name is added).
struct Parsed {
    CLogger logger;
    CParameters params{&logger};
    std::vector<std::wstring> words;
    std::vector<wchar_t*> argv;
    int result = -1;

    explicit Parsed(std::vector<std::wstring> args) : words(std::move(args)) {
        words.insert(words.begin(), L"brontel");
        for (auto& w : words) {
            argv.push_back(w.data());
        }
        result = params.parseCommandLine(static_cast<int>(argv.size()), argv.data());
    }
};

TEST(Parameters, NoArgumentsLeavesEchoOffAndAsksForHelp) {
    Parsed p({});
    EXPECT_EQ(2, p.result);
    EXPECT_EQ(0, p.logger.isStdoutEnabled());
}

TEST(Parameters, SharedMembersAreOverwrittenInOrder) {
    Parsed p({L"-i", L"a.conf", L"-c", L"b.conf", L"-r", L"svc1", L"-d", L"svc2"});
    EXPECT_EQ(0, p.result);
    EXPECT_STREQ(L"b.conf", p.params.getConfigFileName());
    EXPECT_STREQ(L"svc2", p.params.getServiceName());
    EXPECT_EQ(1, p.params.installRequested());
    EXPECT_EQ(1, p.params.uninstallRequested());
    EXPECT_EQ(1, p.params.skeletonFileNeeded());
    EXPECT_EQ(1, p.params.displayRequested());
}

TEST(Parameters, OptionArgumentsAreTakenWhateverTheyLookLike) {
    Parsed p({L"-i", L"-w"});
    EXPECT_EQ(0, p.result);
    EXPECT_STREQ(L"-w", p.params.getConfigFileName());
    EXPECT_EQ(0, p.params.isConfigFileUnicode());

    Parsed q({L"-i", L"x.conf", L"-w"});
    EXPECT_EQ(1, q.params.isConfigFileUnicode());
}

TEST(Parameters, ExportAndSignalTakeTwoArguments) {
    Parsed e({L"-e", L"svc", L"out.conf"});
    EXPECT_EQ(0, e.result);
    EXPECT_STREQ(L"svc", e.params.getServiceName());
    EXPECT_STREQ(L"out.conf", e.params.getConfigFileName());

    Parsed s({L"-s", L"svc", L"SERVICE_CONTROL_STOP", L"-x", L"other"});
    EXPECT_EQ(0, s.result);
    EXPECT_EQ(1, s.params.signalRequested());
    EXPECT_EQ(1, s.params.executeWithoutSCM());
    EXPECT_STREQ(L"other", s.params.getServiceName());
    EXPECT_STREQ(L"SERVICE_CONTROL_STOP", s.params.getSignal());
    EXPECT_EQ(0, s.logger.isStdoutEnabled());
}

TEST(Parameters, MissingArgumentStopsTheWalkWithFlagAlreadySet) {
    Parsed p({L"-b", L"-i"});
    EXPECT_EQ(1, p.result);
    EXPECT_EQ(1, p.params.installRequested());
    EXPECT_EQ(nullptr, p.params.getConfigFileName());

    Parsed e({L"-e", L"svc"});
    EXPECT_EQ(1, e.result);
    EXPECT_EQ(1, e.params.displayRequested());
}

TEST(Parameters, SilentModesSwitchTheEchoOff) {
    Parsed z({L"-Z", L"svc"});
    EXPECT_EQ(0, z.result);
    EXPECT_EQ(1, z.params.startedBySCM());
    EXPECT_EQ(0, z.logger.isStdoutEnabled());

    Parsed d({L"-d", L"svc"});
    EXPECT_EQ(1, d.logger.isStdoutEnabled());
}

TEST(Parameters, AccountAndPasswordAreRecordedWithoutInstall) {
    Parsed p({L"-a", L"DOMAIN\\user", L"-p", L"secret"});
    EXPECT_EQ(0, p.result);
    EXPECT_STREQ(L"DOMAIN\\user", p.params.getAccountName());
    EXPECT_STREQ(L"secret", p.params.getAccountPassword());
    EXPECT_EQ(0, p.params.installRequested());
}

} // namespace
