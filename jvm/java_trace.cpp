// The bridge's optional native trace method: a line from Java into brontel's trace. Registered
// apart from the two required natives, so that a bridge class from an older brontel.jar, which
// lacks it, still works.
#include "jvm/jvm.h"

#include <stdlib.h>

JNINativeMethod trace_method[1] = {
    {const_cast<char*>("trace"), const_cast<char*>("(Ljava/lang/String;)V"),
     reinterpret_cast<void*>(Java_com_vantero_core_orb_BrontelManager_trace)},
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
