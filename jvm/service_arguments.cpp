#include "jvm/service_arguments.h"

#include "jvm/jni_text.h"

#include <wchar.h>

jobjectArray buildServiceArguments(JNIEnv* env, const wchar_t* args, int count) {
    jstring empty = env->NewStringUTF("");
    jclass stringClass = empty ? env->FindClass("java/lang/String") : nullptr;
    jobjectArray array = stringClass ? env->NewObjectArray(count, stringClass, empty) : nullptr;
    const wchar_t* next = args;
    for (int i = 0; array != nullptr && i < count; ++i) {
        jstring argument = newJavaString(env, next);
        if (argument == nullptr) {
            env->DeleteLocalRef(array);
            array = nullptr;
            break;
        }
        env->SetObjectArrayElement(array, i, argument);
        env->DeleteLocalRef(argument);
        next += wcslen(next) + 1;
    }
    if (stringClass != nullptr) {
        env->DeleteLocalRef(stringClass);
    }
    if (empty != nullptr) {
        env->DeleteLocalRef(empty);
    }
    return array;
}
