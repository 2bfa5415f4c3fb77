// Runs the configured Java service class: its arguments from the stored command line, the
// native methods on the manager class, the two static methods, and serviceMain itself.
#include "jvm/jvm.h"

#include "jvm/command_line.h"
#include "jvm/embedded_classes.h"
#include "jvm/java_exception.h"
#include "jvm/jni_text.h"
#include "jvm/service_arguments.h"
#include "registry/registry.h"

#include <stdlib.h>

#include <string>

#define BRONTEL_MANAGER_CLASS "com/vantero/core/orb/BrontelManager"

wchar_t* CJvm::dotsToSlashes(wchar_t* text) {
    for (wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'.') {
            *p = L'/';
        }
    }
    return text;
}

wchar_t* CJvm::getCommandLineArgs(int* count) {
    // Used literally: %NAME% in the parameters is the service's business, not ours.
    const wchar_t* value = settings->text(CFG_COMMAND_LINE);
    logger->logEntry(L"CJvm::getCommandLineArgs");
    *count = 0;
    if (value == nullptr) {
        logger->logExit(L"CJvm::getCommandLineArgs", 0);
        return nullptr;
    }
    wchar_t* buffer = splitCommandLine(value, count);
    if (buffer == nullptr) {
        logger->logMessage(L"Memory error in CJvm::getCommandLineArgs");
    }
    logger->logExit(L"CJvm::getCommandLineArgs", *count);
    return buffer;
}

void CJvm::traceClassPath(JNIEnv* jniEnv) {
    // What the VM searched, as it understood the options: the usual cause is right here.
    wchar_t* text = nullptr;
    jclass system = jniEnv->FindClass("java/lang/System");
    jmethodID getProperty =
        system ? jniEnv->GetStaticMethodID(system, "getProperty",
                                           "(Ljava/lang/String;)Ljava/lang/String;")
               : nullptr;
    jstring name = getProperty ? jniEnv->NewStringUTF("java.class.path") : nullptr;
    jstring value =
        name ? static_cast<jstring>(jniEnv->CallStaticObjectMethod(system, getProperty, name))
             : nullptr;
    clearJavaException(jniEnv);
    if (value != nullptr) {
        text = allocGetTstrFromJstr(jniEnv, value);
        jniEnv->DeleteLocalRef(value);
    }
    logger->logMessage(L"The class path is: ", text ? text : L"(not set)");
    free(text);
    if (name != nullptr) {
        jniEnv->DeleteLocalRef(name);
    }
    if (system != nullptr) {
        jniEnv->DeleteLocalRef(system);
    }
}

int CJvm::registerNativeMethods(JNIEnv* jniEnv) {
    jclass manager = findOrDefineClass(jniEnv, BRONTEL_MANAGER_CLASS, logger);
    if (manager == nullptr) {
        clearJavaException(jniEnv);
        logger->logMessage(L"Cannot find BrontelManager class.");
        traceClassPath(jniEnv);
        return BRONTEL_RESULT_MANAGER_CLASS_NOT_FOUND;
    }
    int result = 0;
    if (jniEnv->RegisterNatives(manager, native_methods, 2) != 0) {
        clearJavaException(jniEnv);
        logger->logMessage(L"Unable to register methods for BrontelManager class.");
        result = BRONTEL_RESULT_NATIVES_NOT_REGISTERED;
    }
    if (result == 0 && jniEnv->RegisterNatives(manager, trace_method, 1) != 0) {
        // A bridge class from an older brontel.jar has no trace method; nothing is lost.
        clearJavaException(jniEnv);
    }
    if (result == 0 && jniEnv->RegisterNatives(manager, traces_arguments_method, 1) != 0) {
        // Nor this one: its callers then trace no arguments.
        clearJavaException(jniEnv);
    }
    jniEnv->DeleteLocalRef(manager);
    return result;
}

int CJvm::runServiceMain() {
    int count = 0;
    wchar_t* args = getCommandLineArgs(&count);
    logger->logEntry(L"CJvm::runServiceMain");
    int result = 0;
    jclass serviceClass = nullptr;
    jobjectArray javaArgs = nullptr;
    jmethodID serviceMainId = nullptr;

    const wchar_t* configuredClass = settings->text(CFG_SERVICE_CLASS, logger, 1);
    std::wstring classText = configuredClass != nullptr ? configuredClass : L"";
    wchar_t* className = configuredClass != nullptr ? &classText[0] : nullptr;
    if (className == nullptr) {
        logger->logMessage(L"No Java class implementing service routines was specified.");
        result = BRONTEL_RESULT_NO_SERVICE_CLASS;
    }
    if (result == 0) {
        javaArgs = buildServiceArguments(env, args ? args : L"", args ? count : 0);
        if (javaArgs == nullptr) {
            traceJavaException(env, logger, L"Cannot build the arguments of serviceMain: ");
            logger->logMessage(L"Memory error in CJvm::runServiceMain");
            result = BRONTEL_RESULT_OUT_OF_MEMORY;
        }
    }
    if (result == 0) {
        dotsToSlashes(className);
        char* name = wideToModifiedUtf8(className);
        if (name == nullptr) {
            logger->logMessage(L"Memory error in CJvm::runServiceMain");
            result = BRONTEL_RESULT_OUT_OF_MEMORY;
        } else {
            free(serviceClassName.exchange(name));
        }
    }
    if (result == 0) {
        // Before the service class is looked up: FindClass runs its static initializer, which
        // may already report a state.
        result = registerNativeMethods(env);
    }
    if (result == 0) {
        serviceClass = findOrDefineClass(env, serviceClassName.load(), logger);
        if (serviceClass == nullptr) {
            std::wstring what = L"The static initializer of the class ";
            what += className;
            what += L" ended with an exception: ";
            if (traceInitializerFailure(env, logger, what.c_str())) {
                result = BRONTEL_RESULT_JAVA_EXCEPTION;
            } else {
                traceJavaException(env, logger, L"Class lookup failed: ");
                logger->logMessage(L"Cannot find the class ", className);
                traceClassPath(env);
                result = BRONTEL_RESULT_CLASS_NOT_FOUND;
            }
        }
    }
    if (result == 0) {
        // A failed lookup leaves NoSuchMethodError pending: clear it before the next JNI call.
        serviceMainId =
            env->GetStaticMethodID(serviceClass, "serviceMain", "([Ljava/lang/String;)V");
        if (serviceMainId == nullptr) {
            clearJavaException(env);
            logger->logMessage(L"serviceMain", L" method does not exist in class ", className);
            result = BRONTEL_RESULT_NO_SERVICE_MAIN;
        }
    }
    if (result == 0) {
        jmethodID serviceControlId = env->GetStaticMethodID(serviceClass, "serviceControl", "(I)V");
        if (serviceControlId == nullptr) {
            clearJavaException(env);
            logger->logMessage(L"serviceControl", L" method does not exist in class ", className);
            result = BRONTEL_RESULT_NO_SERVICE_CONTROL;
        }
    }
    if (result == 0) {
        // While Java runs, its reports are the program's business, not the story of a failure
        // told on the console. (The service thread's own story, for the event log, goes on.)
        int pause = logger->getKeepingScope() == KEEP_ALL_THREADS;
        logger->pauseKeeping(pause);
        env->CallStaticVoidMethod(serviceClass, serviceMainId, javaArgs);
        logger->pauseKeeping(0);
        // An exception escaping serviceMain ends the service abnormally; say so and why.
        if (traceJavaException(env, logger, L"serviceMain ended with an exception: ", 1)) {
            result = BRONTEL_RESULT_JAVA_EXCEPTION;
        }
    }

    if (serviceClass != nullptr) {
        env->DeleteLocalRef(serviceClass);
    }
    if (javaArgs != nullptr) {
        env->DeleteLocalRef(javaArgs);
    }
    free(args);
    logger->logExit(L"CJvm::runServiceMain", result);
    return result;
}
