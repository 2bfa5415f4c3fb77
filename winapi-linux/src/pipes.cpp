// Named pipes over Unix domain sockets.
//
// Each server instance listens on a socket of its own, "<base>.<slot>.sock", and holds a lock on
// "<base>.<slot>.lock" for as long as it exists: the locks count the instances across processes,
// and the lock of a server that died goes with its process, so the next server reclaims the
// stale socket file. A worker thread per instance accepts clients and completes overlapped
// operations. An instance takes one client at a time, as on Windows; a client learns from one
// byte whether the instance took it ('A') or already has a client or is not listening ('B').
#include "kobject.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const ULONG_PTR statusPending = 0x103;
const char acceptedByte = 'A';
const char busyByte = 'B';
// How long a client waits for a live server's answer before it counts the instance as busy.
const int answerTimeoutMs = 5000;

std::string slotPath(const std::string& base, DWORD slot, const char* extension) {
    char suffix[16];
    snprintf(suffix, sizeof suffix, ".%02x%s", static_cast<unsigned>(slot), extension);
    return base + suffix;
}

// Finishes an overlapped operation: result, bytes, then the event, as the kernel does.
void complete(LPOVERLAPPED overlapped, DWORD status, DWORD bytes) {
    overlapped->Internal = status;
    overlapped->InternalHigh = bytes;
    SetEvent(overlapped->hEvent);
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

class PipeServer : public standin::KObject {
  public:
    PipeServer(int listenFd, int lockFd, int wakeFd, std::string socketPath, std::string base)
        : KObject(Pipe), listenFd_(listenFd), lockFd_(lockFd), wakeFd_(wakeFd),
          socketPath_(std::move(socketPath)), base_(std::move(base)) {
        worker_ = std::thread([this] { serve(); });
    }

    ~PipeServer() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
            abortPending(ERROR_OPERATION_ABORTED);
            cv_.notify_all();
        }
        wake();
        worker_.join();
        // The socket file goes while the slot is still locked, so no new server loses its own.
        unlink(socketPath_.c_str());
        close(listenFd_);
        if (clientFd_ >= 0) {
            close(clientFd_);
        }
        for (int fd : retired_) {
            close(fd);
        }
        close(wakeFd_);
        close(lockFd_);
    }

    BOOL connect(LPOVERLAPPED overlapped) {
        if (overlapped != nullptr && overlapped->hEvent == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::unique_lock<std::mutex> guard(lock_);
        if (pendingConnect_ != nullptr) {
            SetLastError(ERROR_PIPE_LISTENING);
            return FALSE;
        }
        if (state_ == Connected) {
            // A client came before the call. If it has already gone without writing anything,
            // Windows reports the pipe as being closed.
            char byte;
            if (recv(clientFd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                SetLastError(ERROR_NO_DATA);
            } else {
                SetLastError(ERROR_PIPE_CONNECTED);
            }
            return FALSE;
        }
        state_ = Listening;
        if (overlapped == nullptr) {
            cv_.wait(guard, [&] { return state_ == Connected || stopping_; });
            return TRUE;
        }
        ResetEvent(overlapped->hEvent);
        overlapped->Internal = statusPending;
        overlapped->InternalHigh = 0;
        pendingConnect_ = overlapped;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    BOOL disconnect() {
        std::lock_guard<std::mutex> guard(lock_);
        if (clientFd_ >= 0) {
            // The client sees the end at once; the worker closes the descriptor once it no
            // longer polls it.
            shutdown(clientFd_, SHUT_RDWR);
            retired_.push_back(clientFd_);
            clientFd_ = -1;
        }
        abortPending(ERROR_PIPE_NOT_CONNECTED);
        state_ = Disconnected;
        wake();
        return TRUE;
    }

    const std::string& base() const { return base_; }

    BOOL cancel() {
        std::lock_guard<std::mutex> guard(lock_);
        abortPending(ERROR_OPERATION_ABORTED);
        wake();
        return TRUE;
    }

    // A blocking read: waits for at least one byte or the end of the client's data.
    BOOL read(LPVOID buffer, DWORD toRead, LPDWORD done) override {
        int fd;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!checkReadable()) {
                return FALSE;
            }
            fd = clientFd_;
            ++blockingReaders_;
        }
        ssize_t n = 0;
        if (toRead > 0) {
            do {
                n = recv(fd, buffer, toRead, 0);
            } while (n < 0 && errno == EINTR);
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            --blockingReaders_;
            wake();
        }
        if (n > 0 || toRead == 0) {
            if (done) {
                *done = static_cast<DWORD>(n);
            }
            return TRUE;
        }
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }

    BOOL readOverlapped(LPVOID buffer, DWORD toRead, LPDWORD done,
                        LPOVERLAPPED overlapped) override {
        if (overlapped->hEvent == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (!checkReadable()) {
            return FALSE;
        }
        if (pendingRead_ != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        ResetEvent(overlapped->hEvent);
        overlapped->Internal = statusPending;
        overlapped->InternalHigh = 0;
        ssize_t n = toRead == 0 ? 0 : recv(clientFd_, buffer, toRead, MSG_DONTWAIT);
        if (n > 0 || toRead == 0) {
            complete(overlapped, ERROR_SUCCESS, static_cast<DWORD>(n));
            if (done) {
                *done = static_cast<DWORD>(n);
            }
            return TRUE;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pendingRead_ = overlapped;
            readBuffer_ = static_cast<char*>(buffer);
            readSize_ = toRead;
            wake();
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        overlapped->Internal = ERROR_BROKEN_PIPE;
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }

    BOOL write(LPCVOID, DWORD, LPDWORD) override {
        // The program's pipes are inbound only.
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

  private:
    enum State { Listening, Connected, Disconnected };

    void wake() {
        uint64_t one = 1;
        ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }

    bool checkReadable() {
        if (state_ != Connected) {
            SetLastError(state_ == Listening ? ERROR_PIPE_LISTENING : ERROR_PIPE_NOT_CONNECTED);
            return false;
        }
        return true;
    }

    void abortPending(DWORD status) {
        if (pendingConnect_ != nullptr) {
            complete(pendingConnect_, status, 0);
            pendingConnect_ = nullptr;
        }
        if (pendingRead_ != nullptr) {
            complete(pendingRead_, status, 0);
            pendingRead_ = nullptr;
        }
    }

    void serve() {
        for (;;) {
            pollfd fds[3];
            nfds_t count = 2;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (blockingReaders_ == 0) {
                    for (int fd : retired_) {
                        close(fd);
                    }
                    retired_.clear();
                }
                if (stopping_) {
                    return;
                }
                fds[0] = pollfd{wakeFd_, POLLIN, 0};
                fds[1] = pollfd{listenFd_, POLLIN, 0};
                if (pendingRead_ != nullptr && clientFd_ >= 0) {
                    fds[2] = pollfd{clientFd_, POLLIN, 0};
                    count = 3;
                }
            }
            if (poll(fds, count, -1) < 0) {
                continue;
            }
            if (fds[0].revents != 0) {
                uint64_t value;
                ssize_t ignored = ::read(wakeFd_, &value, sizeof value);
                (void)ignored;
            }
            if (fds[1].revents != 0) {
                acceptClient();
            }
            if (count == 3 && fds[2].revents != 0) {
                std::lock_guard<std::mutex> guard(lock_);
                if (pendingRead_ != nullptr && clientFd_ == fds[2].fd) {
                    finishRead();
                }
            }
        }
    }

    void acceptClient() {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (state_ == Listening && clientFd_ < 0 && !stopping_) {
            send(fd, &acceptedByte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            clientFd_ = fd;
            state_ = Connected;
            if (pendingConnect_ != nullptr) {
                complete(pendingConnect_, ERROR_SUCCESS, 0);
                pendingConnect_ = nullptr;
            }
            cv_.notify_all();
        } else {
            send(fd, &busyByte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            close(fd);
        }
    }

    void finishRead() {
        ssize_t n = recv(clientFd_, readBuffer_, readSize_, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n > 0) {
            complete(pendingRead_, ERROR_SUCCESS, static_cast<DWORD>(n));
        } else {
            complete(pendingRead_, ERROR_BROKEN_PIPE, 0);
        }
        pendingRead_ = nullptr;
    }

    std::mutex lock_;
    std::condition_variable cv_;
    State state_ = Listening;
    int listenFd_;
    int lockFd_;
    int wakeFd_;
    int clientFd_ = -1;
    std::vector<int> retired_;
    int blockingReaders_ = 0;
    LPOVERLAPPED pendingConnect_ = nullptr;
    LPOVERLAPPED pendingRead_ = nullptr;
    char* readBuffer_ = nullptr;
    DWORD readSize_ = 0;
    bool stopping_ = false;
    std::string socketPath_;
    std::string base_;
    std::thread worker_;
};

class PipeClient : public standin::KObject {
  public:
    explicit PipeClient(int fd) : KObject(Pipe), fd_(fd) {}
    ~PipeClient() override { close(fd_); }

    // The process that made the listening socket: the server's creator.
    BOOL serverProcessId(PULONG id) {
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            SetLastError(standin::errorFromErrno(errno));
            return FALSE;
        }
        *id = static_cast<ULONG>(peer.pid);
        return TRUE;
    }

    BOOL read(LPVOID, DWORD, LPDWORD) override {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD done) override {
        // A server that has gone reads as "the pipe is being closed", never as SIGPIPE.
        int fd = fd_;
        return standin::writeAll(
            [fd](const char* bytes, size_t count) { return send(fd, bytes, count, MSG_NOSIGNAL); },
            buffer, toWrite, done, ERROR_NO_DATA);
    }

  private:
    int fd_;
};

PipeServer* serverFromHandle(HANDLE handle) {
    auto* server = dynamic_cast<PipeServer*>(standin::objectFromHandle(handle));
    if (server == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return server;
}

// The live instances of the pipe: those whose slot lock some open file holds, in this process
// or another.
DWORD liveInstances(const std::string& base) {
    std::string::size_type slash = base.rfind('/');
    std::string dir = base.substr(0, slash);
    std::string prefix = base.substr(slash + 1) + ".";
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        return false;
    }
    DWORD live = 0;
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.size() != prefix.size() + 2 + 5 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(prefix.size() + 2, 5, ".lock") != 0) {
            continue;
        }
        int fd = open((dir + "/" + name).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // A lock is per open file: one held through another descriptor refuses this one.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ++live;
        }
        close(fd);
    }
    closedir(listing);
    return live;
}

// Creation of a pipe's instances, one process at a time, so that "no instance exists yet" still
// holds when the first one is made. Released when the descriptor closes.
int lockPipeCreation(const std::string& base) {
    int fd = open((base + ".create").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        int rc;
        do {
            rc = flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
    }
    return fd;
}

// The socket files of the instances of a pipe, in slot order.
std::vector<std::string> instanceSockets(const std::string& base) {
    std::vector<std::string> sockets;
    std::string::size_type slash = base.rfind('/');
    std::string dir = base.substr(0, slash);
    std::string prefix = base.substr(slash + 1) + ".";
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        return sockets;
    }
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.size() == prefix.size() + 2 + 5 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(prefix.size() + 2, 5, ".sock") == 0) {
            sockets.push_back(dir + "/" + name);
        }
    }
    closedir(listing);
    std::sort(sockets.begin(), sockets.end());
    return sockets;
}

// A new instance in the first free slot; the caller holds the pipe's creation lock.
HANDLE createInstance(const std::string& base, DWORD maxInstances, bool firstInstance) {
    if (firstInstance && liveInstances(base) > 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    for (DWORD slot = 0; slot < maxInstances; ++slot) {
        std::string lockPath = slotPath(base, slot, ".lock");
        int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd < 0) {
            SetLastError(standin::errorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            close(lockFd); // another live instance has this slot
            continue;
        }
        std::string socketPath = slotPath(base, slot, ".sock");
        unlink(socketPath.c_str()); // left by a server that died
        sockaddr_un address;
        int listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (listenFd < 0 || wakeFd < 0 || !fillAddress(socketPath, address) ||
            bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listenFd, 16) != 0) {
            DWORD error = standin::errorFromErrno(errno);
            if (listenFd >= 0) {
                close(listenFd);
            }
            if (wakeFd >= 0) {
                close(wakeFd);
            }
            unlink(socketPath.c_str());
            close(lockFd);
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        return standin::registerHandle(new PipeServer(listenFd, lockFd, wakeFd, socketPath, base));
    }
    SetLastError(ERROR_PIPE_BUSY);
    return INVALID_HANDLE_VALUE;
}

} // namespace

namespace standin {

HANDLE openPipeClient(const wchar_t* name, DWORD access) {
    std::string base = pipeSocketBase(name);
    std::vector<std::string> sockets =
        base.empty() ? std::vector<std::string>() : instanceSockets(base);
    bool sawServer = false;
    for (const std::string& path : sockets) {
        sockaddr_un address;
        if (!fillAddress(path, address)) {
            continue;
        }
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            SetLastError(errorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            // A full backlog is a live server; anything else is a stale file.
            if (errno == EAGAIN) {
                sawServer = true;
            }
            close(fd);
            continue;
        }
        sawServer = true;
        if ((access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0) {
            // The program's pipes are inbound: a client may only write.
            close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        pollfd answer{fd, POLLIN, 0};
        char byte = 0;
        int ready;
        do {
            ready = poll(&answer, 1, answerTimeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 1 && recv(fd, &byte, 1, 0) == 1 && byte == acceptedByte) {
            int flags = fcntl(fd, F_GETFL);
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return registerHandle(new PipeClient(fd));
        }
        close(fd);
    }
    SetLastError(sawServer ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

} // namespace standin

extern "C" HANDLE WINAPI CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode,
                                          DWORD maxInstances, DWORD outBufferSize,
                                          DWORD inBufferSize, DWORD defaultTimeOut,
                                          LPSECURITY_ATTRIBUTES security) {
    (void)outBufferSize, (void)inBufferSize, (void)defaultTimeOut;
    if (!standin::isPipeName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // Only the kind of pipe the program creates: inbound, byte mode, blocking.
    // Remote clients cannot reach a socket anyway, so rejecting them changes nothing here.
    DWORD modeWithoutRemote = pipeMode & ~static_cast<DWORD>(PIPE_REJECT_REMOTE_CLIENTS);
    bool badSecurity =
        security != nullptr && (security->nLength != sizeof *security || security->bInheritHandle ||
                                !standin::isSecurityDescriptor(security->lpSecurityDescriptor));
    bool firstInstance = (openMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0;
    DWORD accessMode =
        openMode & ~static_cast<DWORD>(FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE);
    if (accessMode != PIPE_ACCESS_INBOUND ||
        modeWithoutRemote != (PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT) ||
        maxInstances == 0 || maxInstances > PIPE_UNLIMITED_INSTANCES || badSecurity) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string base = standin::pipeSocketBase(name);
    std::string dir = base.substr(0, base.rfind('/'));
    if (!standin::ensureRootDirectory() || (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int creationFd = lockPipeCreation(base);
    if (creationFd < 0) {
        SetLastError(standin::errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE created = createInstance(base, maxInstances, firstInstance);
    DWORD error = GetLastError();
    close(creationFd);
    SetLastError(error);
    return created;
}
extern "C" BOOL WINAPI GetNamedPipeServerProcessId(HANDLE pipe, PULONG serverProcessId) {
    standin::KObject* object = standin::objectFromHandle(pipe);
    auto* client = dynamic_cast<PipeClient*>(object);
    bool server = dynamic_cast<PipeServer*>(object) != nullptr;
    if ((client == nullptr && !server) || serverProcessId == nullptr) {
        SetLastError(serverProcessId != nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (server) {
        *serverProcessId = static_cast<ULONG>(getpid());
        return TRUE;
    }
    return client->serverProcessId(serverProcessId);
}

extern "C" BOOL WINAPI GetNamedPipeHandleStateW(HANDLE pipe, LPDWORD state,
                                                LPDWORD currentInstances,
                                                LPDWORD maxCollectionCount,
                                                LPDWORD collectDataTimeout, LPWSTR userName,
                                                DWORD userNameSize) {
    (void)userNameSize;
    PipeServer* server = serverFromHandle(pipe);
    if (server == nullptr) {
        return FALSE;
    }
    // Only what the program asks: how many instances the pipe has now.
    if (state != nullptr || currentInstances == nullptr || maxCollectionCount != nullptr ||
        collectDataTimeout != nullptr || userName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *currentInstances = liveInstances(server->base());
    return TRUE;
}

extern "C" BOOL WINAPI ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    PipeServer* server = serverFromHandle(pipe);
    return server ? server->connect(overlapped) : FALSE;
}

extern "C" BOOL WINAPI DisconnectNamedPipe(HANDLE pipe) {
    PipeServer* server = serverFromHandle(pipe);
    return server ? server->disconnect() : FALSE;
}

extern "C" BOOL WINAPI CancelIo(HANDLE file) {
    standin::KObject* object = standin::objectFromHandle(file);
    if (object == nullptr) {
        return FALSE;
    }
    auto* server = dynamic_cast<PipeServer*>(object);
    // Other objects complete their I/O at once: nothing is ever pending on them.
    return server ? server->cancel() : TRUE;
}

extern "C" BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                           LPDWORD transferred, BOOL wait) {
    if (standin::objectFromHandle(file) == nullptr) {
        return FALSE;
    }
    if (overlapped == nullptr || overlapped->hEvent == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD waited = WaitForSingleObject(overlapped->hEvent, wait ? INFINITE : 0);
    if (waited == WAIT_FAILED) {
        return FALSE;
    }
    if (waited == WAIT_TIMEOUT || overlapped->Internal == statusPending) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (transferred) {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (overlapped->Internal != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(overlapped->Internal));
        return FALSE;
    }
    return TRUE;
}
