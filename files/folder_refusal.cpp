// The refusal of a capture folder, worded once for installation and for the service's start.
#include "files/folder_refusal.h"

#include "files/file_results.h"
#include "platform/result_codes.h"

int captureFolderRefusal(int result, int atInstall, wchar_t* buffer, size_t chars) {
    const wchar_t* what = nullptr;
    const wchar_t* until = nullptr;
    if (result == FILES_LINK) {
        what = L"the output capture folder is a link or lies behind one";
        until = L"until it is a plain folder";
    } else if (result == FILES_OTHERS_WRITE) {
        what = L"users other than LocalSystem, Administrators and the service's account can "
               L"change the output capture folder";
        until = L"until only they can";
    } else if (result == FILES_SECURITY_UNKNOWN) {
        what = L"the security of the output capture folder cannot be read";
        until = L"if it cannot read it either";
    } else {
        return 0;
    }
    if (atInstall) {
        swprintf(buffer, chars, L"Warning: %ls; the service will not start (code %d) %ls: ", what,
                 BRONTEL_RESULT_UNSAFE_CAPTURE_PATH, until);
    } else {
        swprintf(buffer, chars, L"%ls; the service does not start: ", what);
        // The sentence starts with a capital letter (each wording starts in lower case ASCII).
        buffer[0] = static_cast<wchar_t>(buffer[0] - L'a' + L'A');
    }
    return 1;
}
