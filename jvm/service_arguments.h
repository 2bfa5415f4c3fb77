// The argument array that serviceMain receives, built on the thread that calls it.
#ifndef BRONTEL_JVM_SERVICE_ARGUMENTS_H
#define BRONTEL_JVM_SERVICE_ARGUMENTS_H

#include <jni.h>

// A String[] of exactly `count` strings taken one after another from `args` (each ends with
// its terminator); a local reference, or null when the VM could not create it. Every other
// local reference it makes is deleted again: this thread runs for the life of the VM.
jobjectArray buildServiceArguments(JNIEnv* env, const wchar_t* args, int count);

#endif
