// Machine-dependent JNI types for the Windows build (mingw-w64, 32 and 64 bit).
#ifndef BRONTEL_JNI_MD_H
#define BRONTEL_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
