#include "jvm/embedded_classes.h"

#include "jvm/java_exception.h"

#include <stdlib.h>
#include <string.h>

namespace {
// The class itself, or a class nested in it (Name$Inner, Name$1).
int belongsTo(const char* candidate, const char* name) {
    size_t length = strlen(name);
    return strncmp(candidate, name, length) == 0 &&
           (candidate[length] == '\0' || candidate[length] == '$');
}

jobject systemClassLoader(JNIEnv* env) {
    jclass loaderClass = env->FindClass("java/lang/ClassLoader");
    jmethodID get = loaderClass ? env->GetStaticMethodID(loaderClass, "getSystemClassLoader",
                                                         "()Ljava/lang/ClassLoader;")
                                : nullptr;
    jobject loader = get ? env->CallStaticObjectMethod(loaderClass, get) : nullptr;
    if (loaderClass != nullptr) {
        env->DeleteLocalRef(loaderClass);
    }
    return loader;
}

// Class names are ASCII; a wide copy for the trace.
void traceName(CLogger* logger, const wchar_t* text, const char* name) {
    wchar_t wide[256];
    size_t i = 0;
    for (; name[i] != '\0' && i + 1 < sizeof wide / sizeof wide[0]; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    wide[i] = L'\0';
    logger->logMessage(text, wide);
}
} // namespace

jclass findOrDefineClass(JNIEnv* env, const char* name, CLogger* logger) {
    jclass found = env->FindClass(name);
    if (found != nullptr) {
        return found;
    }
    int carried = 0;
    for (size_t i = 0; i < embeddedClassCount; ++i) {
        carried |= belongsTo(embeddedClasses[i].name, name);
    }
    if (!carried) {
        return nullptr;
    }
    clearJavaException(env);
    jobject loader = systemClassLoader(env);
    if (loader == nullptr) {
        traceJavaException(env, logger, L"The system class loader is not available: ");
        return nullptr;
    }
    jclass defined = nullptr;
    int failed = 0;
    for (size_t i = 0; i < embeddedClassCount && !failed; ++i) {
        const EmbeddedClass& c = embeddedClasses[i];
        if (!belongsTo(c.name, name)) {
            continue;
        }
        jclass one = env->DefineClass(c.name, loader, reinterpret_cast<const jbyte*>(c.bytes),
                                      static_cast<jsize>(c.size));
        if (one == nullptr) {
            traceJavaException(env, logger,
                               L"The program's own copy of a class cannot be defined: ");
            traceName(logger, L"The class: ", c.name);
            failed = 1;
        } else if (strcmp(c.name, name) == 0) {
            defined = one;
        } else {
            env->DeleteLocalRef(one);
        }
    }
    env->DeleteLocalRef(loader);
    if (failed && defined != nullptr) {
        env->DeleteLocalRef(defined);
        defined = nullptr;
    }
    if (defined != nullptr) {
        traceName(logger, L"The class path lacks the class; the program's own copy is used: ",
                  name);
    }
    return defined;
}
