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

namespace {
// Throwable.toString() of `thrown` (malloc; free() it); null when it cannot be had. Called with
// no exception pending, and leaves none.
wchar_t* throwableText(JNIEnv* env, jobject thrown) {
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
    if (throwable != nullptr) {
        env->DeleteLocalRef(throwable);
    }
    return text;
}

// The initializer's own exception, which ExceptionInInitializerError carries as its cause; a
// local reference, or null.
jobject initializerCause(JNIEnv* env, jthrowable thrown) {
    jclass failure = env->FindClass("java/lang/ExceptionInInitializerError");
    jobject cause = nullptr;
    if (failure != nullptr && env->IsInstanceOf(thrown, failure)) {
        jmethodID getCause = env->GetMethodID(failure, "getCause", "()Ljava/lang/Throwable;");
        cause = getCause ? env->CallObjectMethod(thrown, getCause) : nullptr;
        if (cause == nullptr) {
            // No cause to show: the error itself stands for it.
            cause = env->NewLocalRef(thrown);
        }
    }
    clearJavaException(env);
    if (failure != nullptr) {
        env->DeleteLocalRef(failure);
    }
    return cause;
}

// `what` followed by the throwable's text, in the trace.
void traceThrowable(JNIEnv* env, CLogger* logger, const wchar_t* what, jobject thrown) {
    wchar_t* text = throwableText(env, thrown);
    logger->logMessage(what, text ? text : L"(no description)");
    free(text);
}
} // namespace

int traceJavaException(JNIEnv* env, CLogger* logger, const wchar_t* what, int printStackTrace) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) {
        return 0;
    }
    if (printStackTrace) {
        env->ExceptionDescribe();
    }
    env->ExceptionClear();
    traceThrowable(env, logger, what, thrown);
    env->DeleteLocalRef(thrown);
    return 1;
}

int traceInitializerFailure(JNIEnv* env, CLogger* logger, const wchar_t* what) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) {
        return 0;
    }
    // Looking at the exception takes JNI calls, which may not run while it is pending.
    env->ExceptionClear();
    jobject cause = initializerCause(env, thrown);
    if (cause == nullptr) {
        env->Throw(thrown);
        env->DeleteLocalRef(thrown);
        return 0;
    }
    env->Throw(thrown);
    env->ExceptionDescribe();
    env->ExceptionClear();
    traceThrowable(env, logger, what, cause);
    env->DeleteLocalRef(cause);
    env->DeleteLocalRef(thrown);
    return 1;
}
