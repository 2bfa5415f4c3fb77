// Helpers shared by the unit tests: a scratch directory and registry clean-up.
#ifndef BRONTEL_TESTS_TEST_SUPPORT_H
#define BRONTEL_TESTS_TEST_SUPPORT_H

#include "platform/winapi.h"

#include <string>

namespace testsupport {

// A new empty directory for one test (under the system's temporary directory).
std::wstring makeScratchDir(const wchar_t* tag);
// Reads a whole file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::wstring& path);
// Writes bytes to a new file (replacing it).
bool writeFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a registry key and everything below it under HKEY_LOCAL_MACHINE; ignores absence.
void deleteRegistryTree(const wchar_t* keyPath);
// Sets a string value (creating the key); false on failure.
bool setRegistryString(const wchar_t* keyPath, const wchar_t* name, const wchar_t* value);

} // namespace testsupport

#endif
