// Text crossing the JNI boundary. wchar_t is UTF-16 on Windows and UTF-32 on Linux, while Java
// strings are UTF-16 and the JNI's 8-bit form is modified UTF-8; these helpers convert
// explicitly so that characters outside the Basic Multilingual Plane survive both ways.
#ifndef BRONTEL_JVM_JNI_TEXT_H
#define BRONTEL_JVM_JNI_TEXT_H

#include <jni.h>
#include <stddef.h>
#include <wchar.h>

// UTF-16 code units for `count` wide characters (malloc; free() it); the number of units goes to
// *units. Null when out of memory.
jchar* wideToJavaChars(const wchar_t* text, size_t count, jsize* units);
// A new zero-terminated wide text (malloc; free() it) from UTF-16 code units; surrogate pairs
// become one character where wchar_t is 32 bits wide. Null when out of memory.
wchar_t* javaCharsToWide(const jchar* chars, jsize units);
// A new zero-terminated text in the JNI's modified UTF-8 (malloc; free() it), as FindClass and
// the other name lookups expect it. Null when out of memory.
char* wideToModifiedUtf8(const wchar_t* text);
// A Java string with the characters of a wide text; null when the VM cannot create it.
jstring newJavaString(JNIEnv* env, const wchar_t* text);

#endif
