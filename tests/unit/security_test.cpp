// The checks that keep ordinary local users from steering a service: who may serve the control
// pipe, links on written paths, how the pre-initialization program is found, account names for
// the logon right, and conversions that must not turn one character into another.
#include "files/file_results.h"
#include "files/safe_file.h"
#include "install/logon_right.h"
#include "registry/registry.h"
#include "runtime/control/pipe_client.h"
#include "runtime/control/pipe_trust.h"
#include "runtime/service/preinit_program.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#ifndef _WIN32
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::vector<BYTE> someUser(BYTE rid) {
    return {1, 5, 0, 0, 0, 0, 0, 5,  21, 0,  0,   0, 1, 2,
            3, 4, 5, 6, 7, 8, 9, 10, 11, 12, rid, 4, 0, 0};
}

TEST(PipeTrust, OnlyTheSendersUserLocalSystemOrAnAdministratorMayServe) {
    std::vector<BYTE> caller = someUser(1);
    EXPECT_TRUE(isTrustedServerUser(caller, 0, caller));
    EXPECT_TRUE(isTrustedServerUser(localSystemSid(), 0, caller));
    EXPECT_TRUE(isTrustedServerUser(someUser(2), 1, caller));
    EXPECT_FALSE(isTrustedServerUser(someUser(2), 0, caller));
    EXPECT_FALSE(isTrustedServerUser(std::vector<BYTE>(), 0, caller));
    // The well-known identifiers as the system spells them: S-1-5-18 and S-1-5-32-544.
    EXPECT_EQ(std::vector<BYTE>({1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}), localSystemSid());
    EXPECT_EQ(std::vector<BYTE>({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}),
              administratorsSid());
}

TEST(PipeTrust, OwnServerIsTrustedThroughTheSystemsAnswers) {
    std::wstring name = L"\\\\.\\pipe\\" + testsupport::uniqueName(L"brtrust", L"own");
    HANDLE server = testsupport::createInboundPipe(name, 1);
    ASSERT_NE(INVALID_HANDLE_VALUE, server) << GetLastError();
    HANDLE client = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, client) << GetLastError();
    DWORD error = 1;
    EXPECT_EQ(1, isTrustedPipeServer(client, &error));
    EXPECT_EQ(0u, error);
    // The server's own end names the server too.
    EXPECT_EQ(1, isTrustedPipeServer(server, &error));
    // A handle that is no pipe cannot say who serves it.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(0, isTrustedPipeServer(event, &error));
    EXPECT_NE(0u, error);
    CloseHandle(event);
    CloseHandle(client);
    CloseHandle(server);
}

TEST(PipeTrust, ServerSecurityAdmitsSystemAdministratorsAndTheCreator) {
    std::wstring security = controlPipeSecurity();
    const std::wstring head = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;S-1-5-";
    ASSERT_EQ(head, security.substr(0, head.size())) << security.c_str();
    EXPECT_EQ(L')', security.back());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        security.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << GetLastError();
    LocalFree(descriptor);
}

TEST(PipeTrust, NamesThatWouldLeaveThePipeNamespaceAreRefused) {
    EXPECT_TRUE(isPipeSafeServiceName(L"My Service.1"));
    EXPECT_FALSE(isPipeSafeServiceName(L"..\\..\\other"));
    EXPECT_FALSE(isPipeSafeServiceName(L"a/b"));
}

TEST(AnsiConversion, RefusesWhatTheCodePageCannotHold) {
    // A lone surrogate is broken text in every code page: never a replacement character.
    wchar_t broken[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    SetLastError(0);
    EXPECT_TRUE(
        testsupport::failedWith(convertToMBCS(broken) == nullptr, ERROR_NO_UNICODE_TRANSLATION));
    if (GetACP() != CP_UTF8) {
        // Best-fit would make "L" of the stroked L; the conversion refuses instead.
        SetLastError(0);
        EXPECT_TRUE(testsupport::failedWith(convertToMBCS(L"C:\\\u0141\\jvm.dll") == nullptr,
                                            ERROR_NO_UNICODE_TRANSLATION));
    }
}

TEST(LogonRightAccount, WholeNamesAndTheLocalComputerForDot) {
    EXPECT_EQ(L"CORP\\svc", accountForLookup(L"CORP\\svc"));
    EXPECT_EQ(L"svc", accountForLookup(L"svc"));
    wchar_t computer[256] = {0};
    DWORD size = 256;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    EXPECT_EQ(std::wstring(computer) + L"\\svc", accountForLookup(L".\\svc"));
}

#ifndef _WIN32
using testsupport::narrow;

void touchProgram(const std::string& path) {
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0755);
    ASSERT_GE(fd, 0) << path;
    close(fd);
}

TEST(PathLinks, AnyLinkOnThePathIsFound) {
    std::string dir = narrow(testsupport::makeScratchDir(L"links"));
    ASSERT_EQ(0, mkdir((dir + "/real").c_str(), 0755));
    touchProgram(dir + "/real/file");
    ASSERT_EQ(0, symlink((dir + "/real").c_str(), (dir + "/folderlink").c_str()));
    ASSERT_EQ(0, symlink((dir + "/real/file").c_str(), (dir + "/filelink").c_str()));
    touchProgram(dir + "/real/shared");
    ASSERT_EQ(0, link((dir + "/real/shared").c_str(), (dir + "/real/second").c_str()));
    auto has = [&](const std::string& path) {
        return findLinks(testsupport::widen(path).c_str()) == FILES_LINK;
    };
    EXPECT_EQ(0, has(dir + "/real/file"));
    EXPECT_EQ(0, has(dir + "/real/not-yet"));
    EXPECT_EQ(0, has(dir + "/missing/deeper/file"));
    EXPECT_EQ(1, has(dir + "/folderlink/file"));
    EXPECT_EQ(1, has(dir + "/folderlink/not-yet"));
    EXPECT_EQ(1, has(dir + "/filelink"));
    EXPECT_EQ(1, has(dir + "//folderlink//file"));
    std::wstring second = testsupport::widen(dir) + L"/real/second";
    EXPECT_EQ(FILES_HARD_LINK, findLinks(second.c_str()));
}

TEST(PreinitProgram, UnquotedBlanksAreRefusedAndBareNamesSkipTheCurrentDirectory) {
    std::string dir = narrow(testsupport::makeScratchDir(L"preinit"));
    ASSERT_EQ(0, mkdir((dir + "/My App").c_str(), 0755));
    std::wstring wdir = testsupport::widen(dir);
    PreinitProgram program;
    // Refused whether or not the intended program exists, and whether or not something was
    // planted where the system would look first; the message gets the path, not the arguments.
    std::wstring unquoted = wdir + L"/My App/prep --password=S3cret";
    for (const char* planted : {"", "/My", "/My App/prep"}) {
        if (*planted != '\0') {
            touchProgram(dir + planted);
        }
        EXPECT_EQ(PREINIT_PROGRAM_NEEDS_QUOTES, resolvePreinitProgram(unquoted.c_str(), program))
            << planted;
        EXPECT_EQ(wdir + L"/My App/prep", program.named) << planted;
    }
    std::wstring lastPart = wdir + L"/My prep.exe --flag";
    EXPECT_EQ(PREINIT_PROGRAM_NEEDS_QUOTES, resolvePreinitProgram(lastPart.c_str(), program));
    // Quoted, the path is resolved once and handed over as it was found.
    std::wstring quoted = L"\"" + wdir + L"/My App/prep\" --flag";
    EXPECT_EQ(PREINIT_PROGRAM_OK, resolvePreinitProgram(quoted.c_str(), program));
    EXPECT_EQ(wdir + L"/My App/prep", program.path);
    EXPECT_EQ(1, program.hasArguments);
    // Without blanks, options, absolute paths and settings after it are plain arguments.
    std::wstring plain = L"  " + wdir + L"/My --flag /tmp/x key=a/b";
    EXPECT_EQ(PREINIT_PROGRAM_OK, resolvePreinitProgram(plain.c_str(), program));
    EXPECT_EQ(wdir + L"/My", program.path);
    std::wstring alone = wdir + L"/My";
    EXPECT_EQ(PREINIT_PROGRAM_OK, resolvePreinitProgram(alone.c_str(), program));
    EXPECT_EQ(0, program.hasArguments);
    // A path that names nothing, or names it relative to the current directory, is refused.
    std::wstring missing = L"\"" + wdir + L"/My App/gone\" -v";
    EXPECT_EQ(PREINIT_PROGRAM_NOT_FOUND, resolvePreinitProgram(missing.c_str(), program));
    EXPECT_EQ(wdir + L"/My App/gone", program.named);
    EXPECT_EQ(PREINIT_PROGRAM_NOT_ABSOLUTE, resolvePreinitProgram(L"tools/prep -v", program));
    EXPECT_EQ(L"tools/prep", program.named);

    // A bare name: the current directory never counts, relative PATH folders neither.
    touchProgram(dir + "/brtest-bare-prep");
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir(dir.c_str()));
    std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", ("relative:.:" + dir + "/My App").c_str(), 1);
    EXPECT_EQ(PREINIT_PROGRAM_NOT_FOUND, resolvePreinitProgram(L"brtest-bare-prep -v", program));
    EXPECT_EQ(L"brtest-bare-prep", program.named);
    EXPECT_EQ(PREINIT_PROGRAM_OK, resolvePreinitProgram(L"prep -v", program));
    EXPECT_EQ(wdir + L"/My App/prep", program.path);
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(0, chdir(saved));
}
#endif

} // namespace
