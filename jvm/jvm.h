// The host of the one Java VM of a service process: loads the JVM library, creates the VM,
// runs the service class, and delivers controls and console events to Java.
#ifndef BRONTEL_JVM_JVM_H
#define BRONTEL_JVM_JVM_H

#include "jvm/host_link.h"
#include "platform/result_codes.h"
#include "settings/service_settings.h"
#include "trace/logger.h"

#include <jni.h>
#include <stdio.h>

#include <atomic>

class CJvm {
  public:
    // `host`: the service the VM runs for (may be null where nothing needs it). `settings`: the
    // service's, read when the run began; they outlive the host.
    CJvm(const wchar_t* serviceName, CLogger* logger, CJvmHostLink* host,
         const CServiceSettings* settings);
    ~CJvm();
    CJvm(const CJvm&) = delete;
    CJvm& operator=(const CJvm&) = delete;

    int initialize();
    int runServiceMain();
    void sendControlCommand(DWORD code);
    int sendConsoleSignal(DWORD event);
    // Has the VM dump all Java threads and waits up to timeoutMs for it to finish:
    // JVM_DUMP_WRITTEN, JVM_DUMP_UNCONFIRMED when it was asked for but its end could not be
    // confirmed, or JVM_DUMP_NOT_ASKED when the VM could not be asked (no break-signal function, or
    // the VM refuses it, as under -Xrs).
    int dumpThreads(DWORD timeoutMs);

  protected:
    void destroyJVM();
    int loadJVMDll();
    int getDefaultArgs();
    // The VM's options; null with `failure` set (out of memory, or an option the ANSI code page
    // cannot hold) when they cannot all be given.
    JavaVMInitArgs* createInitArgs(int* failure);
    wchar_t* getCommandLineArgs(int* count);
    wchar_t* dotsToSlashes(wchar_t* text);
    int registerNativeMethods(JNIEnv* env);
    // Traces the VM's effective class path, for a class that was not found.
    void traceClassPath(JNIEnv* env);

  private:
    CLogger* logger;
    const wchar_t* serviceName;
    CJvmHostLink* host;
    const CServiceSettings* settings;
    HMODULE jvmLibrary;
    JavaVM* javaVm;
    JNIEnv* env;
    // Set once by runServiceMain on the VM's main thread and read by the threads that deliver
    // controls and console events, which drop a delivery while it is still unset.
    std::atomic<char*> serviceClassName;

    // The calling thread's JNI environment for one delivery: attaches the thread unless it is
    // already a VM thread. *attached tells detachThread whether to detach it again.
    JNIEnv* attachThread(int* attached);
    void detachThread(int attached);
    // Calls `call` with the service class's static method on an attached thread, tracing why
    // it could not. Returns 0, or the look-up's failure (findServiceMethod).
    template <typename Call>
    int withServiceMethod(const char* name, const char* signature, const wchar_t* classUnknown,
                          const wchar_t* methodMissing, Call call);
};

#define JVM_DUMP_NOT_ASKED 0
#define JVM_DUMP_WRITTEN 1
#define JVM_DUMP_UNCONFIRMED 2

typedef jint(JNICALL* CreateJavaVM_t)(JavaVM** vm, void** env, void* args);
typedef jint(JNICALL* GetDefaultJavaVMInitArgs_t)(void* args);
extern CreateJavaVM_t JNI_CreateJavaVM_proc;
extern GetDefaultJavaVMInitArgs_t JNI_GetDefaultJavaVMInitArgs_proc;
extern wchar_t* g_pVerboseOutputFile;
extern FILE* g_fpVerboseFileHandle;
extern JNINativeMethod native_methods[2];
// The optional natives of the bridge class, each registered apart from the two above and from
// each other, so that a bridge class from an older brontel.jar keeps those it has.
extern JNINativeMethod trace_method[1];
extern JNINativeMethod traces_arguments_method[1];

extern "C" jint JNICALL my_vfprintf(FILE* stream, const char* format, va_list args);
extern "C" JNIEXPORT void JNICALL Java_com_vantero_core_orb_BrontelManager_setServiceState(
    JNIEnv* env, jclass receiver, jint state, jint controlsAccepted, jint exitCode, jint checkPoint,
    jint waitHint);
extern "C" JNIEXPORT jboolean JNICALL Java_com_vantero_core_orb_BrontelManager_sendServiceControl(
    JNIEnv* env, jclass receiver, jstring serviceName, jint control);
extern "C" JNIEXPORT void JNICALL Java_com_vantero_core_orb_BrontelManager_trace(JNIEnv* env,
                                                                                 jclass receiver,
                                                                                 jstring text);
extern "C" JNIEXPORT jboolean JNICALL
Java_com_vantero_core_orb_BrontelManager_tracesArguments(JNIEnv* env, jclass receiver);
// A new wide string (free() it) with the characters of a Java string; null only when out of
// memory.
wchar_t* allocGetTstrFromJstr(JNIEnv* env, jstring text);

#endif
