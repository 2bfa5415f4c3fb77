// The Java VM host's start-up: loads the JVM library named in the service's settings, checks
// that it speaks JNI 1.2, builds the VM options and creates the VM.
#include "jvm/jvm.h"

#include "jvm/verbose_output.h"
#include "jvm/vm_options.h"
#include "platform/textutil.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

CreateJavaVM_t JNI_CreateJavaVM_proc = nullptr;
GetDefaultJavaVMInitArgs_t JNI_GetDefaultJavaVMInitArgs_proc = nullptr;

namespace {
// The option through which the VM hands its diagnostic output to my_vfprintf.
char vfprintfOption[] = "vfprintf";

void freeInitArgs(JavaVMInitArgs* args) {
    for (jint i = 0; i < args->nOptions; ++i) {
        if (args->options[i].optionString != vfprintfOption) {
            free(args->options[i].optionString);
        }
    }
    free(args->options);
    free(args);
}
} // namespace

CJvm::CJvm(const wchar_t* serviceName, CLogger* logger, CJvmHostLink* host,
           const CServiceSettings* settings)
    : logger(logger), serviceName(serviceName), host(host), settings(settings), jvmLibrary(nullptr),
      javaVm(nullptr), env(nullptr), serviceClassName(nullptr) {}

CJvm::~CJvm() {
    destroyJVM();
    free(serviceClassName.exchange(nullptr));
}

void CJvm::destroyJVM() {
    // The VM cannot be created twice in one process, so it is left to end with the process.
    javaVm = nullptr;
}

int CJvm::initialize() {
    logger->logEntry(L"CJvm::initialize");
    // Only one VM per process, but never leak or leave a stale path behind.
    const wchar_t* verbose = settings->text(CFG_VERBOSE_OUTPUT);
    if (g_pVerboseOutputFile == nullptr && verbose != nullptr) {
        g_pVerboseOutputFile = copyText(verbose);
    }
    prepareVerboseOutput(logger);

    int result = loadJVMDll();
    if (result == 0) {
        result = getDefaultArgs();
    }
    if (result == 0) {
        JavaVMInitArgs* args = createInitArgs(&result);
        if (args != nullptr) {
            jint rc = JNI_CreateJavaVM_proc(&javaVm, reinterpret_cast<void**>(&env), args);
            if (rc < 0) {
                logger->logMessage(L"Failed to create Java VM rc=", static_cast<DWORD>(rc));
                javaVm = nullptr;
                env = nullptr;
                result = BRONTEL_RESULT_VM_NOT_CREATED;
            }
            // The record stays allocated: the JNI does not promise that the VM copies it.
        }
    }
    logger->logExit(L"CJvm::initialize", result);
    return result;
}

int CJvm::getDefaultArgs() {
    logger->logEntry(L"CJvm::getDefaultArgs");
    // Only establishes that the library accepts version 1.2; the defaults are not used.
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    args.version = JNI_VERSION_1_2;
    args.nOptions = 0;
    args.options = nullptr;
    args.ignoreUnrecognized = JNI_FALSE;
    int result = 0;
    jint rc = JNI_GetDefaultJavaVMInitArgs_proc(&args);
    if (rc != 0) {
        logger->logMessage(L"JNI_GetDefaultJavaVMInitArgs failed!", static_cast<DWORD>(rc));
        result = BRONTEL_RESULT_JNI_VERSION;
    }
    logger->logExit(L"CJvm::getDefaultArgs", result);
    return result;
}

JavaVMInitArgs* CJvm::createInitArgs(int* failure) {
    logger->logEntry(L"CJvm::createInitArgs");
    JavaVMInitArgs* args = static_cast<JavaVMInitArgs*>(calloc(1, sizeof(JavaVMInitArgs)));
    int failed = args == nullptr;
    if (!failed) {
        args->version = JNI_VERSION_1_2;
        args->ignoreUnrecognized = JNI_TRUE;
        args->nOptions = 0;
        args->options = nullptr;
    }
    // The options run from JVMOption1 up to the first missing number.
    int optionCount = settings->numberedCount(CFG_JVM_OPTION);
    for (int n = 1; !failed && n <= optionCount; ++n) {
        const wchar_t* value = settings->numbered(CFG_JVM_OPTION, n);
        char* option = convertToMBCS(value);
        if (option == nullptr && GetLastError() == ERROR_NO_UNICODE_TRANSLATION) {
            // Named, never shown: the value may be a password, and this goes into the event log.
            std::wstring which = describeVmOption(n, value);
            logger->logMessage(L"JVM option not representable in the ANSI code page: ",
                               which.c_str());
            *failure = BRONTEL_RESULT_VM_NOT_CREATED;
            failed = 1;
        } else if (appendVmOption(args, option, nullptr) != 0) {
            failed = 1;
        }
    }
    if (!failed &&
        addProgramOptions(args, settings->text(CFG_SERVICE_CLASS), settings->text(CFG_COMMAND_LINE),
                          settings->text(CFG_STOP_TIMEOUT), logger) != 0) {
        failed = 1;
    }
    if (!failed && g_pVerboseOutputFile != nullptr) {
        JavaVMOption* grown = static_cast<JavaVMOption*>(
            realloc(args->options, static_cast<size_t>(args->nOptions + 1) * sizeof(JavaVMOption)));
        if (grown == nullptr) {
            failed = 1;
        } else {
            args->options = grown;
            args->options[args->nOptions].optionString = vfprintfOption;
            args->options[args->nOptions].extraInfo = reinterpret_cast<void*>(my_vfprintf);
            ++args->nOptions;
        }
    }
    if (failed) {
        // A VM started without some of its options would not be the configured service.
        if (*failure == 0) {
            *failure = BRONTEL_RESULT_OUT_OF_MEMORY;
            logger->logMessage(L"Memory error in CJvm::createInitArgs");
        }
        if (args != nullptr) {
            freeInitArgs(args);
        }
        args = nullptr;
    }
    logger->logExit(L"CJvm::createInitArgs", 0);
    return args;
}
