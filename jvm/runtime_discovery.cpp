// The Java runtimes to try when no JVM library is configured, in the order an administrator
// would expect: the service's JAVA_HOME, then the runtimes Java installers registered (on
// Windows) or the distribution's default Java (elsewhere).
#include "jvm/jvm_library.h"
#include "platform/handles.h"

#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

namespace {
const wchar_t kSeparator = BRONTEL_POSIX_PATHS ? L'/' : L'\\';

bool fileExists(const wchar_t* path) {
    CWinHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.isOpen();
}

// home + separator + tail into out; 0 when it does not fit (such a path is not tried).
int joinPath(wchar_t* out, size_t outChars, const wchar_t* home, const wchar_t* tail) {
    size_t homeLength = wcslen(home);
    while (homeLength > 1 && (home[homeLength - 1] == L'/' || home[homeLength - 1] == kSeparator)) {
        --homeLength;
    }
    size_t tailLength = wcslen(tail);
    if (homeLength + 1 + tailLength + 1 > outChars) {
        return 0;
    }
    wmemcpy(out, home, homeLength);
    out[homeLength] = kSeparator;
    wmemcpy(out + homeLength + 1, tail, tailLength + 1);
    return 1;
}

// parent + "\\" + child: registry paths use backslashes in both builds.
int joinKey(wchar_t* out, size_t outChars, const wchar_t* parent, const wchar_t* child) {
    if (wcslen(parent) + 1 + wcslen(child) + 1 > outChars) {
        return 0;
    }
    swprintf(out, outChars, L"%ls\\%ls", parent, child);
    return 1;
}

// One text value of an HKLM key into buffer (chars); 1 when present and terminated.
int readKeyText(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer,
                DWORD bufferChars) {
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD type = 0;
    DWORD size = (bufferChars - 1) * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key.get(), valueName, nullptr, &type,
                               reinterpret_cast<LPBYTE>(buffer), &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
        return 0;
    }
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer[0] != L'\0';
}

// Version texts compared number by number ("17.0.10" after "17.0.9"), the rest as text.
int compareVersions(const wchar_t* a, const wchar_t* b) {
    while (*a != L'\0' || *b != L'\0') {
        if (iswdigit(*a) && iswdigit(*b)) {
            wchar_t* endA = nullptr;
            wchar_t* endB = nullptr;
            unsigned long long na = wcstoull(a, &endA, 10);
            unsigned long long nb = wcstoull(b, &endB, 10);
            if (na != nb) {
                return na < nb ? -1 : 1;
            }
            a = endA;
            b = endB;
            continue;
        }
        if (*a != *b) {
            return *a < *b ? -1 : 1;
        }
        ++a;
        ++b;
    }
    return 0;
}

// The subkey names of an HKLM key, newest version first; returns how many (at most max).
int versionSubkeys(const wchar_t* keyPath, wchar_t (*names)[128], int max) {
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return 0;
    }
    int count = 0;
    for (DWORD index = 0; count < max; ++index) {
        DWORD chars = 128;
        LONG rc = RegEnumKeyExW(key.get(), index, names[count], &chars, nullptr, nullptr, nullptr,
                                nullptr);
        if (rc == ERROR_MORE_DATA) {
            continue; // no installer writes such a version name
        }
        if (rc != ERROR_SUCCESS) {
            break;
        }
        // Insertion into descending order.
        for (int i = count; i > 0 && compareVersions(names[i - 1], names[i]) < 0; --i) {
            wchar_t swap[128];
            wmemcpy(swap, names[i], 128);
            wmemcpy(names[i], names[i - 1], 128);
            wmemcpy(names[i - 1], swap, 128);
        }
        ++count;
    }
    return count;
}

// The keys the JDK and JRE installers write: <key>\CurrentVersion names <key>\<version>, whose
// JavaHome is the runtime.
void addJavaSoftRuntime(CJvmCandidates* list, const wchar_t* keyPath) {
    wchar_t version[128];
    wchar_t versionKey[400];
    wchar_t home[BRONTEL_JVM_PATH_CHARS];
    wchar_t origin[BRONTEL_JVM_ORIGIN_CHARS];
    if (!readKeyText(keyPath, L"CurrentVersion", version, 128) ||
        !joinKey(versionKey, 400, keyPath, version) ||
        !readKeyText(versionKey, L"JavaHome", home, BRONTEL_JVM_PATH_CHARS)) {
        return;
    }
    swprintf(origin, BRONTEL_JVM_ORIGIN_CHARS, L"registry HKLM\\%ls, JavaHome", versionKey);
    addJavaHomeCandidate(list, home, origin);
}

// The keys of the OpenJDK distributions' installers: <key>\<version>[\<sub>] with the runtime's
// folder in one value; every installed version, newest first.
void addDistributionRuntimes(CJvmCandidates* list, const wchar_t* keyPath, const wchar_t* sub,
                             const wchar_t* valueName) {
    wchar_t(*names)[128] = static_cast<wchar_t(*)[128]>(calloc(16, sizeof *names));
    if (names == nullptr) {
        return;
    }
    int count = versionSubkeys(keyPath, names, 16);
    for (int i = 0; i < count; ++i) {
        wchar_t versionKey[400];
        wchar_t valueKey[400];
        wchar_t home[BRONTEL_JVM_PATH_CHARS];
        wchar_t origin[BRONTEL_JVM_ORIGIN_CHARS];
        if (!joinKey(versionKey, 400, keyPath, names[i])) {
            continue;
        }
        if (sub[0] != L'\0' && !joinKey(valueKey, 400, versionKey, sub)) {
            continue;
        }
        if (sub[0] == L'\0') {
            wmemcpy(valueKey, versionKey, 400);
        }
        if (!readKeyText(valueKey, valueName, home, BRONTEL_JVM_PATH_CHARS)) {
            continue;
        }
        swprintf(origin, BRONTEL_JVM_ORIGIN_CHARS, L"registry HKLM\\%ls, %ls", valueKey, valueName);
        addJavaHomeCandidate(list, home, origin);
    }
    free(names);
}
} // namespace

void addJavaHomeCandidate(CJvmCandidates* list, const wchar_t* home, const wchar_t* origin) {
    if (list->count >= BRONTEL_MAX_JVM_CANDIDATES) {
        return;
    }
    static const wchar_t* const layouts[] = BRONTEL_JAVA_HOME_LIBRARIES;
    CJvmCandidate* candidate = &list->items[list->count];
    swprintf(candidate->origin, BRONTEL_JVM_ORIGIN_CHARS, L"%ls", origin);
    for (const wchar_t* layout : layouts) {
        if (joinPath(candidate->path, BRONTEL_JVM_PATH_CHARS, home, layout) &&
            fileExists(candidate->path)) {
            candidate->noLibrary = 0;
            ++list->count;
            return;
        }
    }
    // Still listed, so that the trace and the message say this home was looked at.
    swprintf(candidate->path, BRONTEL_JVM_PATH_CHARS, L"%ls", home);
    candidate->noLibrary = 1;
    ++list->count;
}

void addRegisteredRuntimes(CJvmCandidates* list) {
    // Keys separated with backslashes in both builds: they are registry paths.
    addJavaSoftRuntime(list, L"SOFTWARE\\JavaSoft\\JDK");
    addJavaSoftRuntime(list, L"SOFTWARE\\JavaSoft\\Java Development Kit");
    addJavaSoftRuntime(list, L"SOFTWARE\\JavaSoft\\JRE");
    addJavaSoftRuntime(list, L"SOFTWARE\\JavaSoft\\Java Runtime Environment");
    static const struct {
        const wchar_t* key;
        const wchar_t* sub;
        const wchar_t* value;
    } distributions[] = {
        {L"SOFTWARE\\Eclipse Adoptium\\JDK", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\Eclipse Adoptium\\JRE", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\Eclipse Foundation\\JDK", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\AdoptOpenJDK\\JDK", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\AdoptOpenJDK\\JRE", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\Microsoft\\JDK", L"hotspot\\MSI", L"Path"},
        {L"SOFTWARE\\Azul Systems\\Zulu", L"", L"InstallationPath"},
        {L"SOFTWARE\\BellSoft\\Liberica", L"", L"InstallationPath"},
    };
    for (const auto& distribution : distributions) {
        addDistributionRuntimes(list, distribution.key, distribution.sub, distribution.value);
    }
}

void findJavaRuntimes(CJvmCandidates* list) {
    wchar_t home[BRONTEL_JVM_PATH_CHARS];
    DWORD length = GetEnvironmentVariableW(L"JAVA_HOME", home, BRONTEL_JVM_PATH_CHARS);
    if (length > 0 && length < BRONTEL_JVM_PATH_CHARS) {
        addJavaHomeCandidate(list, home, L"JAVA_HOME");
    }
    if (BRONTEL_REGISTERED_JAVA) {
        addRegisteredRuntimes(list);
    }
    if (BRONTEL_DISTRIBUTION_JAVA_HOME[0] != L'\0') {
        addJavaHomeCandidate(list, BRONTEL_DISTRIBUTION_JAVA_HOME,
                             L"the distribution's default Java");
    }
}
