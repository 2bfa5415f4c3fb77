// The program's own copies of its Java classes (the bridge class and the ready-made program
// service), compiled into it at build time, so that a VM whose class path lacks brontel.jar
// still gets them.
#ifndef BRONTEL_JVM_EMBEDDED_CLASSES_H
#define BRONTEL_JVM_EMBEDDED_CLASSES_H

#include "trace/logger.h"

#include <jni.h>
#include <stddef.h>

struct EmbeddedClass {
    const char* name; // internal form: com/vantero/core/orb/Name or Name$Inner
    const unsigned char* bytes;
    size_t size;
};

// Ended by an entry with a null name; embeddedClassCount entries before it.
extern const EmbeddedClass embeddedClasses[];
extern const size_t embeddedClassCount;

// The class from the VM's class path, as FindClass finds it. When the class path lacks it and
// the program carries a copy, that copy and its nested classes are defined into the system
// class loader, so that classes on the class path that refer to it see this same class. Null
// when neither works: with the FindClass exception still pending when the program carries no
// copy, with nothing pending (the cause traced) when the copy cannot be defined.
jclass findOrDefineClass(JNIEnv* env, const char* name, CLogger* logger);

#endif
