// Test tool: reads and writes registry values under HKEY_LOCAL_MACHINE directly, so tests can
// set up service keys without the installer and check what the program stored.
//   regtool set KEY NAME sz|expand TEXT
//   regtool set KEY NAME multi ITEM...         (no items: an empty list)
//   regtool set KEY NAME dword NUMBER
//   regtool get KEY NAME       prints "sz|expand|dword DATA" (other types: "typeN")
//   regtool delval KEY NAME | deltree KEY | keys KEY
//   regtool sd KEY             prints the key's DACL in SDDL
// Exit codes (every failure prints its line on standard output):
//   0   done
//   2   a registry call failed, or the value is missing: "regtool: CALL failed: ERROR"
//   64  bad command or arguments: "regtool: ..." and the usage
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "platform/winapi.h"

#include <stdio.h>
#include <stdlib.h>
#include <vector>
#include <wchar.h>

namespace {

const int exitFailed = 2;
const int exitUsage = 64;

int fail(const wchar_t* what, LSTATUS rc) {
    wprintf(L"regtool: %ls failed: %ld\n", what, static_cast<long>(rc));
    return exitFailed;
}

int usage(const wchar_t* why, const wchar_t* what) {
    wprintf(L"regtool: %ls: %ls\n"
            L"usage: regtool set KEY NAME sz|expand|dword DATA | set KEY NAME multi [ITEM...]\n"
            L"       regtool get|delval KEY NAME | deltree|keys|sd KEY\n",
            why, what);
    return exitUsage;
}

int setValue(const wchar_t* keyPath, const wchar_t* name, const wchar_t* type, int argc,
             wchar_t** argv) {
    std::vector<BYTE> data;
    DWORD regType;
    auto appendText = [&](const wchar_t* text) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
        data.insert(data.end(), bytes, bytes + (wcslen(text) + 1) * sizeof(wchar_t));
    };
    if (wcscmp(type, L"multi") == 0) {
        regType = REG_MULTI_SZ;
        for (int i = 0; i < argc; ++i) {
            appendText(argv[i]);
        }
        appendText(L"");
    } else if (argc < 1) {
        return usage(L"no data to set for", name);
    } else if (wcscmp(type, L"sz") == 0 || wcscmp(type, L"expand") == 0) {
        regType = wcscmp(type, L"expand") == 0 ? REG_EXPAND_SZ : REG_SZ;
        appendText(argv[0]);
    } else if (wcscmp(type, L"dword") == 0) {
        regType = REG_DWORD;
        wchar_t* end = nullptr;
        DWORD value = static_cast<DWORD>(wcstoul(argv[0], &end, 0));
        if (argv[0][0] == L'\0' || *end != L'\0') {
            return usage(L"not a number", argv[0]);
        }
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
        data.assign(bytes, bytes + sizeof value);
    } else {
        return usage(L"unknown type", type);
    }
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        return fail(L"RegCreateKeyExW", rc);
    }
    rc = RegSetValueExW(key, name, 0, regType, data.empty() ? nullptr : data.data(),
                        static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : fail(L"RegSetValueExW", rc);
}

int getValue(const wchar_t* keyPath, const wchar_t* name) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        return fail(L"RegOpenKeyExW", rc);
    }
    DWORD type = 0;
    DWORD size = 0;
    rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + sizeof(wchar_t) * 2, 0);
    if (rc == ERROR_SUCCESS) {
        rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return fail(L"RegQueryValueExW", rc);
    }
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        wprintf(L"%ls %ls\n", type == REG_SZ ? L"sz" : L"expand", text);
        break;
    case REG_DWORD:
        wprintf(L"dword %lu\n",
                static_cast<unsigned long>(*reinterpret_cast<const DWORD*>(data.data())));
        break;
    default:
        wprintf(L"type%lu\n", static_cast<unsigned long>(type));
    }
    return 0;
}

int printKeyDacl(const wchar_t* keyPath) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, READ_CONTROL, &key);
    if (rc != ERROR_SUCCESS) {
        return fail(L"RegOpenKeyExW", rc);
    }
    DWORD size = 0;
    rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    if (rc == ERROR_INSUFFICIENT_BUFFER || rc == ERROR_SUCCESS) {
        rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return fail(L"RegGetKeySecurity", rc);
    }
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return fail(L"ConvertSecurityDescriptorToStringSecurityDescriptorW",
                    static_cast<LSTATUS>(GetLastError()));
    }
    wprintf(L"%ls\n", text);
    LocalFree(text);
    return 0;
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return usage(L"missing arguments", argc > 1 ? argv[1] : L"none given");
    }
    const wchar_t* command = argv[1];
    const wchar_t* keyPath = argv[2];
    if (wcscmp(command, L"set") == 0 && argc >= 5) {
        return setValue(keyPath, argv[3], argv[4], argc - 5, argv + 5);
    }
    if (wcscmp(command, L"get") == 0 && argc >= 4) {
        return getValue(keyPath, argv[3]);
    }
    if (wcscmp(command, L"delval") == 0 && argc >= 4) {
        HKEY key = nullptr;
        LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_WRITE, &key);
        if (rc != ERROR_SUCCESS) {
            return fail(L"RegOpenKeyExW", rc);
        }
        rc = RegDeleteValueW(key, argv[3]);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? 0 : fail(L"RegDeleteValueW", rc);
    }
    if (wcscmp(command, L"deltree") == 0) {
        LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
        return (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) ? 0
                                                                   : fail(L"RegDeleteTreeW", rc);
    }
    if (wcscmp(command, L"sd") == 0) {
        return printKeyDacl(keyPath);
    }
    if (wcscmp(command, L"keys") == 0) {
        HKEY key = nullptr;
        LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ENUMERATE_SUB_KEYS, &key);
        if (rc != ERROR_SUCCESS) {
            return fail(L"RegOpenKeyExW", rc);
        }
        wchar_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD chars = 512;
            rc = RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                break;
            }
            wprintf(L"%ls\n", name);
        }
        RegCloseKey(key);
        return rc == ERROR_NO_MORE_ITEMS ? 0 : fail(L"RegEnumKeyExW", rc);
    }
    return usage(L"unknown command or missing arguments", command);
}
