// A file or folder behind a HANDLE: a POSIX descriptor. One that NtCreateFile opened within a
// folder also knows that folder and its name there, so that it can be renamed and deleted
// through the handle; one opened on a link itself (O_PATH) is that link.
#ifndef BRONTEL_WINAPI_FILE_OBJECT_H
#define BRONTEL_WINAPI_FILE_OBJECT_H

#include "kobject.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace standin {

class FileObject : public KObject {
  public:
    explicit FileObject(int fd) : KObject(File), fd_(fd) {}
    FileObject(int fd, int folderFd, const std::string& name)
        : KObject(File), fd_(fd), folderFd_(folderFd), name_(name) {}
    ~FileObject() override {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (folderFd_ >= 0) {
            close(folderFd_);
        }
    }
    int fd() const { return fd_; }
    // The folder (a descriptor of its own, or -1) and the name this object was opened or last
    // renamed by.
    int folderFd() const { return folderFd_; }
    const std::string& name() const { return name_; }
    void movedTo(int folderFd, const std::string& name) {
        if (folderFd_ >= 0) {
            close(folderFd_);
        }
        folderFd_ = folderFd;
        name_ = name;
    }

    // How many of the folder's entries a listing has handed out (GetFileInformationByHandleEx).
    size_t listed = 0;

    KObject* duplicate() override;
    int detachFd() override {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    BOOL read(LPVOID buffer, DWORD toRead, LPDWORD done) override;
    BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD done) override;

  private:
    int fd_;
    int folderFd_ = -1;
    std::string name_;
};

// BRONTEL_STANDIN_CLOCK_OFFSET: seconds added to every time the stand-in tells (0 unset).
long long clockOffsetSeconds();
// A time of the machine, shifted by the offset, as Windows counts it (100 ns since 1601).
unsigned long long fileTimeOf(const struct timespec& time);

inline FileObject* fileFromHandle(HANDLE handle) {
    return handleAs<FileObject>(handle, KObject::File);
}

} // namespace standin

#endif
