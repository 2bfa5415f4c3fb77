#include "install/service_security.h"

#include "registry/registry.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

std::wstring edited(const wchar_t* dacl, int* changed = nullptr) {
    std::wstring result;
    int was = withoutUserControls(dacl, result);
    if (changed != nullptr) {
        *changed = was;
    }
    return result;
}

TEST(ServiceSecurity, UserDefinedControlsAreTakenFromOrdinaryUsersOnly) {
    // Windows' default for a new service: interactive users lose CR, service logons keep it.
    int changed = 0;
    EXPECT_EQ(edited(L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
                     L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)",
                     &changed),
              L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
              L"(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLOCRRC;;;SU)");
    EXPECT_EQ(changed, 1);
    // Every ordinary group, by alias or number; flags before the entries stay.
    EXPECT_EQ(
        edited(L"D:AI(A;;LCCR;;;AU)(A;;CRLC;;;WD)(A;;LOCR;;;S-1-5-32-545)(A;;LCCRRC;;;s-1-5-4)"),
        L"D:AI(A;;LC;;;AU)(A;;LC;;;WD)(A;;LO;;;S-1-5-32-545)(A;;LCRC;;;s-1-5-4)");
    // Rights as a number; an entry left with nothing goes.
    EXPECT_EQ(edited(L"D:(A;;0x1ff;;;BU)(A;;0x100;;;IU)(A;;CR;;;AN)(A;;LC;;;BA)"),
              L"D:(A;;0xff;;;BU)(A;;LC;;;BA)");
}

TEST(ServiceSecurity, WhatCannotBeReadOrNeedsNoChangeIsLeftAlone) {
    const wchar_t* unchanged[] = {
        L"D:",                                    // Wine's answer: an empty DACL
        L"D:(A;;CCLCSWLORC;;;IU)(A;;CR;;;SU)",    // nothing to take
        L"D:(A;;RCRP;;;IU)",                      // "CR" only across two codes
        L"D:(D;;CR;;;IU)",                        // a deny entry
        L"D:(A;;LCR;;;IU)",                       // rights it cannot read
        L"D:(A;;0x1zz;;;IU)",                     // nor as a number
        L"S:(AU;FA;CR;;;WD)",                     // no DACL at all
        L"D:(A;;LCCR;;;IU",                       // an entry never closed
        L"D:(XA;;CR;;;IU;(@User.Title==\"PM\"))", // a conditional entry
    };
    for (const wchar_t* dacl : unchanged) {
        int changed = 1;
        EXPECT_EQ(edited(dacl, &changed), dacl);
        EXPECT_EQ(changed, 0) << dacl;
    }
}

TEST(ServiceSecurity, ParametersKeyDaclAdmitsTheServiceAccountToRead) {
    EXPECT_EQ(parametersKeyDacl(nullptr), L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    EXPECT_EQ(parametersKeyDacl(L""), L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    EXPECT_EQ(parametersKeyDacl(L"S-1-5-21-1-2-3-1001"),
              L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;S-1-5-21-1-2-3-1001)");
}

// The key's DACL as text, or "error N".
std::wstring keyDacl(const std::wstring& path) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key);
    std::vector<BYTE> descriptor(512);
    DWORD size = static_cast<DWORD>(descriptor.size());
    if (rc == ERROR_SUCCESS) {
        rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
        RegCloseKey(key);
    }
    LPWSTR text = nullptr;
    if (rc == ERROR_SUCCESS &&
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        rc = static_cast<LSTATUS>(GetLastError());
    }
    if (rc != ERROR_SUCCESS) {
        return L"error " + std::to_wstring(rc);
    }
    std::wstring result = text;
    LocalFree(text);
    return result;
}

TEST(ServiceSecurity, ParametersKeyOfALocalSystemServiceIsForSystemAndAdministrators) {
    testsupport::ScratchService entry(L"sectest");
    const std::wstring& service = entry.name;
    const std::wstring& path = entry.params;
    ASSERT_TRUE(testsupport::setRegistryString(path.c_str(), L"JVMOption1", L"-Dpassword=x"));
    TraceCapture trace(L"security");
    protectParametersKey(service.c_str(), nullptr, trace.get());
    EXPECT_EQ(keyDacl(path), L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    protectParametersKey(service.c_str(), L"LocalSystem", trace.get());
    EXPECT_EQ(keyDacl(path), L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    EXPECT_EQ(trace.lines(), std::vector<std::string>());
}

TEST(ServiceSecurity, ParametersKeyFailuresLeaveItAsItWasAndSaySo) {
    testsupport::ScratchService entry(L"sectest");
    const std::wstring& service = entry.name;
    TraceCapture trace(L"security");
    // No key to protect.
    protectParametersKey(service.c_str(), nullptr, trace.get());
    // An account nobody knows: the key keeps its default rather than shut the service out.
    const std::wstring& path = entry.params;
    ASSERT_TRUE(testsupport::setRegistryString(path.c_str(), L"IBrontelClass", L"x.Y"));
    std::wstring before = keyDacl(path);
    protectParametersKey(service.c_str(), L"no-such-account-anywhere", trace.get());
    EXPECT_EQ(keyDacl(path), before);
    std::vector<std::string> lines = trace.lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Cannot restrict the service's Parameters key 2");
    EXPECT_EQ(lines[2], "The service's Parameters key keeps its default security: local users "
                        "may read its values.");
    EXPECT_EQ(lines[3], "Cannot look up the account no-such-account-anywhere, which must keep "
                        "reading the service's settings.");
    EXPECT_EQ(lines[4], "Account lookup failed 1332");
    EXPECT_EQ(lines.back(), lines[2]);
}

#ifndef _WIN32
// Wine keeps no security for services (its query answers an empty DACL and its setting does
// nothing), so the service side is shown on the stand-in.
std::wstring serviceDacl(SC_HANDLE service) {
    std::vector<BYTE> descriptor(512);
    DWORD needed = 0;
    LPWSTR text = nullptr;
    if (!QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.data(),
                                    static_cast<DWORD>(descriptor.size()), &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"error " + std::to_wstring(GetLastError());
    }
    std::wstring result = text;
    LocalFree(text);
    return result;
}

TEST(ServiceSecurity, InteractiveUsersLoseUserDefinedControlsOnTheStandIn) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    ASSERT_NE(manager, nullptr);
    std::wstring name = testsupport::uniqueName(L"sectest", L"svc");
    SC_HANDLE service =
        CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       L"/bin/true", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    TraceCapture trace(L"security");
    restrictUserControls(service, trace.get());
    std::wstring tightened = L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
                             L"(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";
    EXPECT_EQ(serviceDacl(service), tightened);
    // A handle that may not read the security: said, and nothing changes.
    SC_HANDLE reader = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    restrictUserControls(reader, trace.get());
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Cannot read the service's security 5");
    EXPECT_EQ(lines[2], "The service keeps Windows' default security: interactive users may send "
                        "it controls 128 to 255.");
    EXPECT_EQ(serviceDacl(service), tightened);
    CloseServiceHandle(reader);
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(ServiceSecurity, TheServiceAccountKeepsReadingItsParameters) {
    struct passwd* account = getpwuid(getuid());
    ASSERT_NE(account, nullptr);
    std::wstring user(account->pw_name, account->pw_name + strlen(account->pw_name));
    testsupport::ScratchService entry(L"sectest");
    const std::wstring& service = entry.name;
    const std::wstring& path = entry.params;
    ASSERT_TRUE(testsupport::setRegistryString(path.c_str(), L"IBrontelClass", L"x.Y"));
    TraceCapture trace(L"security");
    protectParametersKey(service.c_str(), (L".\\" + user).c_str(), trace.get());
    EXPECT_EQ(trace.lines(), std::vector<std::string>());
    std::wstring dacl = keyDacl(path);
    EXPECT_EQ(dacl.rfind(L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;S-1-5-21-", 0), 0u)
        << testsupport::narrow(dacl);
    // The security goes with the key: a key made again later starts from the default.
    testsupport::deleteRegistryTree(entry.key.c_str());
    ASSERT_TRUE(testsupport::setRegistryString(path.c_str(), L"IBrontelClass", L"x.Y"));
    EXPECT_EQ(keyDacl(path), L"D:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)");
}
#endif

} // namespace
