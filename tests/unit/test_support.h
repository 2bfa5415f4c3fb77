// Helpers shared by the unit tests: scratch directories, unique names, files, registry values.
#ifndef BRONTEL_TESTS_TEST_SUPPORT_H
#define BRONTEL_TESTS_TEST_SUPPORT_H

#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

// A text of ASCII characters in the other width (each character kept as it is).
inline std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}
inline std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}
// A new empty directory for one test (under the system's temporary directory).
std::wstring makeScratchDir(const wchar_t* tag);
// prefix + process id + tag + a counter: no two tests, nor two runs at once, share a name.
std::wstring uniqueName(const wchar_t* prefix, const wchar_t* tag);
// The lines of a text that end with a line feed (an unfinished last line is left out).
std::vector<std::string> splitLines(const std::string& text);
// An inbound, overlapped named pipe instance with 4-byte buffers, as the control pipe has.
HANDLE createInboundPipe(const std::wstring& name, DWORD maxInstances);
// Reads up to `size` bytes with an overlapped read, waiting for them; returns the count, or
// -1 with the error in `error`.
int readSome(HANDLE pipe, OVERLAPPED& overlapped, void* buffer, DWORD size, DWORD& error);
// Opens (or creates) a file for appending and reading, shared with other handles, as the trace
// file is opened.
HANDLE openShared(const std::wstring& path);
// Reads a whole file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::wstring& path);
// Writes bytes to a new file (replacing it).
bool writeFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a registry key and everything below it under HKEY_LOCAL_MACHINE; ignores absence.
void deleteRegistryTree(const wchar_t* keyPath);
// Whether a key exists under HKEY_LOCAL_MACHINE.
bool keyExists(const wchar_t* keyPath);
// Sets a value of any type under HKEY_LOCAL_MACHINE (creating the key); false on failure.
bool setRegistryValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const void* data,
                      DWORD size);
// Sets a string value with its NUL (creating the key); false on failure.
bool setRegistryString(const wchar_t* keyPath, const wchar_t* name, const wchar_t* value);
// The raw data and type of a value, or an empty vector when it cannot be read.
std::vector<BYTE> readRegistryValue(const wchar_t* keyPath, const wchar_t* name, DWORD* type);

// Whether a call failed with `wanted`: `failed` is what the call's result says, and the last
// error is read before anything else can change it, as in
// EXPECT_TRUE(failedWith(!StartServiceW(service, 0, nullptr), ERROR_SERVICE_DISABLED)).
::testing::AssertionResult failedWith(bool failed, DWORD wanted);

// A service entry of a test's own in the registry (its key and its Parameters key), removed
// with everything below it when the test ends.
struct ScratchService {
    explicit ScratchService(const wchar_t* prefix);
    ~ScratchService() { deleteRegistryTree(key.c_str()); }
    std::wstring name, key, params;
};

} // namespace testsupport

#endif
