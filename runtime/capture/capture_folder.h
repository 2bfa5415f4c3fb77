// The folder of a capture file, held open for the whole run so that every file of the capture is
// opened, renamed and deleted within it, never by its path. A missing folder is created for
// LocalSystem, Administrators and the service's account alone; an existing one that is a link,
// lies behind one, or that anyone else may change is refused.
#ifndef BRONTEL_RUNTIME_CAPTURE_FOLDER_H
#define BRONTEL_RUNTIME_CAPTURE_FOLDER_H

#include "platform/handles.h"

#include <string>
#include <vector>

class CCaptureFolder {
  public:
    // `filePath`: the capture file's path; its folder is the one held.
    explicit CCaptureFolder(const wchar_t* filePath);
    CCaptureFolder(const CCaptureFolder&) = delete;
    CCaptureFolder& operator=(const CCaptureFolder&) = delete;

    // Opens the folder (creating it and missing folders above it). FILES_OK, FILES_LINK,
    // FILES_OTHERS_WRITE, FILES_SECURITY_UNKNOWN or FILES_FAILED (with *error); an open folder
    // stays open.
    int open(DWORD* error);
    int isOpen() const { return folder.isOpen(); }
    HANDLE get() const { return folder.get(); }
    // The capture file's name within the folder.
    const wchar_t* fileName() const { return name.c_str(); }
    // The security of a new capture file.
    PSECURITY_DESCRIPTOR fileSecurity() const { return newFile.get(); }
    // 1 while the folder's path still leads to the folder held (walked again, links not
    // followed); 0 once it was moved, removed or replaced.
    int stillAtItsPath();

  private:
    DWORD prepareSecurity();

    DWORD pathError; // why the path cannot be used, or 0
    std::wstring root;
    std::vector<std::wstring> names; // of the folders, then the file
    std::wstring name;
    std::vector<std::wstring> trusted;
    CLocalDescriptor newFolder;
    CLocalDescriptor newFile;
    CWinHandle folder;
};

#endif
