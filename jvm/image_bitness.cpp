// Why a library "is not a valid application": read from its PE header which processor it was
// built for, so that a 32-bit Java beside a 64-bit brontel.exe is named plainly.
#include "jvm/jvm_library.h"
#include "platform/handles.h"

#include <stdint.h>
#include <wchar.h>

namespace {
const wchar_t* machineName(uint16_t machine) {
    switch (machine) {
    case 0x014C:
        return L"32-bit";
    case 0x8664:
        return L"64-bit";
    case 0xAA64:
        return L"ARM64";
    case 0x01C4:
        return L"32-bit ARM";
    default:
        return nullptr;
    }
}

bool readAt(HANDLE file, DWORD offset, void* buffer, DWORD size) {
    if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return false;
    }
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

uint32_t little32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
} // namespace

int describeForeignImage(const wchar_t* path, wchar_t* text, size_t textChars) {
    CWinHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isOpen()) {
        return 0;
    }
    unsigned char dos[64];
    unsigned char pe[6];
    uint16_t machine = 0;
    bool known = readAt(file.get(), 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z' &&
                 little32(dos + 0x3C) < 0x10000000u &&
                 readAt(file.get(), little32(dos + 0x3C), pe, 6) && pe[0] == 'P' && pe[1] == 'E' &&
                 pe[2] == 0 && pe[3] == 0;
    file.reset(KernelHandleKind::none());
    if (known) {
        machine = static_cast<uint16_t>(pe[4] | (pe[5] << 8));
    }
    const wchar_t* theirs = known ? machineName(machine) : nullptr;
    const wchar_t* ours = sizeof(void*) == 8 ? L"64-bit" : L"32-bit";
    if (theirs == nullptr || wcscmp(theirs, ours) == 0) {
        return 0;
    }
    const wchar_t* advice = sizeof(void*) == 8 ? L"use the x86 brontel.exe or a 64-bit Java"
                                               : L"use the x64 brontel.exe or a 32-bit Java";
    if (wcscmp(theirs, L"32-bit") != 0 && wcscmp(theirs, L"64-bit") != 0) {
        advice = sizeof(void*) == 8 ? L"use a 64-bit (x64) Java" : L"use a 32-bit (x86) Java";
    }
    swprintf(text, textChars, L"%ls is a %ls library; this brontel.exe is %ls; %ls", path, theirs,
             ours, advice);
    return 1;
}
