#include "registry/image_path.h"

#include "registry/registry.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

namespace {

// The end of the program in an unquoted image path: just after the first ".exe" followed by a
// blank or the end, or null when there is none.
const wchar_t* unquotedProgramEnd(const wchar_t* imagePath) {
    for (const wchar_t* p = imagePath; *p != L'\0'; ++p) {
        if (p[0] == L'.' && p[1] != L'\0' && towlower(p[1]) == L'e' && p[2] != L'\0' &&
            towlower(p[2]) == L'x' && p[3] != L'\0' && towlower(p[3]) == L'e' &&
            (p[4] == L'\0' || p[4] == L' ' || p[4] == L'\t')) {
            return p + 4;
        }
    }
    return nullptr;
}

} // namespace

void cutImageProgram(wchar_t* imagePath) {
    if (imagePath[0] == L'\0') {
        return;
    }
    if (imagePath[0] == L'"') {
        wchar_t* quote = wcschr(imagePath + 1, L'"');
        if (quote == nullptr) {
            return;
        }
        size_t length = static_cast<size_t>(quote - (imagePath + 1));
        wmemmove(imagePath, imagePath + 1, length);
        imagePath[length] = L'\0';
        return;
    }
    const wchar_t* end = unquotedProgramEnd(imagePath);
    if (end != nullptr) {
        imagePath[end - imagePath] = L'\0';
    }
}

int isUnquotedWithBlank(const wchar_t* imagePath, wchar_t* first, size_t firstChars) {
    if (imagePath[0] == L'"' || imagePath[0] == L'\0' || firstChars == 0) {
        return 0;
    }
    const wchar_t* end = unquotedProgramEnd(imagePath);
    if (end == nullptr) {
        // Without a program's name where the path ends cannot be told.
        return 0;
    }
    const wchar_t* blank = nullptr;
    for (const wchar_t* p = imagePath; p < end; ++p) {
        if (*p == L' ' || *p == L'\t') {
            blank = p;
            break;
        }
    }
    if (blank == nullptr) {
        return 0;
    }
    size_t length = static_cast<size_t>(blank - imagePath);
    if (length >= firstChars) {
        length = firstChars - 1;
    }
    wmemcpy(first, imagePath, length);
    first[length] = L'\0';
    return 1;
}

int imagePathWarning(const wchar_t* serviceName, wchar_t* text) {
    const size_t imageChars = 2000;
    wchar_t image[imageChars];
    memset(image, 0, sizeof image);
    wchar_t first[imageChars];
    if (getRegStrValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, serviceName, L"ImagePath", image,
                       sizeof image - sizeof(wchar_t)) == nullptr ||
        !isUnquotedWithBlank(image, first, imageChars)) {
        return 0;
    }
    swprintf(text, imagePathWarningChars,
             L"Warning: the service's image path is not quoted and its program's path holds a "
             L"blank, so Windows tries to start %ls.exe first, a program that anyone who can write "
             L"there could place. Update the service with -m, or reinstall it with -i: both quote "
             L"the path.",
             first);
    return 1;
}
