#include "files/safe_file.h"

#include "files/file_in_folder.h"
#include "files/file_results.h"
#include "files/folder_walk.h"
#include "files/full_path.h"

#include <string>
#include <vector>

namespace {
// The folder that holds the file of `path`, and the file's name.
int openParent(const wchar_t* path, CWinHandle& folder, std::wstring& name, DWORD* error) {
    std::wstring root;
    std::vector<std::wstring> names;
    DWORD failed = splitFullPath(path, root, names);
    if (failed == 0 && names.empty()) {
        failed = ERROR_INVALID_NAME; // a root is no file
    }
    if (failed != 0) {
        *error = failed;
        return FILES_FAILED;
    }
    name = names.back();
    return walkToFolder(root, names, names.size() - 1, nullptr, folder, error);
}
} // namespace

int openFileNoLinks(const wchar_t* path, ACCESS_MASK access, ULONG share, CWinHandle& file,
                    DWORD* error) {
    CWinHandle folder;
    std::wstring name;
    int result = openParent(path, folder, name, error);
    if (result != FILES_OK) {
        return result;
    }
    int created = 0;
    return openFileInFolder(folder.get(), name.c_str(), access, share, nullptr, file, error,
                            &created);
}

int findLinks(const wchar_t* path) {
    CWinHandle folder;
    std::wstring name;
    DWORD error = 0;
    int result = openParent(path, folder, name, &error);
    if (result != FILES_OK) {
        return result == FILES_FAILED ? FILES_OK : result;
    }
    CWinHandle file;
    result =
        openExistingInFolder(folder.get(), name.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, file, &error);
    return result == FILES_FAILED ? FILES_OK : result;
}
