// Java exceptions left pending by JNI calls: cleared before any further JNI call (which the JNI
// forbids while one is pending), and traced where they tell the administrator something.
#ifndef BRONTEL_JVM_JAVA_EXCEPTION_H
#define BRONTEL_JVM_JAVA_EXCEPTION_H

#include "trace/logger.h"

#include <jni.h>

// Clears a pending exception without a trace; returns 1 when there was one.
int clearJavaException(JNIEnv* env);
// Clears a pending exception and traces `what` followed by the exception's own text
// (Throwable.toString()); with `printStackTrace` the VM also prints the stack trace on the
// standard error stream. Returns 1 when there was an exception.
int traceJavaException(JNIEnv* env, CLogger* logger, const wchar_t* what, int printStackTrace = 0);
// When the pending exception tells that a class's static initializer failed
// (ExceptionInInitializerError), clears it, prints its stack trace on the standard error stream
// and traces `what` followed by the text of the exception the initializer threw; returns 1.
// Any other pending exception stays pending and the result is 0.
int traceInitializerFailure(JNIEnv* env, CLogger* logger, const wchar_t* what);

#endif
