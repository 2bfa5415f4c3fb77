#include "install/logon_right.h"
#include "install/service_account.h"

#include "test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

using testsupport::failedWith;

TEST(LogonRight, LsaStringsCountUtf16Bytes) {
    LSA_UNICODE_STRING text;
    InitLsaString(&text, L"SeServiceLogonRight");
    EXPECT_EQ(text.Length, 38);
    EXPECT_EQ(text.MaximumLength, 40);
    EXPECT_STREQ(text.Buffer, L"SeServiceLogonRight");
    InitLsaString(&text, nullptr);
    EXPECT_EQ(text.Buffer, nullptr);
    EXPECT_EQ(text.Length, 0);
    EXPECT_EQ(text.MaximumLength, 0);
}

TEST(LogonRight, RefusesEmptyAndUnknownAccounts) {
    EXPECT_EQ(SetServiceRightW(L"", nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetServiceRightW(nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetServiceRightW(L"no-such-account-anywhere", nullptr), ERROR_NONE_MAPPED);
    PSID sid = reinterpret_cast<PSID>(1);
    EXPECT_FALSE(GetAccountSid(nullptr, L"no-such-account-anywhere", &sid));
    EXPECT_TRUE(failedWith(sid == nullptr, ERROR_NONE_MAPPED));
}

// Which accounts Windows signs on itself (no password, no logon right to grant) and which not.
TEST(ServiceAccount, KindsAndNames) {
    EXPECT_EQ(serviceAccountKind(nullptr), ACCOUNT_LOCAL_SYSTEM);
    EXPECT_EQ(serviceAccountKind(L"localsystem"), ACCOUNT_LOCAL_SYSTEM);
    EXPECT_EQ(serviceAccountKind(L"NT AUTHORITY\\LocalService"), ACCOUNT_BUILT_IN);
    EXPECT_EQ(serviceAccountKind(L"nt authority\\Network Service"), ACCOUNT_BUILT_IN);
    EXPECT_EQ(serviceAccountKind(L"NetworkService"), ACCOUNT_BUILT_IN);
    EXPECT_EQ(serviceAccountKind(L"NT SERVICE\\MyService"), ACCOUNT_VIRTUAL);
    EXPECT_EQ(serviceAccountKind(L"NT SERVICE\\"), ACCOUNT_USER);
    EXPECT_EQ(serviceAccountKind(L"CORP\\web$"), ACCOUNT_MANAGED);
    EXPECT_EQ(serviceAccountKind(L"web$"), ACCOUNT_USER);
    EXPECT_EQ(serviceAccountKind(L"CORP\\$"), ACCOUNT_USER);
    EXPECT_EQ(serviceAccountKind(L".\\user"), ACCOUNT_USER);
    EXPECT_EQ(serviceStartName(L"LocalService"), L"NT AUTHORITY\\LocalService");
    EXPECT_EQ(serviceStartName(L"Network Service"), L"NT AUTHORITY\\Network Service");
    EXPECT_EQ(serviceStartName(L"NT SERVICE\\A"), L"NT SERVICE\\A");
    std::wstring sid = L"x";
    EXPECT_EQ(accountSidText(L"LocalSystem", sid), 0u);
    EXPECT_EQ(sid, L"");
    EXPECT_EQ(accountSidText(L"LocalService", sid), 0u);
    EXPECT_EQ(sid, L"S-1-5-19");
    EXPECT_EQ(accountSidText(L"NT AUTHORITY\\NetworkService", sid), 0u);
    EXPECT_EQ(sid, L"S-1-5-20");
}

#ifndef _WIN32
// A virtual account is known while its service exists, by a SID of its own under S-1-5-80.
TEST(ServiceAccount, VirtualAccountsExistWithTheirService) {
    testsupport::ScratchService first(L"VirtualAccountTest");
    testsupport::ScratchService second(L"VirtualAccountTest");
    std::wstring sid;
    EXPECT_EQ(accountSidText((L"NT SERVICE\\" + first.name).c_str(), sid),
              static_cast<DWORD>(ERROR_NONE_MAPPED));
    ASSERT_TRUE(testsupport::setRegistryString(first.key.c_str(), L"ImagePath", L"x"));
    ASSERT_EQ(accountSidText((L"NT SERVICE\\" + first.name).c_str(), sid), 0u);
    EXPECT_EQ(sid.compare(0, 9, L"S-1-5-80-"), 0) << sid.c_str();
    std::wstring other;
    ASSERT_TRUE(testsupport::setRegistryString(second.key.c_str(), L"ImagePath", L"x"));
    ASSERT_EQ(accountSidText((L"NT SERVICE\\" + second.name).c_str(), other), 0u);
    EXPECT_NE(sid, other);
}

std::wstring currentUser() {
    struct passwd* entry = getpwuid(getuid());
    std::string name = entry != nullptr ? entry->pw_name : "root";
    return std::wstring(name.begin(), name.end());
}

const wchar_t computerNameKey[] = L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

// The stand-in records granted rights under SECURITY\Policy\Accounts\<SID>.
TEST(LogonRight, GrantsTheRightToALocalAccount) {
    testsupport::deleteRegistryTree(L"SECURITY\\Policy\\Accounts");
    // A computer name longer than the first guess of 16 characters makes the lookup grow its
    // buffers and ask again.
    ASSERT_TRUE(testsupport::setRegistryString(computerNameKey, L"ComputerName",
                                               L"A-RATHER-LONG-COMPUTER-NAME-FOR-TESTS"));
    PSID sid = nullptr;
    ASSERT_TRUE(GetAccountSid(nullptr, (L".\\" + currentUser()).c_str(), &sid)) << GetLastError();
    ASSERT_NE(sid, nullptr);
    PSID again = nullptr;
    ASSERT_TRUE(GetAccountSid(nullptr, currentUser().c_str(), &again));
    ASSERT_EQ(GetLengthSid(sid), GetLengthSid(again));
    EXPECT_EQ(memcmp(sid, again, GetLengthSid(sid)), 0) << "the identifier is stable";
    HeapFree(GetProcessHeap(), 0, sid);
    HeapFree(GetProcessHeap(), 0, again);

    EXPECT_EQ(SetServiceRightW(currentUser().c_str(), nullptr), 0);
    HKEY accounts = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SECURITY\\Policy\\Accounts", 0,
                            KEY_ENUMERATE_SUB_KEYS, &accounts),
              ERROR_SUCCESS);
    wchar_t name[200];
    DWORD chars = 200;
    ASSERT_EQ(RegEnumKeyExW(accounts, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(accounts);
    EXPECT_EQ(std::wstring(name).rfind(L"S-1-5-21-", 0), 0u) << name;
    DWORD type = 0;
    std::vector<BYTE> granted = testsupport::readRegistryValue(
        (L"SECURITY\\Policy\\Accounts\\" + std::wstring(name)).c_str(), L"SeServiceLogonRight",
        &type);
    EXPECT_EQ(granted, (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    // Removing the one right leaves the account without it.
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(OpenPolicy(nullptr, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, &policy), 0);
    ASSERT_TRUE(GetAccountSid(nullptr, currentUser().c_str(), &sid));
    EXPECT_EQ(SetPrivilegeOnAccount(policy, sid, L"SeServiceLogonRight", FALSE), 0);
    EXPECT_EQ(SetPrivilegeOnAccount(policy, sid, L"NotARight", TRUE), STATUS_NO_SUCH_PRIVILEGE);
    HeapFree(GetProcessHeap(), 0, sid);
    EXPECT_EQ(LsaClose(policy), 0);
    EXPECT_EQ(LsaClose(policy), STATUS_INVALID_HANDLE);
    testsupport::deleteRegistryTree(L"SYSTEM\\CurrentControlSet\\Control\\ComputerName");
    testsupport::deleteRegistryTree(L"SECURITY\\Policy\\Accounts");
}
#endif

} // namespace
