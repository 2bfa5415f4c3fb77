// The Linux stand-in Service Control Manager, against the real testservice program.
#ifndef _WIN32
#include "test_support.h"

#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::failedWith;

std::string buildDir() {
    const char* dir = getenv("BRONTEL_TEST_BUILD_DIR");
    return dir != nullptr ? dir : ".";
}

using testsupport::widen;

std::wstring testServicePath() {
    return widen(buildDir() + "/tests/testservice");
}

// A name of its own for each test, so that tests never see each other's services.
std::wstring uniqueName(const wchar_t* tag) {
    return testsupport::uniqueName(L"scmtest-", tag);
}

std::wstring serviceKey(const std::wstring& name) {
    return L"SYSTEM\\CurrentControlSet\\Services\\" + name;
}

DWORD readDword(const std::wstring& keyPath, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data = testsupport::readRegistryValue(keyPath.c_str(), name, &type);
    DWORD value = 0xFFFFFFFF;
    if (type == REG_DWORD && data.size() == sizeof value) {
        memcpy(&value, data.data(), sizeof value);
    }
    return value;
}

std::wstring readText(const std::wstring& keyPath, const wchar_t* name, DWORD* type) {
    std::vector<BYTE> data = testsupport::readRegistryValue(keyPath.c_str(), name, type);
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()),
                        data.size() / sizeof(wchar_t));
}

// The output of a shell command run in the directory of the test tools.
std::string runInToolDirectory(const std::string& command) {
    FILE* pipe = popen(("cd '" + buildDir() + "/tests' && " + command).c_str(), "r");
    std::string output;
    char chunk[256];
    while (pipe != nullptr && fgets(chunk, sizeof chunk, pipe) != nullptr) {
        output += chunk;
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return output;
}

// The process id a testservice logged when it began to run; 0 when it has not.
pid_t loggedPid(const std::string& log) {
    size_t at = log.find("running ");
    return at == std::string::npos ? 0 : static_cast<pid_t>(atoi(log.c_str() + at + 8));
}

class Scm : public ::testing::Test {
  protected:
    void SetUp() override {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr) << GetLastError();
    }
    void TearDown() override {
        for (const std::wstring& name : created) {
            SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
            if (service != nullptr) {
                SERVICE_STATUS status;
                ControlService(service, SERVICE_CONTROL_STOP, &status);
                DeleteService(service);
                CloseServiceHandle(service);
            }
            testsupport::deleteRegistryTree(serviceKey(name).c_str());
        }
        // Services that refuse to stop would outlive the test run: end their processes.
        for (const std::wstring& log : logs) {
            pid_t pid = loggedPid(testsupport::readFileBytes(log));
            if (pid > 0) {
                kill(pid, SIGKILL);
            }
        }
        CloseServiceHandle(manager);
    }

    SC_HANDLE create(const std::wstring& name, const std::wstring& commandLine,
                     const wchar_t* dependencies = nullptr,
                     DWORD startType = SERVICE_DEMAND_START) {
        created.push_back(name);
        return CreateServiceW(manager, name.c_str(), (L"Display " + name).c_str(),
                              SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
                              SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr,
                              dependencies, nullptr, nullptr);
    }

    // A service running /bin/true under the given display name and account (null: the defaults).
    SC_HANDLE createShown(const std::wstring& name, const wchar_t* display,
                          const wchar_t* account = nullptr) {
        created.push_back(name);
        return CreateServiceW(manager, name.c_str(), display, SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                              L"/bin/true", nullptr, nullptr, nullptr, account,
                              account ? L"pw" : nullptr);
    }

    // A testservice with the given options, logging to a file of its own.
    SC_HANDLE createTestService(const std::wstring& name, const std::wstring& options) {
        logPath = testsupport::makeScratchDir(L"scm") + L"/service.log";
        logs.push_back(logPath);
        return create(name,
                      L"\"" + testServicePath() + L"\" --log \"" + logPath + L"\" " + options);
    }

    // Polls the published status until it shows `state` (the manager has no notification).
    SERVICE_STATUS waitFor(SC_HANDLE service, DWORD state) {
        SERVICE_STATUS status = {};
        for (int i = 0; i < 1000; ++i) {
            EXPECT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
            if (status.dwCurrentState == state) {
                break;
            }
            Sleep(10);
        }
        return status;
    }

    // Starts a service that was created and waits until it runs.
    ::testing::AssertionResult startAndWait(SC_HANDLE service) {
        if (service == nullptr || !StartServiceW(service, 0, nullptr)) {
            return ::testing::AssertionFailure() << "cannot start: error " << GetLastError();
        }
        DWORD state = waitFor(service, SERVICE_RUNNING).dwCurrentState;
        return state == SERVICE_RUNNING ? ::testing::AssertionSuccess()
                                        : ::testing::AssertionFailure() << "state " << state;
    }

    std::string serviceLog() { return testsupport::readFileBytes(logPath); }

    SC_HANDLE manager = nullptr;
    std::vector<std::wstring> created;
    std::wstring logPath;
    std::vector<std::wstring> logs;
};

TEST_F(Scm, CreateWritesTheEntryAsWindowsDoes) {
    std::wstring name = uniqueName(L"entry");
    SC_HANDLE service = create(name, L"\"/x/brontel\" -Z \"" + name + L"\"", L"A\0\0B\0");
    ASSERT_NE(service, nullptr) << GetLastError();
    std::wstring key = serviceKey(name);
    EXPECT_EQ(readDword(key, L"Type"), static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(readDword(key, L"Start"), static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(readDword(key, L"ErrorControl"), static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    DWORD type = 0;
    EXPECT_EQ(readText(key, L"ImagePath", &type), L"\"/x/brontel\" -Z \"" + name + L"\"" + L'\0');
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(readText(key, L"DisplayName", &type), L"Display " + name + L'\0');
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    // The list ends at its first empty item.
    EXPECT_EQ(readText(key, L"DependOnService", &type), std::wstring(L"A\0\0", 3));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(readText(key, L"ObjectName", &type), std::wstring(L"LocalSystem") + L'\0');

    SERVICE_STATUS status = {};
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));
    CloseServiceHandle(service);

    // Names compare without regard to case; the entry keeps its own spelling.
    std::wstring upper = name;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(towupper(c));
    }
    SC_HANDLE again = OpenServiceW(manager, upper.c_str(), SERVICE_QUERY_STATUS);
    EXPECT_NE(again, nullptr);
    CloseServiceHandle(again);
    EXPECT_TRUE(failedWith(create(upper, L"/bin/true") == nullptr, ERROR_SERVICE_EXISTS));
}

TEST_F(Scm, RefusesBadNamesAndDuplicateDisplayNames) {
    std::wstring longest(256, L'n');
    longest.replace(0, 8, L"scmtest-");
    SC_HANDLE service = createShown(longest, L"Longest name");
    EXPECT_NE(service, nullptr) << GetLastError();
    CloseServiceHandle(service);
    for (const std::wstring& bad :
         {longest + L"x", std::wstring(L"a\\b"), std::wstring(L"a/b"), std::wstring()}) {
        EXPECT_TRUE(failedWith(create(bad, L"/bin/true") == nullptr, ERROR_INVALID_NAME));
    }
    // Another service's display name cannot be used again, neither as name nor as display name.
    std::wstring first = uniqueName(L"shown");
    service = create(first, L"/bin/true");
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
    EXPECT_TRUE(failedWith(createShown(L"Display " + first, nullptr) == nullptr,
                           ERROR_DUPLICATE_SERVICE_NAME));
    EXPECT_TRUE(failedWith(
        OpenServiceW(manager, L"scmtest-no-such-service", SERVICE_QUERY_STATUS) == nullptr,
        ERROR_SERVICE_DOES_NOT_EXIST));
    // An account that the computer does not know is refused as Windows does.
    EXPECT_TRUE(
        failedWith(createShown(L"scmtest-account", nullptr, L".\\no-such-user-here") == nullptr,
                   ERROR_INVALID_SERVICE_ACCOUNT));
}

TEST_F(Scm, StartsControlsAndStopsAService) {
    std::wstring name = uniqueName(L"life");
    SC_HANDLE service = createTestService(name, L"--stop-hint 700");
    ASSERT_NE(service, nullptr) << GetLastError();
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status = waitFor(service, SERVICE_RUNNING);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_TRUE(failedWith(!StartServiceW(service, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING));

    // Interrogate and user-defined controls reach the handler; undefined ones are refused.
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_TRUE(ControlService(service, 200, &status)) << GetLastError();
    EXPECT_TRUE(failedWith(!ControlService(service, SERVICE_CONTROL_DEVICEEVENT, &status),
                           ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(failedWith(!ControlService(service, SERVICE_CONTROL_PAUSE, &status),
                           ERROR_INVALID_SERVICE_CONTROL));

    // The status returned is the one the handler left.
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(status.dwWaitHint, 700u);
    status = waitFor(service, SERVICE_STOPPED);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_TRUE(failedWith(!ControlService(service, SERVICE_CONTROL_STOP, &status),
                           ERROR_SERVICE_NOT_ACTIVE));
    std::string log = serviceLog();
    EXPECT_NE(log.find("control 4\ncontrol 200\ncontrol 1\nstopped\n"), std::string::npos) << log;

    // It can be started again once stopped.
    EXPECT_TRUE(startAndWait(service));
    CloseServiceHandle(service);
}

TEST_F(Scm, QueriesTheConfigurationAndTheProcessAsWindowsDoes) {
    std::wstring name = uniqueName(L"query");
    SC_HANDLE service = createTestService(name, L"");
    ASSERT_NE(service, nullptr) << GetLastError();
    // Too small a buffer says how much is needed.
    DWORD needed = 0;
    EXPECT_TRUE(
        failedWith(!QueryServiceConfigW(service, nullptr, 0, &needed), ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGW));
    std::vector<BYTE> area(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(area.data());
    ASSERT_TRUE(QueryServiceConfigW(service, config, needed, &needed)) << GetLastError();
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_STREQ(config->lpServiceStartName, L"LocalSystem");
    EXPECT_EQ(std::wstring(config->lpDisplayName), L"Display " + name);
    EXPECT_EQ(std::wstring(config->lpBinaryPathName).find(testServicePath()), 1u);
    // An empty dependency list is two zeros.
    EXPECT_EQ(config->lpDependencies[0], L'\0');

    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(failedWith(!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                                 reinterpret_cast<LPBYTE>(&status),
                                                 sizeof status - 1, &needed),
                           ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof status);
    ASSERT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<LPBYTE>(&status), sizeof status, &needed));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwProcessId, 0u);
    ASSERT_TRUE(startAndWait(service));
    ASSERT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<LPBYTE>(&status), sizeof status, &needed));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    // The process that runs the service, as its log names it (written just after it reported
    // running).
    pid_t logged = 0;
    for (int tries = 0; tries < 500 && (logged = loggedPid(serviceLog())) == 0; ++tries) {
        Sleep(10);
    }
    EXPECT_EQ(static_cast<pid_t>(status.dwProcessId), logged);
    CloseServiceHandle(service);
}

TEST_F(Scm, RefusesControlsByStateAndAcceptedSet) {
    SC_HANDLE noStop = createTestService(uniqueName(L"nostop"), L"--no-stop");
    ASSERT_TRUE(startAndWait(noStop));
    SERVICE_STATUS status = {};
    EXPECT_TRUE(failedWith(!ControlService(noStop, SERVICE_CONTROL_STOP, &status),
                           ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

    SC_HANDLE stuck = createTestService(uniqueName(L"stuck"), L"--stuck-stopping");
    ASSERT_TRUE(startAndWait(stuck));
    ASSERT_TRUE(ControlService(stuck, 128, &status)) << GetLastError();
    waitFor(stuck, SERVICE_STOP_PENDING);
    EXPECT_TRUE(failedWith(!ControlService(stuck, SERVICE_CONTROL_STOP, &status),
                           ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));

    // A handle without the right to stop cannot stop.
    SC_HANDLE readOnly = OpenServiceW(manager, created[0].c_str(), SERVICE_QUERY_STATUS);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_TRUE(
        failedWith(!ControlService(readOnly, SERVICE_CONTROL_STOP, &status), ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseServiceHandle(readOnly));
    EXPECT_TRUE(failedWith(!CloseServiceHandle(readOnly), ERROR_INVALID_HANDLE));
    CloseServiceHandle(noStop);
    CloseServiceHandle(stuck);
}

TEST_F(Scm, ServiceWhoseProcessDiedIsStoppedAndItsDeletionCompletes) {
    std::wstring name = uniqueName(L"crash");
    SC_HANDLE service = createTestService(name, L"--no-stop");
    ASSERT_TRUE(startAndWait(service));
    // Marked for deletion while it runs: the entry stays until it stops.
    ASSERT_TRUE(DeleteService(service)) << GetLastError();
    EXPECT_TRUE(testsupport::keyExists(serviceKey(name).c_str()));
    EXPECT_TRUE(failedWith(!DeleteService(service), ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(failedWith(create(name, L"/bin/true") == nullptr, ERROR_SERVICE_MARKED_FOR_DELETE));

    pid_t pid = loggedPid(serviceLog());
    ASSERT_GT(pid, 0) << serviceLog();
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    SERVICE_STATUS status = waitFor(service, SERVICE_STOPPED);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(testsupport::keyExists(serviceKey(name).c_str()));
    CloseServiceHandle(service);
}

TEST_F(Scm, DeletingAStoppedServiceRemovesItsKeyAtOnce) {
    std::wstring name = uniqueName(L"delete");
    SC_HANDLE service = create(name, L"/bin/true");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(testsupport::setRegistryString((serviceKey(name) + L"\\Parameters").c_str(),
                                               L"IBrontelClass", L"x.Y"));
    ASSERT_TRUE(DeleteService(service)) << GetLastError();
    EXPECT_FALSE(testsupport::keyExists(serviceKey(name).c_str()));
    CloseServiceHandle(service);
    EXPECT_TRUE(failedWith(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) == nullptr,
                           ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(Scm, StartFailsAsWindowsDoes) {
    SC_HANDLE disabled = create(uniqueName(L"disabled"), L"/bin/true", nullptr, SERVICE_DISABLED);
    ASSERT_NE(disabled, nullptr);
    EXPECT_TRUE(failedWith(!StartServiceW(disabled, 0, nullptr), ERROR_SERVICE_DISABLED));
    CloseServiceHandle(disabled);

    SC_HANDLE missing = create(uniqueName(L"missing"), L"\"/no/such/program\" -Z x");
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(failedWith(!StartServiceW(missing, 0, nullptr), ERROR_FILE_NOT_FOUND));
    CloseServiceHandle(missing);

    // A program that ends without connecting, and one that never connects (ended after the
    // manager's time-out, here shortened).
    HKEY control = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &control, nullptr),
              ERROR_SUCCESS);
    DWORD timeout = 300;
    ASSERT_EQ(RegSetValueExW(control, L"ServicesPipeTimeout", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&timeout), sizeof timeout),
              ERROR_SUCCESS);
    SC_HANDLE quits = create(uniqueName(L"quits"), L"true");
    SC_HANDLE hangs = create(uniqueName(L"hangs"), L"sleep 60");
    ASSERT_NE(quits, nullptr);
    ASSERT_NE(hangs, nullptr);
    for (SC_HANDLE service : {quits, hangs}) {
        EXPECT_TRUE(failedWith(!StartServiceW(service, 0, nullptr), ERROR_SERVICE_REQUEST_TIMEOUT));
        SERVICE_STATUS status = {};
        ASSERT_TRUE(QueryServiceStatus(service, &status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        CloseServiceHandle(service);
    }
    RegDeleteValueW(control, L"ServicesPipeTimeout");
    RegCloseKey(control);

    // A process that the manager did not start has no dispatcher connection.
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L"x"), [](DWORD, LPWSTR*) {}},
                                    {nullptr, nullptr}};
    EXPECT_TRUE(
        failedWith(!StartServiceCtrlDispatcherW(table), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

// Several processes creating the same service at once: exactly one succeeds.
TEST_F(Scm, ConcurrentCreatesOfOneNameLeaveOneService) {
    std::wstring name = uniqueName(L"race");
    created.push_back(name);
    std::string output =
        runInToolDirectory("for i in 1 2 3 4 5 6; do ./svctool create '" +
                           testsupport::narrow(name) + "' \"Race $i\" /bin/true & done; wait");
    size_t createdCount = 0, existed = 0;
    for (size_t at = 0; (at = output.find("CREATED", at)) != std::string::npos; ++at) {
        ++createdCount;
    }
    for (size_t at = 0; (at = output.find("FAILED 1073", at)) != std::string::npos; ++at) {
        ++existed;
    }
    EXPECT_EQ(createdCount, 1u) << output;
    EXPECT_EQ(existed, 5u) << output;
}

TEST_F(Scm, CallersWhoCannotWriteTheRootAreRefused) {
    EXPECT_EQ(runInToolDirectory("BRONTEL_ROOT=/dev/null/root ./svctool create x x /bin/true"),
              "FAILED 5 OpenSCManagerW\n");
}

} // namespace
#endif
