// The bridge's optional natives: a line from Java into brontel's trace, and whether the trace
// may show arguments. Registered apart from the two required natives, so that a bridge class
// from an older brontel.jar, which lacks them, still works.
#include "jvm/jvm.h"

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
    // Through the gate: a Java thread may trace while the process ends and the service and its
    // logger are deleted.
    CJvmHostLink* host = enterJvmHost();
    if (host == nullptr) {
        return;
    }
    wchar_t* line = allocGetTstrFromJstr(env, text);
    if (line != nullptr) {
        host->getLogger()->logMessage(line);
        free(line);
    }
    leaveJvmHost();
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_vantero_core_orb_BrontelManager_tracesArguments(JNIEnv* env, jclass receiver) {
    (void)env, (void)receiver;
    CJvmHostLink* host = enterJvmHost();
    if (host == nullptr) {
        return JNI_FALSE;
    }
    int set = host->tracesArguments();
    leaveJvmHost();
    return set ? JNI_TRUE : JNI_FALSE;
}
