// The program's result codes: one number for each kind of failure across the whole program.
// An operation returns 0 or one of these; a failed command's becomes the process exit code, a
// failed service start's the service-specific exit code that the Service Control Manager shows.
// The administrator's guide (docs/admin-guide.md, "Exit codes") lists the same codes.
#ifndef BRONTEL_PLATFORM_RESULT_CODES_H
#define BRONTEL_PLATFORM_RESULT_CODES_H

#define BRONTEL_RESULT_OK 0
// The command line: an option without its argument, install combined with removal, a signal
// that names no control, a service name that cannot name a control pipe.
#define BRONTEL_RESULT_USAGE 1
// No arguments at all: the help was printed.
#define BRONTEL_RESULT_NO_ARGUMENTS 2
#define BRONTEL_RESULT_NO_CONFIG_FILE_NAME 3
// The configuration file cannot be opened, sized or read (also: no service name to store the
// Java VM options under).
#define BRONTEL_RESULT_CONFIG_NOT_READ 4
// A configuration line without a value, or a stop or recovery value brontel cannot use.
#define BRONTEL_RESULT_BAD_VALUE 5
// 6 is not used.
#define BRONTEL_RESULT_MISSING_KEY 7
// The Service Control Manager cannot be opened or refuses to create the service; for -b, the
// registry's list of services cannot be read.
#define BRONTEL_RESULT_SCM_FAILED 8
#define BRONTEL_RESULT_OUT_OF_MEMORY 9
// Removal without a configuration file or a service name.
#define BRONTEL_RESULT_NOTHING_TO_REMOVE 10
// The service was not installed by this program, or does not exist.
#define BRONTEL_RESULT_NOT_INSTALLED 11
#define BRONTEL_RESULT_REGISTRY_NOT_WRITTEN 12

// The Java VM host's start-up: the service-specific codes of a failed start.
#define BRONTEL_RESULT_JVM_NOT_LOADED 13
// The library lacks JNI_CreateJavaVM or JNI_GetDefaultJavaVMInitArgs.
#define BRONTEL_RESULT_NOT_A_JVM 14
// JNI_GetDefaultJavaVMInitArgs refuses JNI version 1.2.
#define BRONTEL_RESULT_JNI_VERSION 15
#define BRONTEL_RESULT_VM_NOT_CREATED 16
#define BRONTEL_RESULT_NO_SERVICE_CLASS 17
#define BRONTEL_RESULT_CLASS_NOT_FOUND 18
#define BRONTEL_RESULT_NO_SERVICE_MAIN 19
#define BRONTEL_RESULT_NO_SERVICE_CONTROL 20
#define BRONTEL_RESULT_MANAGER_CLASS_NOT_FOUND 21
#define BRONTEL_RESULT_NATIVES_NOT_REGISTERED 22

// The service runtime.
#define BRONTEL_RESULT_NO_CONTROL_HANDLER 23
#define BRONTEL_RESULT_PREINIT_FAILED 24
// The service could not be stopped (removal, restart).
#define BRONTEL_RESULT_STOP_FAILED 25
#define BRONTEL_RESULT_DELETE_FAILED 26
// serviceMain, or the service class's static initializer, ended with an exception (also set by
// the Java side's ProgramService).
#define BRONTEL_RESULT_JAVA_EXCEPTION 27
// A stop showed no progress for stopTimeout: the process was ended.
#define BRONTEL_RESULT_STOP_TIMEOUT 28
// The file -c or -e was to write exists already, or cannot be created or written.
#define BRONTEL_RESULT_FILE_NOT_WRITTEN 29
// A control not delivered, or a restarted service not started (-s).
#define BRONTEL_RESULT_NOT_DELIVERED 30
// A configuration file that still holds one of the skeleton's $$...$$ placeholders.
#define BRONTEL_RESULT_PLACEHOLDER 31
// Set by the Java side's ProgramService: the program cannot be started, or its main ended with
// an exception before the service ran.
#define BRONTEL_RESULT_PROGRAM_NOT_STARTED 32
#define BRONTEL_RESULT_PROGRAM_FAILED 33
// Installation: an output capture value is malformed.
#define BRONTEL_RESULT_BAD_CAPTURE_VALUE 34
// An output capture folder or file refused as unsafe.
#define BRONTEL_RESULT_UNSAFE_CAPTURE_PATH 35
// -x: the control pipe exists already, held by another process.
#define BRONTEL_RESULT_PIPE_IN_USE 36
// -q: the service is installed but not running (stopped, paused, or starting or stopping).
#define BRONTEL_RESULT_NOT_RUNNING 37
// -start, -stop, -restart: the state was not reached while the service showed progress, or
// within -W seconds.
#define BRONTEL_RESULT_WAIT_TIMEOUT 38
// -start, -restart: the service stopped again while starting; its exit codes say why.
#define BRONTEL_RESULT_START_FAILED 39
// The service's working directory cannot be entered (it does not exist, or is not a folder).
#define BRONTEL_RESULT_WORKING_DIRECTORY 40

#endif
