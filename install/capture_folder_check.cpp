#include "install/capture_folder_check.h"

#include "files/file_results.h"
#include "files/folder_refusal.h"
#include "files/folder_security.h"
#include "files/folder_walk.h"
#include "files/full_path.h"
#include "install/service_account.h"
#include "platform/textutil.h"
#include "settings/config_keys.h"

#include <string>
#include <vector>

namespace {

// The SID text of the account the service will run as; empty for LocalSystem or when it cannot
// be looked up (then only LocalSystem and Administrators count).
std::wstring accountSid(const wchar_t* account) {
    std::wstring sid;
    return accountSidText(account, sid) == 0 ? sid : std::wstring();
}

// What the service would find in the folder of `path`; FILES_FAILED also for one that does not
// exist yet (the service creates it).
int judgeFolder(const wchar_t* path, const std::vector<std::wstring>& trusted, DWORD* error) {
    std::wstring root;
    std::vector<std::wstring> names;
    if (splitFullPath(path, root, names) != 0 || names.empty()) {
        return FILES_FAILED;
    }
    CWinHandle folder;
    int result = walkToFolder(root, names, names.size() - 1, nullptr, folder, error);
    if (result == FILES_OK) {
        result = checkFolderWriters(folder.get(), trusted, error);
    }
    return result;
}

} // namespace

void warnAboutCaptureFolders(CConfigFile* config, const wchar_t* account, CLogger* logger) {
    std::vector<std::wstring> trusted;
    int trustedKnown = 0;
    for (const wchar_t* key : {CFG_STDOUT_FILE, CFG_STDERR_FILE}) {
        wchar_t* path = config->getStrOptionValue(key, nullptr);
        // A relative path or one with environment references may name another folder for the
        // service than for this process.
        if (path == nullptr || wcschr(path, L'%') != nullptr || rootLength(path) == 0) {
            continue;
        }
        if (!trustedKnown) {
            trusted = trustedWriters(accountSid(account));
            trustedKnown = 1;
        }
        DWORD error = 0;
        int result = judgeFolder(path, trusted, &error);
        wchar_t warning[400];
        if (captureFolderRefusal(result, 1, warning, 400)) {
            logger->logMessage(warning, folderOf(path).c_str());
        }
    }
}
