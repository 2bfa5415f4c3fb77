// Mutexes, events and threads over pthreads, with Windows wait semantics and time-outs.
#include "kobject.h"

#include <chrono>
#include <ctime>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Waits on `cv` until `ready()` or the time-out; true when ready.
template <class Predicate>
bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD ms,
             Predicate ready) {
    if (ms == INFINITE) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

// A Windows mutex: owned by a thread, recursive, released by its owner only.
class MutexObject : public standin::KObject {
  public:
    MutexObject() : KObject(Mutex) {}
    DWORD wait(DWORD ms) override {
        DWORD self = GetCurrentThreadId();
        std::unique_lock<std::mutex> lock(lock_);
        if (!waitFor(cv_, lock, ms, [&] { return count_ == 0 || owner_ == self; })) {
            return WAIT_TIMEOUT;
        }
        owner_ = self;
        ++count_;
        return WAIT_OBJECT_0;
    }
    bool release() {
        std::lock_guard<std::mutex> lock(lock_);
        if (count_ == 0 || owner_ != GetCurrentThreadId()) {
            return false;
        }
        if (--count_ == 0) {
            owner_ = 0;
            cv_.notify_one();
        }
        return true;
    }

  private:
    std::mutex lock_;
    std::condition_variable cv_;
    DWORD owner_ = 0;
    unsigned count_ = 0;
};

class EventObject : public standin::KObject {
  public:
    EventObject(bool manualReset, bool signalled)
        : KObject(Event), manualReset_(manualReset), signalled_(signalled) {}
    DWORD wait(DWORD ms) override {
        std::unique_lock<std::mutex> lock(lock_);
        if (!waitFor(cv_, lock, ms, [&] { return signalled_; })) {
            return WAIT_TIMEOUT;
        }
        if (!manualReset_) {
            signalled_ = false;
        }
        return WAIT_OBJECT_0;
    }
    void set() {
        std::lock_guard<std::mutex> lock(lock_);
        signalled_ = true;
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(lock_);
        signalled_ = false;
    }

  private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool manualReset_;
    bool signalled_;
};

// Shared between the handle and the running thread, so closing the handle early is safe.
struct ThreadState {
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    DWORD exitCode = STILL_ACTIVE;
};

class ThreadObject : public standin::KObject {
  public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state)
        : KObject(Thread), state_(std::move(state)) {}
    DWORD wait(DWORD ms) override {
        std::unique_lock<std::mutex> lock(state_->lock);
        return waitFor(state_->cv, lock, ms, [&] { return state_->done; }) ? WAIT_OBJECT_0
                                                                           : WAIT_TIMEOUT;
    }
    DWORD exitCode() {
        std::lock_guard<std::mutex> lock(state_->lock);
        return state_->exitCode;
    }

  private:
    std::shared_ptr<ThreadState> state_;
};

struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    std::shared_ptr<ThreadState> state;
    std::mutex idLock;
    std::condition_variable idReady;
    DWORD id = 0;
};

void* threadMain(void* argument) {
    auto* start = static_cast<ThreadStart*>(argument);
    // Take copies first: the creator frees `start` as soon as the id is published.
    LPTHREAD_START_ROUTINE routine = start->routine;
    LPVOID parameter = start->parameter;
    std::shared_ptr<ThreadState> state = start->state;
    {
        std::lock_guard<std::mutex> lock(start->idLock);
        start->id = GetCurrentThreadId();
        start->idReady.notify_all();
    }
    DWORD code = routine(parameter);
    {
        std::lock_guard<std::mutex> lock(state->lock);
        state->exitCode = code;
        state->done = true;
        state->cv.notify_all();
    }
    return nullptr;
}

} // namespace

extern "C" HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner,
                                      LPCWSTR name) {
    (void)security;
    if (name != nullptr) {
        // Named mutexes are never used by the program.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* mutex = new MutexObject();
    if (initialOwner) {
        mutex->wait(INFINITE);
    }
    return standin::registerHandle(mutex);
}

extern "C" BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    auto* object = standin::handleAs<MutexObject>(mutex, standin::KObject::Mutex);
    if (object == nullptr) {
        return FALSE;
    }
    if (!object->release()) {
        SetLastError(288); // ERROR_NOT_OWNER
        return FALSE;
    }
    return TRUE;
}

extern "C" HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                      BOOL initialState, LPCWSTR name) {
    (void)security;
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return standin::registerHandle(new EventObject(manualReset != FALSE, initialState != FALSE));
}

extern "C" BOOL WINAPI SetEvent(HANDLE event) {
    auto* object = standin::handleAs<EventObject>(event, standin::KObject::Event);
    if (object == nullptr) {
        return FALSE;
    }
    object->set();
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE event) {
    auto* object = standin::handleAs<EventObject>(event, standin::KObject::Event);
    if (object == nullptr) {
        return FALSE;
    }
    object->reset();
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    standin::KObject* found = standin::objectFromHandle(object);
    if (found == nullptr) {
        return WAIT_FAILED;
    }
    return found->wait(milliseconds);
}

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                      LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                      LPDWORD threadId) {
    (void)security;
    if (start == nullptr || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    auto* launch = new ThreadStart{start, parameter, state, {}, {}, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attributes, stackSize);
    }
    pthread_t thread;
    int rc = pthread_create(&thread, &attributes, threadMain, launch);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete launch;
        SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : standin::errorFromErrno(rc));
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> lock(launch->idLock);
        launch->idReady.wait(lock, [&] { return launch->id != 0; });
        if (threadId) {
            *threadId = launch->id;
        }
    }
    // The thread took its copies of the start values before publishing its id.
    delete launch;
    return standin::registerHandle(new ThreadObject(state));
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto* object = standin::handleAs<ThreadObject>(thread, standin::KObject::Thread);
    if (object == nullptr || exitCode == nullptr) {
        return FALSE;
    }
    *exitCode = object->exitCode();
    return TRUE;
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

extern "C" ULONGLONG WINAPI GetTickCount64(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000ull +
           static_cast<ULONGLONG>(now.tv_nsec) / 1000000ull;
}

extern "C" DWORD WINAPI GetCurrentThreadId(void) {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

extern "C" DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}
