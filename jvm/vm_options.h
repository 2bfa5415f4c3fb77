// Options the program adds to the administrator's Java VM options.
#ifndef BRONTEL_JVM_VM_OPTIONS_H
#define BRONTEL_JVM_VM_OPTIONS_H

#include "platform/result_codes.h"
#include "trace/logger.h"

#include <jni.h>

#include <string>

#define BRONTEL_PROGRAM_SERVICE_CLASS L"com/vantero/core/orb/ProgramService"

// Appends one option; `optionString` (malloc'ed) then belongs to the record. 0, or
// BRONTEL_RESULT_OUT_OF_MEMORY (the string is freed).
int appendVmOption(JavaVMInitArgs* args, char* optionString, void* extraInfo);

// For the ready-made program service started with "-jar FILE": FILE (a new text, free() it),
// found after the service's own "--" options; null for any other command line.
wchar_t* programJarOf(const wchar_t* serviceClass, const wchar_t* commandLine);

// The class path option with `jar` put first: a new option text (free() it) made from
// `classPathOption` ("-Djava.class.path=..." or null for none); null when out of memory.
char* classPathWithJar(const char* classPathOption, const wchar_t* jar);

// Adds the exit hook, and the program's jar to the class path when the ready-made program
// service runs one, so that the jar's classes load as the launcher loads them. 0, or
// BRONTEL_RESULT_OUT_OF_MEMORY.
// With the service's stopTimeout (its stored text, null when not set) the ready-made program
// service also gets -Dbrontel.stopTimeout=SECONDS, so that its own stop waits end within it.
int addProgramOptions(JavaVMInitArgs* args, const wchar_t* serviceClass, const wchar_t* commandLine,
                      const wchar_t* stopTimeout, CLogger* logger);

// An option named for a message that others may read: its key ("jvmOption3") and, when it has
// one, its name up to the "=" ("-Ddb.password=..."), never its value.
std::wstring describeVmOption(int number, const wchar_t* option);

// The VM's exit hook: called on the VM's way out of System.exit, Runtime.exit or halt.
extern "C" void JNICALL brontelExitHook(jint code);

#endif
