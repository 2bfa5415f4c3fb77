/* The test service's native output: what a JNI library prints through the C runtime. */
#include <jni.h>
#include <stdio.h>

JNIEXPORT void JNICALL Java_com_vantero_tests_OutputService_nativePrint(JNIEnv* env, jclass cls,
                                                                        jboolean toError,
                                                                        jstring text) {
    const char* bytes = (*env)->GetStringUTFChars(env, text, NULL);
    (void)cls;
    if (bytes == NULL) {
        return;
    }
    fputs(bytes, toError ? stderr : stdout);
    (*env)->ReleaseStringUTFChars(env, text, bytes);
}
