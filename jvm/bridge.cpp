// Calls across the boundary between the service runtime and Java: the manager class's native
// methods, service controls and console events delivered to the service class.
#include "jvm/jvm.h"

#include "jvm/java_exception.h"
#include "jvm/jni_text.h"
#include "registry/service_names.h"

#include <stdlib.h>

namespace {
// Finds a static method of the service class. A failed look-up leaves a Java exception pending,
// which must be cleared before the thread makes another JNI call. Returns 0, or
// BRONTEL_RESULT_CLASS_NOT_FOUND, BRONTEL_RESULT_NO_SERVICE_CONTROL when the method is not
// found; *serviceClass is a local reference or null.
int findServiceMethod(JNIEnv* env, const char* className, const char* name, const char* signature,
                      jclass* serviceClass, jmethodID* method) {
    *method = nullptr;
    *serviceClass = env->FindClass(className);
    if (*serviceClass == nullptr) {
        clearJavaException(env);
        return BRONTEL_RESULT_CLASS_NOT_FOUND;
    }
    *method = env->GetStaticMethodID(*serviceClass, name, signature);
    if (*method == nullptr) {
        clearJavaException(env);
        return BRONTEL_RESULT_NO_SERVICE_CONTROL;
    }
    return 0;
}
} // namespace

JNINativeMethod native_methods[2] = {
    {const_cast<char*>("setServiceState"), const_cast<char*>("(IIIII)V"),
     reinterpret_cast<void*>(Java_com_vantero_core_orb_BrontelManager_setServiceState)},
    {const_cast<char*>("sendServiceControl"), const_cast<char*>("(Ljava/lang/String;I)Z"),
     reinterpret_cast<void*>(Java_com_vantero_core_orb_BrontelManager_sendServiceControl)},
};

extern "C" JNIEXPORT void JNICALL Java_com_vantero_core_orb_BrontelManager_setServiceState(
    JNIEnv* env, jclass receiver, jint state, jint controlsAccepted, jint exitCode, jint checkPoint,
    jint waitHint) {
    (void)env, (void)receiver;
    // A report after the service is over (the process is ending) has nowhere to go.
    CJvmHostLink* host = enterJvmHost();
    if (host != nullptr) {
        host->setServiceStatus(static_cast<DWORD>(state), static_cast<DWORD>(controlsAccepted),
                               static_cast<DWORD>(exitCode), static_cast<DWORD>(checkPoint),
                               static_cast<DWORD>(waitHint));
        leaveJvmHost();
    }
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_vantero_core_orb_BrontelManager_sendServiceControl(
    JNIEnv* env, jclass receiver, jstring serviceName, jint control) {
    (void)receiver;
    wchar_t* name = nullptr;
    if (serviceName != nullptr) {
        name = allocGetTstrFromJstr(env, serviceName);
        if (name == nullptr) {
            // A null name would mean this service: never signal the wrong one.
            return JNI_FALSE;
        }
    }
    int started = 0;
    CJvmHostLink* host = enterJvmHost();
    if (host != nullptr) {
        started = host->relayControl(name, static_cast<DWORD>(control));
        leaveJvmHost();
    }
    free(name);
    return started ? JNI_TRUE : JNI_FALSE;
}

wchar_t* allocGetTstrFromJstr(JNIEnv* env, jstring text) {
    // The UTF-16 characters rather than modified UTF-8, so that surrogate pairs decode.
    jsize units = env->GetStringLength(text);
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (chars == nullptr) {
        clearJavaException(env);
        return static_cast<wchar_t*>(calloc(1, sizeof(wchar_t)));
    }
    wchar_t* result = javaCharsToWide(chars, units);
    env->ReleaseStringChars(text, chars);
    return result;
}

JNIEnv* CJvm::attachThread(int* attached) {
    *attached = 0;
    JNIEnv* threadEnv = nullptr;
    if (javaVm == nullptr) {
        return nullptr;
    }
    // A thread the VM already knows must not be detached afterwards.
    if (javaVm->GetEnv(reinterpret_cast<void**>(&threadEnv), JNI_VERSION_1_2) == JNI_OK) {
        return threadEnv;
    }
    JavaVMAttachArgs attachArgs;
    attachArgs.version = JNI_VERSION_1_2;
    attachArgs.name = nullptr;
    attachArgs.group = nullptr;
    if (javaVm->AttachCurrentThread(reinterpret_cast<void**>(&threadEnv), &attachArgs) != JNI_OK) {
        return nullptr;
    }
    *attached = 1;
    return threadEnv;
}

void CJvm::detachThread(int attached) {
    if (attached) {
        javaVm->DetachCurrentThread();
    }
}

template <typename Call>
int CJvm::withServiceMethod(const char* name, const char* signature, const wchar_t* classUnknown,
                            const wchar_t* methodMissing, Call call) {
    const char* className = serviceClassName.load();
    int attached = 0;
    JNIEnv* threadEnv = className ? attachThread(&attached) : nullptr;
    if (className == nullptr) {
        logger->logMessage(classUnknown);
        return 0;
    }
    if (threadEnv == nullptr) {
        logger->logMessage(L"Could not attach the thread.");
        return 0;
    }
    jclass serviceClass = nullptr;
    jmethodID method = nullptr;
    int found = findServiceMethod(threadEnv, className, name, signature, &serviceClass, &method);
    if (found == BRONTEL_RESULT_CLASS_NOT_FOUND) {
        logger->logMessage(L"Cannot find the BrontelManager class");
    } else if (found == BRONTEL_RESULT_NO_SERVICE_CONTROL) {
        logger->logMessage(methodMissing);
    } else {
        call(threadEnv, serviceClass, method);
    }
    if (serviceClass != nullptr) {
        threadEnv->DeleteLocalRef(serviceClass);
    }
    detachThread(attached);
    return found;
}

void CJvm::sendControlCommand(DWORD code) {
    logger->logEntry(L"CJvm::sendControlCommand", static_cast<int>(code));
    int result = 0;
    if (code == 251) {
        logger->logMessage(L"Generating control break event.");
        typedef jboolean(JNICALL * RaiseSignal_t)(jint);
        FARPROC proc =
            jvmLibrary ? GetProcAddress(jvmLibrary, BRONTEL_RAISE_SIGNAL_EXPORT) : nullptr;
        // The VM's function works only on a thread that the VM knows: on any other thread it
        // crashes the process. Without an attached thread the console event serves instead.
        int attached = 0;
        JNIEnv* threadEnv = proc != nullptr ? attachThread(&attached) : nullptr;
        if (threadEnv != nullptr) {
            reinterpret_cast<RaiseSignal_t>(reinterpret_cast<void (*)()>(proc))(
                BRONTEL_BREAK_SIGNAL);
            detachThread(attached);
        } else if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Failed to generate control break event. ", error);
            logger->logSystemError(error);
        }
    } else if (code == 250) {
        logger->logMessage(L"Generating control c event.");
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Failed to generate control c event. ", error);
            logger->logSystemError(error);
        }
    } else {
        // Until start-up has named the class, nothing in Java could receive the control.
        result = withServiceMethod(
            "serviceControl", "(I)V", L"The service class is not known yet, control dropped.",
            L"serviceControl method does not exist.",
            [&](JNIEnv* threadEnv, jclass serviceClass, jmethodID method) {
                if (host != nullptr) {
                    logger->logMessage(L"Sending service control : ", controlCodeName(code));
                }
                threadEnv->CallStaticVoidMethod(serviceClass, method, static_cast<jint>(code));
                traceJavaException(threadEnv, logger, L"serviceControl ended with an exception: ");
            });
    }
    logger->logExit(L"CJvm::sendControlCommand", result);
}

int CJvm::sendConsoleSignal(DWORD event) {
    logger->logEntry(L"CJvm::sendConsoleSignal", static_cast<int>(event));
    int result = 0;
    withServiceMethod(
        "consoleSignal", "(I)Z", L"The service class is not known yet, console event not offered.",
        L"No console signal handler found.",
        [&](JNIEnv* threadEnv, jclass serviceClass, jmethodID method) {
            jboolean handled =
                threadEnv->CallStaticBooleanMethod(serviceClass, method, static_cast<jint>(event));
            if (traceJavaException(threadEnv, logger, L"consoleSignal ended with an exception: ")) {
                handled = JNI_FALSE;
            }
            result = handled == JNI_TRUE ? 1 : 0;
        });
    logger->logExit(L"CJvm::sendConsoleSignal", result);
    return result;
}
