// The VM's own dump of all Java threads, as its break signal produces it: written by the VM's
// signal thread wherever the VM writes (the verboseOutput file through its output hook, else
// the process's standard output).
#include "jvm/jvm.h"
#include "platform/handles.h"

#include <jvmti.h>
#include <string.h>

namespace {

// Without the tool interface nothing says when the VM has finished writing; this long is given.
const DWORD unconfirmedDumpMs = 2000;

// Posted by the VM's signal thread once it has written the whole dump.
void JNICALL onDataDump(jvmtiEnv* jvmti) {
    void* done = nullptr;
    if (jvmti->GetEnvironmentLocalStorage(&done) == JVMTI_ERROR_NONE && done != nullptr) {
        SetEvent(static_cast<HANDLE>(done));
    }
}

} // namespace

int CJvm::dumpThreads(DWORD timeoutMs) {
    logger->logEntry(L"CJvm::dumpThreads");
    typedef jboolean(JNICALL * RaiseSignal_t)(jint);
    FARPROC proc = jvmLibrary ? GetProcAddress(jvmLibrary, BRONTEL_RAISE_SIGNAL_EXPORT) : nullptr;
    int attached = 0;
    // The VM's function works only on a thread that the VM knows.
    JNIEnv* threadEnv = proc != nullptr ? attachThread(&attached) : nullptr;
    if (threadEnv == nullptr) {
        logger->logMessage(proc == nullptr ? L"The JVM library has no break-signal function."
                                           : L"Could not attach the thread.");
        logger->logExit(L"CJvm::dumpThreads", JVM_DUMP_NOT_ASKED);
        return JVM_DUMP_NOT_ASKED;
    }
    CWinHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    jvmtiEnv* jvmti = nullptr;
    if (done.isOpen() &&
        javaVm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_0) == JNI_OK) {
        jvmtiEventCallbacks callbacks;
        memset(&callbacks, 0, sizeof callbacks);
        callbacks.DataDumpRequest = onDataDump;
        if (jvmti->SetEnvironmentLocalStorage(done.get()) != JVMTI_ERROR_NONE ||
            jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) !=
                JVMTI_ERROR_NONE ||
            jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_DATA_DUMP_REQUEST, nullptr) !=
                JVMTI_ERROR_NONE) {
            jvmti->DisposeEnvironment();
            jvmti = nullptr;
        }
    } else {
        jvmti = nullptr;
    }

    int result = JVM_DUMP_NOT_ASKED;
    int raised =
        reinterpret_cast<RaiseSignal_t>(reinterpret_cast<void (*)()>(proc))(BRONTEL_BREAK_SIGNAL);
    // The VM blocks its break signal on every thread it knows but its own signal thread: raised
    // here, the signal reaches the process only once this thread is detached again.
    detachThread(attached);
    if (raised) {
        result = JVM_DUMP_UNCONFIRMED;
        if (jvmti != nullptr) {
            if (WaitForSingleObject(done.get(), timeoutMs) == WAIT_OBJECT_0) {
                result = JVM_DUMP_WRITTEN;
            } else {
                logger->logMessage(L"The Java VM did not finish its thread dump within ms ",
                                   timeoutMs);
            }
        } else if (done.isOpen()) {
            WaitForSingleObject(done.get(),
                                unconfirmedDumpMs < timeoutMs ? unconfirmedDumpMs : timeoutMs);
        }
    } else {
        logger->logMessage(L"The Java VM refused its break signal; no thread dump.");
    }
    if (jvmti != nullptr) {
        // The tool interface answers only threads that the VM knows.
        threadEnv = attachThread(&attached);
        if (threadEnv != nullptr) {
            jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_DATA_DUMP_REQUEST, nullptr);
            jvmti->DisposeEnvironment();
            detachThread(attached);
        }
    }
    // A dump still under way may yet signal the event: it is left open then, never closed.
    if (result != JVM_DUMP_WRITTEN && jvmti != nullptr) {
        done.release();
    }
    logger->logExit(L"CJvm::dumpThreads", result);
    return result;
}
