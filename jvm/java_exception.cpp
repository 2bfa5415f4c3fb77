#include "jvm/java_exception.h"

#include "jvm/jni_text.h"
#include "jvm/jvm.h"

#include <stdlib.h>

int clearJavaException(JNIEnv* env) {
    if (!env->ExceptionCheck()) {
        return 0;
    }
    env->ExceptionClear();
    return 1;
}

int traceJavaException(JNIEnv* env, CLogger* logger, const wchar_t* what, int printStackTrace) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) {
        return 0;
    }
    if (printStackTrace) {
        env->ExceptionDescribe();
    }
    env->ExceptionClear();
    wchar_t* text = nullptr;
    jclass throwable = env->FindClass("java/lang/Throwable");
    jmethodID toString =
        throwable ? env->GetMethodID(throwable, "toString", "()Ljava/lang/String;") : nullptr;
    jstring description =
        toString ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
    // toString() itself may throw; its text is then simply unknown.
    clearJavaException(env);
    if (description != nullptr) {
        text = allocGetTstrFromJstr(env, description);
        env->DeleteLocalRef(description);
    }
    logger->logMessage(what, text ? text : L"(no description)");
    free(text);
    if (throwable != nullptr) {
        env->DeleteLocalRef(throwable);
    }
    env->DeleteLocalRef(thrown);
    return 1;
}
