// The exit hook and the class path of an executable jar, added to the administrator's options.
#include "jvm/vm_options.h"

#include "jvm/command_line.h"
#include "jvm/jvm.h"
#include "platform/textutil.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {
const char classPathPrefix[] = "-Djava.class.path=";

int isProgramService(const wchar_t* serviceClass) {
    if (serviceClass == nullptr) {
        return 0;
    }
    const wchar_t* expected = BRONTEL_PROGRAM_SERVICE_CLASS;
    for (; *serviceClass != L'\0' && *expected != L'\0'; ++serviceClass, ++expected) {
        wchar_t c = *serviceClass == L'.' ? L'/' : *serviceClass;
        if (c != *expected) {
            return 0;
        }
    }
    return *serviceClass == L'\0' && *expected == L'\0';
}

// A stored stopTimeout that the program service can take: 1 to 9 digits, not all zeros
// (0 means the stop is never cut short). Installation has checked it; a value written by hand
// that is not one is left out.
int isSecondsText(const wchar_t* text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    int nonZero = 0;
    for (; text[length] != L'\0'; ++length) {
        if (length >= 9 || text[length] < L'0' || text[length] > L'9') {
            return 0;
        }
        nonZero |= text[length] != L'0';
    }
    return nonZero;
}

} // namespace

std::wstring describeVmOption(int number, const wchar_t* option) {
    std::wstring text = L"jvmOption" + std::to_wstring(number);
    const wchar_t* equals = option != nullptr ? wcschr(option, L'=') : nullptr;
    if (equals != nullptr) {
        text += L" (" + std::wstring(option, equals + 1) + L"...)";
    }
    return text;
}

int appendVmOption(JavaVMInitArgs* args, char* optionString, void* extraInfo) {
    JavaVMOption* grown = static_cast<JavaVMOption*>(
        realloc(args->options, static_cast<size_t>(args->nOptions + 1) * sizeof(JavaVMOption)));
    if (optionString == nullptr || grown == nullptr) {
        free(optionString);
        if (grown != nullptr) {
            args->options = grown;
        }
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    args->options = grown;
    args->options[args->nOptions].optionString = optionString;
    args->options[args->nOptions].extraInfo = extraInfo;
    ++args->nOptions;
    return 0;
}

wchar_t* programJarOf(const wchar_t* serviceClass, const wchar_t* commandLine) {
    if (!isProgramService(serviceClass) || commandLine == nullptr) {
        return nullptr;
    }
    int count = 0;
    wchar_t* words = splitCommandLine(commandLine, &count);
    if (words == nullptr) {
        return nullptr;
    }
    wchar_t* jar = nullptr;
    const wchar_t* word = words;
    int i = 0;
    // The service's own options come first; the first other word names the program.
    while (i < count && wcsncmp(word, L"--", 2) == 0) {
        word += wcslen(word) + 1;
        ++i;
    }
    if (i + 1 < count && wcscmp(word, L"-jar") == 0) {
        word += wcslen(word) + 1;
        if (*word != L'\0') {
            jar = copyText(word);
        }
    }
    free(words);
    return jar;
}

char* classPathWithJar(const char* classPathOption, const wchar_t* jar) {
    char* jarText = convertToMBCS(jar);
    if (jarText == nullptr) {
        return nullptr;
    }
    const char* rest = "";
    if (classPathOption != nullptr) {
        rest = classPathOption + strlen(classPathPrefix);
    }
    size_t size = strlen(classPathPrefix) + strlen(jarText) + 1 + strlen(rest) + 1;
    char* option = static_cast<char*>(malloc(size));
    if (option != nullptr) {
        snprintf(option, size, "%s%s%s%s", classPathPrefix, jarText,
                 *rest ? BRONTEL_CLASS_PATH_SEPARATOR : "", rest);
    }
    free(jarText);
    return option;
}

int addProgramOptions(JavaVMInitArgs* args, const wchar_t* serviceClass, const wchar_t* commandLine,
                      const wchar_t* stopTimeout, CLogger* logger) {
    // Without the hook, System.exit would end the process behind the Service Control
    // Manager's back, which then reports a crash.
    int result = appendVmOption(args, strdup("exit"), reinterpret_cast<void*>(brontelExitHook));

    if (result == 0 && isProgramService(serviceClass) && isSecondsText(stopTimeout)) {
        // Digits only (checked above), so each character converts on its own.
        char option[64] = "-Dbrontel.stopTimeout=";
        size_t at = strlen(option);
        for (size_t i = 0; stopTimeout[i] != L'\0' && at + 1 < sizeof(option); ++i) {
            option[at++] = static_cast<char>(stopTimeout[i]);
        }
        option[at] = '\0';
        result = appendVmOption(args, strdup(option), nullptr);
    }

    wchar_t* jar = programJarOf(serviceClass, commandLine);
    if (result == 0 && jar != nullptr) {
        // As with the launcher's -jar, the jar is on the class path: its classes load through
        // the system class loader with the jar as their code source, and its manifest's
        // Class-Path is honoured there.
        JavaVMOption* existing = nullptr;
        for (jint i = 0; i < args->nOptions; ++i) {
            if (strncmp(args->options[i].optionString, classPathPrefix, strlen(classPathPrefix)) ==
                0) {
                existing = &args->options[i];
            }
        }
        char* option = classPathWithJar(existing ? existing->optionString : nullptr, jar);
        if (option == nullptr) {
            result = BRONTEL_RESULT_OUT_OF_MEMORY;
        } else if (existing != nullptr) {
            free(existing->optionString);
            existing->optionString = option;
        } else {
            result = appendVmOption(args, option, nullptr);
        }
        if (result == 0) {
            logger->logMessage(L"The program's jar goes first on the class path: ", jar);
        }
    }
    free(jar);
    return result;
}
