// The bridge's optional natives: a line from Java into brontel's trace, and whether the trace
// may show arguments. Registered apart from the two required natives, so that a bridge class
// from an older brontel.jar, which lacks them, still works.
#include "jvm/jvm.h"

#include "registry/registry.h"
#include "runtime/executor.h"

#include <stdlib.h>

JNINativeMethod trace_method[1] = {
    {const_cast<char*>("trace"), const_cast<char*>("(Ljava/lang/String;)V"),
     reinterpret_cast<void*>(Java_com_vantero_core_orb_BrontelManager_trace)},
};

JNINativeMethod traces_arguments_method[1] = {
    {const_cast<char*>("tracesArguments"), const_cast<char*>("()Z"),
     reinterpret_cast<void*>(Java_com_vantero_core_orb_BrontelManager_tracesArguments)},
};

extern "C" JNIEXPORT void JNICALL Java_com_vantero_core_orb_BrontelManager_trace(JNIEnv* env,
                                                                                 jclass receiver,
                                                                                 jstring text) {
    (void)receiver;
    if (text == nullptr) {
        return;
    }
    // Through the gate: a Java thread may trace while the process ends and the executor and
    // its logger are deleted.
    CExecutor* executor = enterExecutor();
    if (executor == nullptr) {
        return;
    }
    wchar_t* line = allocGetTstrFromJstr(env, text);
    if (line != nullptr) {
        executor->getLogger()->logMessage(line);
        free(line);
    }
    leaveExecutor();
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_vantero_core_orb_BrontelManager_tracesArguments(JNIEnv* env, jclass receiver) {
    (void)env, (void)receiver;
    CExecutor* executor = enterExecutor();
    if (executor == nullptr) {
        return JNI_FALSE;
    }
    int set = getRegServiceFlag(executor->getServiceName(), REGVAL_TRACE_ARGUMENTS,
                                executor->getLogger());
    leaveExecutor();
    return set ? JNI_TRUE : JNI_FALSE;
}
