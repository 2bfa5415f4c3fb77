// A test double of the Java VM library for the Windows build (jvm.dll). It proves the Windows
// build's contract with a VM: the Invocation API exports, the JNI calls brontel makes with their
// documented semantics (UTF-16 strings, local references that belong to one thread, a pending
// exception that must be cleared, attach and detach per thread, registered natives called from
// threads of the VM's own), and scripted "service classes" chosen by class name. The real VM's
// behaviour is covered by the Linux build, which runs the real one.
//
// Any JNI call that is not implemented fails loudly, naming the call, and ends the process, so
// that a new call in brontel cannot slip by. Misuse that a real VM may survive by chance (an
// environment used on another thread, a call made with an exception pending, a detach without
// an attach, a thread that ends attached, a local reference used after its thread detached) is
// written to the misuse log, which tests expect to stay empty.
//
// Options understood (JavaVMOption strings): -Dvmdouble.record=<file> (what the services do),
// -Dvmdouble.misuse=<file>, -Dvmdouble.createVM=<result>, -Dvmdouble.control=<code> (the control
// the relay service sends), -Dvmdouble.target=<service> (whom it sends it to),
// -Dvmdouble.bridge=absent|embedded|refused (the bridge class is not on the class path and
// cannot be defined; is not on it but can be defined from its bytes; its natives are refused),
// -Dvmdouble.exitCode=<n> (what the Exits service passes to System.exit), -Dvmdouble.env=<A,B>
// (records each variable's value as the process has it, and the current directory). "vfprintf" and
// "exit" take the hooks, as the real VM does; other -D options are system properties. A file named
// refuse-jni-1.2 beside the library makes JNI_GetDefaultJavaVMInitArgs refuse version 1.2.
#include "jni_slots.h"

#include <windows.h>

#include <jni.h>
#include <jvmti.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// ---- logs ------------------------------------------------------------------------------------
std::mutex g_lock; // guards everything below that threads share
std::string g_recordPath;
std::string g_misusePath;
std::string g_control = "1";
std::string g_target;
std::string g_bridge;
std::string g_exitCode = "3";
std::vector<std::string> g_options;
int g_createResult = 0;
typedef jint(JNICALL* VfprintfHook)(FILE*, const char*, va_list);
VfprintfHook g_vfprintf = nullptr;
typedef void(JNICALL* ExitHook)(jint);
ExitHook g_exitHook = nullptr;
DWORD g_mainThread = 0;

void appendLine(const std::string& path, const std::string& line) {
    if (path.empty()) {
        return;
    }
    FILE* file = fopen(path.c_str(), "ab");
    if (file != nullptr) {
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }
}

void record(const std::string& line) {
    std::lock_guard<std::mutex> guard(g_lock);
    appendLine(g_recordPath, line);
}

void misuse(const std::string& what) {
    fprintf(stderr, "vmdouble misuse: %s\n", what.c_str());
    std::lock_guard<std::mutex> guard(g_lock);
    appendLine(g_misusePath.empty() ? std::string("vmdouble-misuse.log") : g_misusePath, what);
}

[[noreturn]] void unimplemented(const char* name) {
    std::string what = std::string("unimplemented JNI call ") + name;
    misuse(what);
    fflush(stderr);
    ExitProcess(70);
}

std::string tid() {
    return std::to_string(GetCurrentThreadId());
}

std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Modified UTF-8 (what NewStringUTF takes) to UTF-16; supplementary characters arrive as
// encoded surrogates, so three-byte sequences are all there is beyond ASCII and two bytes.
bool fromModifiedUtf8(const char* bytes, std::u16string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        if (*p < 0x80) {
            out->push_back(*p++);
        } else if ((*p & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            out->push_back(static_cast<char16_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F)));
            p += 2;
        } else if ((*p & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
            out->push_back(static_cast<char16_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) |
                                                 (p[2] & 0x3F)));
            p += 3;
        } else {
            return false; // four-byte UTF-8 is not modified UTF-8
        }
    }
    return true;
}

// ---- objects, references, environments -------------------------------------------------------
struct ClassDef;
struct Obj {
    enum Kind { Class, String, Array, Throwable, Loader } kind = String;
    const ClassDef* cls = nullptr; // the class itself (Class) or the object's class
    std::u16string text;           // String; Throwable: its toString()
    std::vector<Obj*> items;       // Array
    Obj* cause = nullptr;          // Throwable
};

Obj* newObj(Obj::Kind kind) {
    Obj* obj = new Obj();
    obj->kind = kind;
    return obj;
}

struct Env;
// A local reference: valid on the thread that made it until that thread detaches. Never freed,
// so that a stale one is seen, not followed.
struct Ref {
    Obj* obj;
    Env* owner;
    bool live;
};

struct Env {
    const JNINativeInterface_* functions; // must come first: JNIEnv* points here
    DWORD thread;
    Obj* pending = nullptr;
    bool attached = true;
    std::vector<Ref*> refs;
};

JNINativeInterface_ g_native;
JNIInvokeInterface_ g_invoke;
struct Vm {
    const JNIInvokeInterface_* functions;
} g_vm = {&g_invoke};
std::map<DWORD, Env*> g_envs; // threads known to the VM, under g_lock
bool g_created = false;

Env* currentEnv() {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_envs.find(GetCurrentThreadId());
    return it == g_envs.end() ? nullptr : it->second;
}

Env* newEnv() {
    Env* env = new Env();
    env->functions = &g_native;
    env->thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> guard(g_lock);
    g_envs[env->thread] = env;
    return env;
}

void dropEnv(Env* env) {
    for (Ref* ref : env->refs) {
        ref->live = false;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    g_envs.erase(env->thread);
}

// The checks every JNI function makes before it does anything.
Env* enter(JNIEnv* jni, const char* call, bool pendingAllowed = false) {
    Env* env = reinterpret_cast<Env*>(jni);
    if (env->thread != GetCurrentThreadId()) {
        misuse(std::string(call) + ": JNIEnv of thread " + std::to_string(env->thread) +
               " used on thread " + tid());
    }
    if (!env->attached) {
        misuse(std::string(call) + ": JNIEnv used after its thread detached");
    }
    if (env->pending != nullptr && !pendingAllowed) {
        misuse(std::string(call) + " called with an exception pending");
    }
    return env;
}

jobject newRef(Env* env, Obj* obj) {
    if (obj == nullptr) {
        return nullptr;
    }
    Ref* ref = new Ref{obj, env, true};
    env->refs.push_back(ref);
    return reinterpret_cast<jobject>(ref);
}

Obj* deref(Env* env, jobject handle, const char* call) {
    if (handle == nullptr) {
        return nullptr;
    }
    Ref* ref = reinterpret_cast<Ref*>(handle);
    if (!ref->live) {
        misuse(std::string(call) + ": a deleted or stale local reference");
    } else if (ref->owner != env) {
        misuse(std::string(call) + ": a local reference of another thread");
    }
    return ref->obj;
}

// ---- classes and scripted services -------------------------------------------------------------
struct Method {
    const ClassDef* cls;
    std::string name;
};

typedef void (*ServiceMain)(JNIEnv* env, Obj* args);
struct ClassDef {
    const char* name;
    ServiceMain serviceMain; // null: no serviceMain
    bool hasControl;
    bool hasConsole;
};

// setServiceState, sendServiceControl, the optional trace and tracesArguments
JNINativeMethod g_natives[4];
bool g_registered = false;
bool g_bridgeDefined = false;
HANDLE g_stopEvent = nullptr;

typedef void(JNICALL* SetState_t)(JNIEnv*, jclass, jint, jint, jint, jint, jint);
typedef jboolean(JNICALL* SendControl_t)(JNIEnv*, jclass, jstring, jint);
typedef void(JNICALL* Trace_t)(JNIEnv*, jclass, jstring);

void setState(JNIEnv* env, jint state, jint accepted) {
    if (!g_registered) {
        misuse("setServiceState called before the natives were registered");
        return;
    }
    reinterpret_cast<SetState_t>(g_natives[0].fnPtr)(env, nullptr, state, accepted, 0, 0, 0);
}

// A thread of the VM's own, known to it as a Java thread is, running one step of a service.
struct JavaThreadWork {
    void (*run)(JNIEnv* env, void* data);
    void* data;
};

DWORD WINAPI javaThreadMain(LPVOID param) {
    JavaThreadWork* work = static_cast<JavaThreadWork*>(param);
    Env* env = newEnv();
    work->run(reinterpret_cast<JNIEnv*>(env), work->data);
    if (env->pending != nullptr) {
        misuse("a Java thread ended with an exception pending from a native call");
    }
    dropEnv(env);
    delete work;
    return 0;
}

HANDLE startJavaThread(void (*run)(JNIEnv*, void*), void* data) {
    return CreateThread(nullptr, 0, javaThreadMain, new JavaThreadWork{run, data}, 0, nullptr);
}

void recordArgs(Obj* args) {
    record("args " + std::to_string(args ? args->items.size() : 0));
    for (size_t i = 0; args && i < args->items.size(); ++i) {
        record("arg " + toUtf8(args->items[i] ? args->items[i]->text : u"(null)"));
    }
}

void reportRunning(JNIEnv* env, void*) {
    record("reported running from " + tid());
    if (g_natives[2].fnPtr != nullptr) {
        // A line into the host's trace, through the bridge's optional native.
        std::u16string text;
        fromModifiedUtf8(("vmdouble trace from " + tid()).c_str(), &text);
        Obj* line = newObj(Obj::String);
        line->text = text;
        reinterpret_cast<Trace_t>(g_natives[2].fnPtr)(
            env, nullptr, static_cast<jstring>(newRef(reinterpret_cast<Env*>(env), line)));
    }
    setState(env, SERVICE_RUNNING,
             SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE);
}

void runningMain(JNIEnv*, Obj* args) {
    recordArgs(args);
    HANDLE thread = startJavaThread(reportRunning, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    WaitForSingleObject(g_stopEvent, INFINITE);
    record("ended");
}

void silentMain(JNIEnv*, Obj* args) {
    recordArgs(args);
    WaitForSingleObject(g_stopEvent, INFINITE);
    record("ended");
}

volatile LONG g_lateReports = 0;

// Keeps reporting running after the service's own stop report, until the process ends.
void lateReports(JNIEnv* env, void*) {
    for (;;) {
        setState(env, SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
        InterlockedIncrement(&g_lateReports);
        Sleep(2);
    }
}

// Reports its own stop, and returns only once a report has come after it: whatever the load,
// the process cannot end before a late report has been made.
void lateRunningMain(JNIEnv* env, Obj* args) {
    runningMain(env, args);
    setState(env, SERVICE_STOPPED, 0);
    CloseHandle(startJavaThread(lateReports, nullptr));
    while (InterlockedCompareExchange(&g_lateReports, 0, 0) == 0) {
        Sleep(1);
    }
}

const ClassDef* classNamed(const char* name);

Obj* newThrowable(const char* className, const std::u16string& text) {
    Obj* thrown = newObj(Obj::Throwable);
    thrown->cls = classNamed(className);
    thrown->text = text;
    return thrown;
}

void throwingMain(JNIEnv* jni, Obj*) {
    reinterpret_cast<Env*>(jni)->pending = newThrowable(
        "java/lang/Throwable", u"java.lang.IllegalStateException: the service gave up");
}

// Ignores the stop: serviceControl records it, and nothing ends serviceMain.
void stubbornMain(JNIEnv* env, Obj* args) {
    runningMain(env, args);
}

// System.exit from a thread of the program's own: the VM runs the exit hook, then ends the
// process with the code.
void exitFromJava(JNIEnv*, void*) {
    int code = atoi(g_exitCode.c_str());
    record("System.exit " + std::to_string(code) + " on " + tid());
    if (g_exitHook != nullptr) {
        g_exitHook(code);
    }
    ExitProcess(static_cast<UINT>(code));
}

void exitsMain(JNIEnv*, Obj* args) {
    recordArgs(args);
    HANDLE thread = startJavaThread(reportRunning, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    WaitForSingleObject(startJavaThread(exitFromJava, nullptr), INFINITE);
    misuse("the process went on after System.exit");
}

void sendFromOwnThread(JNIEnv* env, void*) {
    jstring target = nullptr;
    if (!g_target.empty()) {
        std::u16string text;
        fromModifiedUtf8(g_target.c_str(), &text);
        Obj* obj = newObj(Obj::String);
        obj->text = text;
        target = static_cast<jstring>(newRef(reinterpret_cast<Env*>(env), obj));
    }
    jboolean sent = reinterpret_cast<SendControl_t>(g_natives[1].fnPtr)(env, nullptr, target,
                                                                        atoi(g_control.c_str()));
    record(sent ? "sent true" : "sent false");
}

void relayMain(JNIEnv* env, Obj* args) {
    HANDLE thread = startJavaThread(reportRunning, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = startJavaThread(sendFromOwnThread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    silentMain(env, args);
}

const ClassDef g_classes[] = {
    {"java/lang/Object", nullptr, false, false},
    {"java/lang/String", nullptr, false, false},
    {"java/lang/Throwable", nullptr, false, false},
    {"java/lang/ExceptionInInitializerError", nullptr, false, false},
    {"java/lang/System", nullptr, false, false},
    {"java/lang/ClassLoader", nullptr, false, false},
    {"com/vantero/core/orb/BrontelManager", nullptr, false, false},
    {"vmdouble/Running", runningMain, true, true},
    {"vmdouble/Silent", silentMain, true, false},
    {"vmdouble/LateRunning", lateRunningMain, true, false},
    {"vmdouble/StaticInit", runningMain, true, false},
    {"vmdouble/InitFails", runningMain, true, false},
    {"vmdouble/Relay", relayMain, true, false},
    {"vmdouble/Throws", throwingMain, true, false},
    {"vmdouble/Stubborn", stubbornMain, true, false},
    {"vmdouble/Exits", exitsMain, true, false},
    {"vmdouble/NoMain", nullptr, true, false},
    {"vmdouble/NoControl", runningMain, false, false},
};
const ClassDef* g_service = nullptr; // the service class last found

const ClassDef* classNamed(const char* name) {
    for (const ClassDef& cls : g_classes) {
        if (strcmp(cls.name, name) == 0) {
            return &cls;
        }
    }
    return nullptr;
}

Obj* classObject(const ClassDef* cls) {
    static std::map<const ClassDef*, Obj*> objects;
    std::lock_guard<std::mutex> guard(g_lock);
    Obj*& obj = objects[cls];
    if (obj == nullptr) {
        obj = newObj(Obj::Class);
        obj->cls = cls;
    }
    return obj;
}

void throwNew(Env* env, const char* text) {
    std::u16string wide;
    fromModifiedUtf8(text, &wide);
    env->pending = newThrowable("java/lang/Throwable", wide);
}

// A static initializer that threw: the VM hands on ExceptionInInitializerError with the
// initializer's exception as its cause.
void initializerThrew(Env* env, Obj* cause) {
    Obj* error = newThrowable("java/lang/ExceptionInInitializerError",
                              u"java.lang.ExceptionInInitializerError");
    error->cause = cause;
    env->pending = error;
}

const std::string kManager = "com/vantero/core/orb/BrontelManager";

// The value of a -D option, as System.getProperty answers it; false when there is none.
bool systemProperty(const std::string& name, std::string* value) {
    std::string prefix = "-D" + name + "=";
    bool found = false;
    for (const std::string& option : g_options) {
        if (option.rfind(prefix, 0) == 0) {
            *value = option.substr(prefix.size());
            found = true;
        }
    }
    return found;
}

// ---- the JNI functions brontel calls
// -------------------------------------------------------------
jclass JNICALL FindClass(JNIEnv* jni, const char* name) {
    Env* env = enter(jni, "FindClass");
    const ClassDef* cls = classNamed(name);
    if (cls != nullptr && name == kManager && !g_bridge.empty() && g_bridge != "refused" &&
        !g_bridgeDefined) {
        cls = nullptr; // not on the class path
    }
    if (cls == nullptr) {
        throwNew(env, (std::string("java.lang.NoClassDefFoundError: ") + name).c_str());
        return nullptr;
    }
    if ((cls->serviceMain != nullptr || cls->hasControl) && g_service != cls) {
        // The first look-up initializes the class.
        g_service = cls;
        if (strcmp(name, "vmdouble/StaticInit") == 0) {
            // An initializer that reports a state: without registered natives the call fails
            // with UnsatisfiedLinkError, which the initializer lets through.
            record("static initializer on " + tid());
            if (!g_registered) {
                initializerThrew(env, newThrowable("java/lang/Throwable",
                                                   u"java.lang.UnsatisfiedLinkError: "
                                                   u"'void com.vantero.core.orb.BrontelManager."
                                                   u"setServiceState(int, int, int, int, int)'"));
                return nullptr;
            }
            reinterpret_cast<SetState_t>(g_natives[0].fnPtr)(jni, nullptr, SERVICE_START_PENDING, 0,
                                                             0, 1, 5000);
        } else if (strcmp(name, "vmdouble/InitFails") == 0) {
            initializerThrew(env, newThrowable("java/lang/Throwable",
                                               u"java.lang.IllegalStateException: no settings"));
            g_service = nullptr; // every look-up fails the same way
            return nullptr;
        }
    }
    return static_cast<jclass>(newRef(env, classObject(cls)));
}

jmethodID findMethod(JNIEnv* jni, jclass clazz, const char* name, const char* sig, bool isStatic,
                     const char* call) {
    Env* env = enter(jni, call);
    Obj* obj = deref(env, clazz, call);
    if (obj == nullptr || obj->kind != Obj::Class) {
        misuse(std::string(call) + ": not a class");
        return nullptr;
    }
    const ClassDef* cls = obj->cls;
    std::string method = name, signature = sig, owner = cls->name;
    bool found = false;
    if (isStatic) {
        found = (method == "serviceMain" && signature == "([Ljava/lang/String;)V" &&
                 cls->serviceMain != nullptr) ||
                (method == "serviceControl" && signature == "(I)V" && cls->hasControl) ||
                (method == "consoleSignal" && signature == "(I)Z" && cls->hasConsole) ||
                (owner == "java/lang/System" && method == "getProperty" &&
                 signature == "(Ljava/lang/String;)Ljava/lang/String;") ||
                (owner == "java/lang/ClassLoader" && method == "getSystemClassLoader" &&
                 signature == "()Ljava/lang/ClassLoader;");
    } else {
        found = (owner == "java/lang/Throwable" && method == "toString" &&
                 signature == "()Ljava/lang/String;") ||
                (owner == "java/lang/ExceptionInInitializerError" && method == "getCause" &&
                 signature == "()Ljava/lang/Throwable;");
    }
    if (!found) {
        throwNew(env, (std::string("java.lang.NoSuchMethodError: ") + name).c_str());
        return nullptr;
    }
    static std::mutex methodsLock;
    static std::vector<Method*> methods;
    std::lock_guard<std::mutex> guard(methodsLock);
    for (Method* m : methods) {
        if (m->cls == cls && m->name == method) {
            return reinterpret_cast<jmethodID>(m);
        }
    }
    methods.push_back(new Method{cls, method});
    return reinterpret_cast<jmethodID>(methods.back());
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* jni, jclass clazz, const char* name, const char* sig) {
    return findMethod(jni, clazz, name, sig, true, "GetStaticMethodID");
}

jmethodID JNICALL GetMethodID(JNIEnv* jni, jclass clazz, const char* name, const char* sig) {
    return findMethod(jni, clazz, name, sig, false, "GetMethodID");
}

const Method* staticMethod(Env* env, jclass clazz, jmethodID id, const char* call) {
    Obj* obj = deref(env, clazz, call);
    const Method* method = reinterpret_cast<const Method*>(id);
    if (method == nullptr || obj == nullptr || obj->cls != method->cls) {
        misuse(std::string(call) + ": a method ID of another class, or none");
        return nullptr;
    }
    return method;
}

void JNICALL CallStaticVoidMethodV(JNIEnv* jni, jclass clazz, jmethodID id, va_list args) {
    Env* env = enter(jni, "CallStaticVoidMethodV");
    const Method* method = staticMethod(env, clazz, id, "CallStaticVoidMethodV");
    if (method == nullptr) {
        return;
    }
    if (method->name == "serviceMain") {
        Obj* array = deref(env, va_arg(args, jobject), "serviceMain argument");
        if (array == nullptr || array->kind != Obj::Array) {
            misuse("serviceMain called without a String array");
        }
        method->cls->serviceMain(jni, array);
    } else if (method->name == "serviceControl") {
        jint code = va_arg(args, jint);
        record("control " + std::to_string(code) + " on " + tid());
        bool stubborn = strcmp(method->cls->name, "vmdouble/Stubborn") == 0;
        if ((code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) && !stubborn) {
            SetEvent(g_stopEvent);
        }
    } else {
        misuse("CallStaticVoidMethodV on " + method->name);
    }
}

void JNICALL CallStaticVoidMethod(JNIEnv* jni, jclass clazz, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    CallStaticVoidMethodV(jni, clazz, id, args);
    va_end(args);
}

jboolean JNICALL CallStaticBooleanMethodV(JNIEnv* jni, jclass clazz, jmethodID id, va_list args) {
    Env* env = enter(jni, "CallStaticBooleanMethodV");
    const Method* method = staticMethod(env, clazz, id, "CallStaticBooleanMethodV");
    if (method == nullptr || method->name != "consoleSignal") {
        misuse("CallStaticBooleanMethodV on another method than consoleSignal");
        return JNI_FALSE;
    }
    record("console " + std::to_string(va_arg(args, jint)) + " on " + tid());
    return JNI_TRUE;
}

jboolean JNICALL CallStaticBooleanMethod(JNIEnv* jni, jclass clazz, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jboolean result = CallStaticBooleanMethodV(jni, clazz, id, args);
    va_end(args);
    return result;
}

jobject JNICALL CallObjectMethodV(JNIEnv* jni, jobject object, jmethodID id, va_list) {
    Env* env = enter(jni, "CallObjectMethodV");
    Obj* obj = deref(env, object, "CallObjectMethodV");
    const Method* method = reinterpret_cast<const Method*>(id);
    if (obj == nullptr || obj->kind != Obj::Throwable || method == nullptr) {
        misuse("CallObjectMethodV other than on a Throwable");
        return nullptr;
    }
    if (method->name == "getCause") {
        if (strcmp(obj->cls->name, "java/lang/ExceptionInInitializerError") != 0) {
            misuse("CallObjectMethodV: getCause of ExceptionInInitializerError on another class");
        }
        return newRef(env, obj->cause);
    }
    if (method->name != "toString") {
        misuse("CallObjectMethodV on " + method->name);
        return nullptr;
    }
    Obj* text = newObj(Obj::String);
    text->text = obj->text;
    return newRef(env, text);
}

jobject JNICALL CallObjectMethod(JNIEnv* jni, jobject object, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = CallObjectMethodV(jni, object, id, args);
    va_end(args);
    return result;
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* jni, jclass clazz, jmethodID id, va_list args) {
    Env* env = enter(jni, "CallStaticObjectMethodV");
    const Method* method = staticMethod(env, clazz, id, "CallStaticObjectMethodV");
    if (method == nullptr) {
        return nullptr;
    }
    if (method->name == "getSystemClassLoader") {
        Obj* loader = newObj(Obj::Loader);
        loader->cls = classNamed("java/lang/ClassLoader");
        return newRef(env, loader);
    }
    if (method->name != "getProperty") {
        misuse("CallStaticObjectMethodV on " + method->name);
        return nullptr;
    }
    Obj* name = deref(env, va_arg(args, jobject), "System.getProperty");
    std::string value;
    if (name == nullptr || name->kind != Obj::String) {
        throwNew(env, "java.lang.NullPointerException: key can't be null");
        return nullptr;
    }
    if (!systemProperty(toUtf8(name->text), &value)) {
        return nullptr;
    }
    Obj* text = newObj(Obj::String);
    fromModifiedUtf8(value.c_str(), &text->text);
    return newRef(env, text);
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* jni, jclass clazz, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = CallStaticObjectMethodV(jni, clazz, id, args);
    va_end(args);
    return result;
}

jboolean JNICALL IsInstanceOf(JNIEnv* jni, jobject object, jclass clazz) {
    Env* env = enter(jni, "IsInstanceOf");
    Obj* obj = deref(env, object, "IsInstanceOf");
    Obj* cls = deref(env, clazz, "IsInstanceOf");
    if (cls == nullptr || cls->kind != Obj::Class) {
        misuse("IsInstanceOf: not a class");
        return JNI_FALSE;
    }
    if (obj == nullptr || obj->cls == cls->cls || strcmp(cls->cls->name, "java/lang/Object") == 0) {
        return JNI_TRUE;
    }
    return obj->kind == Obj::Throwable && strcmp(cls->cls->name, "java/lang/Throwable") == 0
               ? JNI_TRUE
               : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv* jni, jobject object) {
    Env* env = enter(jni, "NewLocalRef");
    return newRef(env, deref(env, object, "NewLocalRef"));
}

jint JNICALL Throw(JNIEnv* jni, jthrowable thrown) {
    Env* env = enter(jni, "Throw", true);
    Obj* obj = deref(env, thrown, "Throw");
    if (obj == nullptr || obj->kind != Obj::Throwable) {
        misuse("Throw: not a Throwable");
        return JNI_ERR;
    }
    env->pending = obj;
    return JNI_OK;
}

// Defines the bridge class (and its nested classes) from the bytes the program carries.
jclass JNICALL DefineClass(JNIEnv* jni, const char* name, jobject loader, const jbyte* bytes,
                           jsize size) {
    Env* env = enter(jni, "DefineClass");
    Obj* obj = deref(env, loader, "DefineClass");
    if (obj == nullptr || obj->kind != Obj::Loader) {
        misuse("DefineClass without the system class loader");
    }
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
    if (name == nullptr || size < 10 || data[0] != 0xCA || data[1] != 0xFE || data[2] != 0xBA ||
        data[3] != 0xBE) {
        throwNew(env, "java.lang.ClassFormatError: Incompatible magic value");
        return nullptr;
    }
    if (g_bridge == "absent") {
        throwNew(env, "java.lang.SecurityException: Prohibited package name");
        return nullptr;
    }
    record(std::string("defined ") + name);
    if (name == kManager) {
        g_bridgeDefined = true;
        return static_cast<jclass>(newRef(env, classObject(classNamed(name))));
    }
    // A nested class: nothing the double ever calls.
    return static_cast<jclass>(newRef(env, classObject(classNamed("java/lang/Object"))));
}

jint JNICALL RegisterNatives(JNIEnv* jni, jclass clazz, const JNINativeMethod* methods, jint n) {
    Env* env = enter(jni, "RegisterNatives");
    Obj* obj = deref(env, clazz, "RegisterNatives");
    if (obj == nullptr || obj->kind != Obj::Class || obj->cls->name != kManager ||
        (n != 2 && n != 1)) {
        misuse("RegisterNatives on another class or with another number of methods");
        return JNI_ERR;
    }
    if (g_bridge == "refused") {
        throwNew(env, "java.lang.NoSuchMethodError: setServiceState");
        return JNI_ERR;
    }
    // The two required natives together, or each optional method on its own.
    static const char* const expected[4][2] = {{"setServiceState", "(IIIII)V"},
                                               {"sendServiceControl", "(Ljava/lang/String;I)Z"},
                                               {"trace", "(Ljava/lang/String;)V"},
                                               {"tracesArguments", "()Z"}};
    int first = n == 2 ? 0 : strcmp(methods[0].name, "tracesArguments") == 0 ? 3 : 2;
    if (n == 1 && !g_registered) {
        misuse("RegisterNatives: an optional method before the required natives");
    }
    for (int i = 0; i < n; ++i) {
        const char* const* want = expected[first + i];
        if (strcmp(methods[i].name, want[0]) != 0 || strcmp(methods[i].signature, want[1]) != 0 ||
            methods[i].fnPtr == nullptr) {
            misuse(std::string("RegisterNatives: unexpected method ") + methods[i].name);
            throwNew(env, "java.lang.NoSuchMethodError");
            return JNI_ERR;
        }
    }
    for (int i = 0; i < n; ++i) {
        g_natives[first + i] = methods[i];
    }
    g_registered = true;
    return JNI_OK;
}

jstring JNICALL NewStringUTF(JNIEnv* jni, const char* bytes) {
    Env* env = enter(jni, "NewStringUTF");
    Obj* obj = newObj(Obj::String);
    if (bytes == nullptr || !fromModifiedUtf8(bytes, &obj->text)) {
        misuse("NewStringUTF: not modified UTF-8");
    }
    return static_cast<jstring>(newRef(env, obj));
}

jstring JNICALL NewString(JNIEnv* jni, const jchar* chars, jsize length) {
    Env* env = enter(jni, "NewString");
    Obj* obj = newObj(Obj::String);
    obj->text.assign(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
    return static_cast<jstring>(newRef(env, obj));
}

jsize JNICALL GetStringLength(JNIEnv* jni, jstring text) {
    Env* env = enter(jni, "GetStringLength");
    Obj* obj = deref(env, text, "GetStringLength");
    return obj ? static_cast<jsize>(obj->text.size()) : 0;
}

const jchar* JNICALL GetStringChars(JNIEnv* jni, jstring text, jboolean* isCopy) {
    Env* env = enter(jni, "GetStringChars");
    Obj* obj = deref(env, text, "GetStringChars");
    if (obj == nullptr || obj->kind != Obj::String) {
        misuse("GetStringChars on something other than a string");
        return nullptr;
    }
    jchar* copy = static_cast<jchar*>(calloc(obj->text.size() + 1, sizeof(jchar)));
    memcpy(copy, obj->text.data(), obj->text.size() * sizeof(jchar));
    if (isCopy) {
        *isCopy = JNI_TRUE;
    }
    return copy;
}

void JNICALL ReleaseStringChars(JNIEnv* jni, jstring text, const jchar* chars) {
    Env* env = enter(jni, "ReleaseStringChars", true);
    deref(env, text, "ReleaseStringChars");
    free(const_cast<jchar*>(chars));
}

jobjectArray JNICALL NewObjectArray(JNIEnv* jni, jsize length, jclass clazz, jobject init) {
    Env* env = enter(jni, "NewObjectArray");
    Obj* cls = deref(env, clazz, "NewObjectArray");
    if (length < 0 || cls == nullptr || cls->kind != Obj::Class) {
        misuse("NewObjectArray: bad length or class");
        return nullptr;
    }
    Obj* array = newObj(Obj::Array);
    array->items.assign(static_cast<size_t>(length), deref(env, init, "NewObjectArray"));
    return static_cast<jobjectArray>(newRef(env, array));
}

void JNICALL SetObjectArrayElement(JNIEnv* jni, jobjectArray array, jsize index, jobject value) {
    Env* env = enter(jni, "SetObjectArrayElement");
    Obj* obj = deref(env, array, "SetObjectArrayElement");
    if (obj == nullptr || obj->kind != Obj::Array) {
        misuse("SetObjectArrayElement on something other than an array");
        return;
    }
    if (index < 0 || static_cast<size_t>(index) >= obj->items.size()) {
        throwNew(env, "java.lang.ArrayIndexOutOfBoundsException");
        return;
    }
    obj->items[static_cast<size_t>(index)] = deref(env, value, "SetObjectArrayElement");
}

void JNICALL DeleteLocalRef(JNIEnv* jni, jobject object) {
    Env* env = enter(jni, "DeleteLocalRef", true);
    if (object != nullptr) {
        deref(env, object, "DeleteLocalRef");
        reinterpret_cast<Ref*>(object)->live = false;
    }
}

jboolean JNICALL ExceptionCheck(JNIEnv* jni) {
    return enter(jni, "ExceptionCheck", true)->pending ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* jni) {
    Env* env = enter(jni, "ExceptionOccurred", true);
    return static_cast<jthrowable>(newRef(env, env->pending));
}

void JNICALL ExceptionClear(JNIEnv* jni) {
    enter(jni, "ExceptionClear", true)->pending = nullptr;
}

void JNICALL ExceptionDescribe(JNIEnv* jni) {
    Env* env = enter(jni, "ExceptionDescribe", true);
    if (env->pending != nullptr) {
        fprintf(stderr, "Exception in thread \"main\" %s\n", toUtf8(env->pending->text).c_str());
        env->pending = nullptr; // as the VM does: describing clears it
    }
}

// ---- the tool interface: just what asks to hear of the end of a thread dump
// ------------------------------------------------------------------------------------------------
jvmtiInterface_1_ g_tool;
struct Tool {
    const jvmtiInterface_1_* functions; // must come first: jvmtiEnv* points here
    const void* storage = nullptr;
    jvmtiEventCallbacks callbacks = {};
    bool dumpEvents = false;
    bool disposed = false;
};
std::vector<Tool*> g_tools; // under g_lock

jvmtiError JNICALL toolUnimplemented(jvmtiEnv*) {
    unimplemented("a JVMTI function");
}

Tool* toolEnter(jvmtiEnv* jvmti, const char* call) {
    Tool* tool = reinterpret_cast<Tool*>(jvmti);
    if (tool->disposed) {
        misuse(std::string(call) + ": a disposed JVMTI environment");
    }
    if (currentEnv() == nullptr) {
        misuse(std::string(call) + " on a thread the VM does not know");
    }
    return tool;
}

jvmtiError JNICALL SetEnvironmentLocalStorage(jvmtiEnv* jvmti, const void* data) {
    toolEnter(jvmti, "SetEnvironmentLocalStorage")->storage = data;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL GetEnvironmentLocalStorage(jvmtiEnv* jvmti, void** data) {
    // Called by the event callback on the VM's own thread.
    *data = const_cast<void*>(reinterpret_cast<Tool*>(jvmti)->storage);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL SetEventCallbacks(jvmtiEnv* jvmti, const jvmtiEventCallbacks* callbacks,
                                     jint size) {
    Tool* tool = toolEnter(jvmti, "SetEventCallbacks");
    std::lock_guard<std::mutex> guard(g_lock);
    tool->callbacks = {};
    memcpy(&tool->callbacks, callbacks,
           static_cast<size_t>(size) < sizeof tool->callbacks ? static_cast<size_t>(size)
                                                              : sizeof tool->callbacks);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL SetEventNotificationMode(jvmtiEnv* jvmti, jvmtiEventMode mode, jvmtiEvent event,
                                            jthread thread, ...) {
    Tool* tool = toolEnter(jvmti, "SetEventNotificationMode");
    if (event != JVMTI_EVENT_DATA_DUMP_REQUEST || thread != nullptr) {
        misuse("SetEventNotificationMode for another event than the data dump request");
        return JVMTI_ERROR_ILLEGAL_ARGUMENT;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    tool->dumpEvents = mode == JVMTI_ENABLE;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL DisposeEnvironment(jvmtiEnv* jvmti) {
    Tool* tool = toolEnter(jvmti, "DisposeEnvironment");
    std::lock_guard<std::mutex> guard(g_lock);
    tool->disposed = true;
    tool->dumpEvents = false;
    return JVMTI_ERROR_NONE;
}

void buildToolTable() {
    void** slots = reinterpret_cast<void**>(&g_tool);
    for (size_t i = 0; i < sizeof g_tool / sizeof(void*); ++i) {
        slots[i] = reinterpret_cast<void*>(toolUnimplemented);
    }
    g_tool.SetEnvironmentLocalStorage = SetEnvironmentLocalStorage;
    g_tool.GetEnvironmentLocalStorage = GetEnvironmentLocalStorage;
    g_tool.SetEventCallbacks = SetEventCallbacks;
    g_tool.SetEventNotificationMode = SetEventNotificationMode;
    g_tool.DisposeEnvironment = DisposeEnvironment;
}

void verbose(const char* format, ...);

// The VM's signal thread answering the break signal: the dump goes where the VM writes (the
// output hook, else standard output), then the tools that asked hear that it is done.
void threadDump(JNIEnv*, void*) {
    std::vector<DWORD> threads;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (const auto& known : g_envs) {
            threads.push_back(known.first);
        }
    }
    if (g_vfprintf != nullptr) {
        verbose("Full thread dump vmdouble (%d threads):\n", static_cast<int>(threads.size()));
        for (DWORD thread : threads) {
            verbose("\"vmdouble-%lu\" %s\n", static_cast<unsigned long>(thread),
                    thread == g_mainThread ? "in serviceMain" : "runnable");
        }
    } else {
        printf("Full thread dump vmdouble (%d threads):\n", static_cast<int>(threads.size()));
        fflush(stdout);
    }
    record("thread dump on " + tid());
    std::vector<Tool*> listening;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (Tool* tool : g_tools) {
            if (tool->dumpEvents && tool->callbacks.DataDumpRequest != nullptr) {
                listening.push_back(tool);
            }
        }
    }
    for (Tool* tool : listening) {
        tool->callbacks.DataDumpRequest(reinterpret_cast<jvmtiEnv*>(tool));
    }
}

// ---- the invocation interface
// ---------------------------------------------------------------------
jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
    Env* env = currentEnv();
    if (version == JVMTI_VERSION_1_0) {
        if (env == nullptr) {
            *penv = nullptr;
            return JNI_EDETACHED;
        }
        Tool* tool = new Tool();
        tool->functions = &g_tool;
        std::lock_guard<std::mutex> guard(g_lock);
        g_tools.push_back(tool);
        *penv = tool;
        return JNI_OK;
    }
    if (version != JNI_VERSION_1_2) {
        misuse("GetEnv with another version than 1.2 or JVMTI 1.0");
    }
    *penv = env;
    return env ? JNI_OK : JNI_EDETACHED;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
    JavaVMAttachArgs* attach = static_cast<JavaVMAttachArgs*>(args);
    if (attach != nullptr && attach->version != JNI_VERSION_1_2) {
        misuse("AttachCurrentThread with another version than 1.2");
    }
    Env* env = currentEnv();
    if (env == nullptr) {
        env = newEnv();
    }
    *penv = env;
    return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    Env* env = currentEnv();
    if (env == nullptr) {
        misuse("DetachCurrentThread on a thread that is not attached");
        return JNI_EDETACHED;
    }
    if (env->pending != nullptr) {
        misuse("DetachCurrentThread with an exception pending");
    }
    env->attached = false;
    dropEnv(env);
    return JNI_OK;
}

// ---- stubs for everything else
// ----------------------------------------------------------------------
#define STUB(name)                                                                                 \
    void JNICALL unimplemented_##name() {                                                          \
        unimplemented(#name);                                                                      \
    }
JNI_NATIVE_SLOTS(STUB)
#undef STUB
#define STUB(name)                                                                                 \
    void JNICALL unimplementedVm_##name() {                                                        \
        unimplemented("JavaVM::" #name);                                                           \
    }
JNI_INVOKE_SLOTS(STUB)
#undef STUB

void buildTables() {
    void** native = reinterpret_cast<void**>(&g_native);
    size_t i = 0;
#define SLOT(name) native[i++] = reinterpret_cast<void*>(unimplemented_##name);
    JNI_NATIVE_SLOTS(SLOT)
#undef SLOT
    void** invoke = reinterpret_cast<void**>(&g_invoke);
    i = 0;
#define SLOT(name) invoke[i++] = reinterpret_cast<void*>(unimplementedVm_##name);
    JNI_INVOKE_SLOTS(SLOT)
#undef SLOT
    g_native.FindClass = FindClass;
    g_native.GetStaticMethodID = GetStaticMethodID;
    g_native.GetMethodID = GetMethodID;
    g_native.CallStaticVoidMethod = CallStaticVoidMethod;
    g_native.CallStaticVoidMethodV = CallStaticVoidMethodV;
    g_native.CallStaticBooleanMethod = CallStaticBooleanMethod;
    g_native.CallStaticBooleanMethodV = CallStaticBooleanMethodV;
    g_native.CallObjectMethod = CallObjectMethod;
    g_native.CallObjectMethodV = CallObjectMethodV;
    g_native.CallStaticObjectMethod = CallStaticObjectMethod;
    g_native.CallStaticObjectMethodV = CallStaticObjectMethodV;
    g_native.IsInstanceOf = IsInstanceOf;
    g_native.NewLocalRef = NewLocalRef;
    g_native.Throw = Throw;
    g_native.DefineClass = DefineClass;
    g_native.RegisterNatives = RegisterNatives;
    g_native.NewStringUTF = NewStringUTF;
    g_native.NewString = NewString;
    g_native.GetStringLength = GetStringLength;
    g_native.GetStringChars = GetStringChars;
    g_native.ReleaseStringChars = ReleaseStringChars;
    g_native.NewObjectArray = NewObjectArray;
    g_native.SetObjectArrayElement = SetObjectArrayElement;
    g_native.DeleteLocalRef = DeleteLocalRef;
    g_native.ExceptionCheck = ExceptionCheck;
    g_native.ExceptionOccurred = ExceptionOccurred;
    g_native.ExceptionClear = ExceptionClear;
    g_native.ExceptionDescribe = ExceptionDescribe;
    g_invoke.GetEnv = GetEnv;
    g_invoke.AttachCurrentThread = AttachCurrentThread;
    g_invoke.DetachCurrentThread = DetachCurrentThread;
    buildToolTable();
}

void verbose(const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_vfprintf(stderr, format, args);
    va_end(args);
}

std::string libraryFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&libraryFolder), &self);
    char path[MAX_PATH * 2] = "";
    GetModuleFileNameA(self, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash != nullptr) {
        *slash = '\0';
    }
    return path;
}
// The process's variables named in a comma-separated list, and its current directory, as the
// service's own code would see them.
void recordEnvironment(const std::string& names) {
    if (names.empty()) {
        return;
    }
    size_t start = 0;
    for (;;) {
        size_t comma = names.find(',', start);
        std::string name =
            names.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char value[2048];
        DWORD got = GetEnvironmentVariableA(name.c_str(), value, sizeof(value));
        record(
            "env " + name +
            (got == 0 || got >= sizeof(value) ? std::string(" unset") : "=" + std::string(value)));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    record("cwd " + (length == 0 || length >= MAX_PATH ? std::string("?") : std::string(folder)));
}
} // namespace

#ifdef VMDOUBLE_NEEDS_DEP
// This variant needs a library that lies only in its runtime's bin folder, as jvm.dll needs the
// C runtime the Java runtime ships there.
extern "C" __declspec(dllimport) int vmdoubleDependency();
#endif

extern "C" __declspec(dllexport) jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    JavaVMInitArgs* init = static_cast<JavaVMInitArgs*>(args);
#ifdef VMDOUBLE_NEEDS_DEP
    if (vmdoubleDependency() != 42) {
        return JNI_ERR;
    }
#endif
    std::string refuse = libraryFolder() + "\\refuse-jni-1.2";
    if (GetFileAttributesA(refuse.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return JNI_EVERSION;
    }
    return init->version == JNI_VERSION_1_2 ? JNI_OK : JNI_EVERSION;
}

extern "C" __declspec(dllexport) jint JNICALL
    JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    JavaVMInitArgs* init = static_cast<JavaVMInitArgs*>(args);
    if (g_created) {
        return JNI_EEXIST;
    }
    if (init->version != JNI_VERSION_1_2 || init->ignoreUnrecognized != JNI_TRUE) {
        misuse("JNI_CreateJavaVM: not version 1.2 with unrecognized options ignored");
    }
    std::vector<std::string> options;
    std::string envNames;
    for (jint i = 0; i < init->nOptions; ++i) {
        std::string option = init->options[i].optionString;
        options.push_back(option);
        auto value = [&](const char* prefix, std::string* out) {
            if (option.rfind(prefix, 0) == 0) {
                *out = option.substr(strlen(prefix));
            }
        };
        std::string create;
        value("-Dvmdouble.env=", &envNames);
        value("-Dvmdouble.bridge=", &g_bridge);
        value("-Dvmdouble.exitCode=", &g_exitCode);
        value("-Dvmdouble.record=", &g_recordPath);
        value("-Dvmdouble.misuse=", &g_misusePath);
        value("-Dvmdouble.control=", &g_control);
        value("-Dvmdouble.target=", &g_target);
        value("-Dvmdouble.createVM=", &create);
        if (!create.empty()) {
            g_createResult = atoi(create.c_str());
        }
        if (option == "vfprintf") {
            g_vfprintf = reinterpret_cast<VfprintfHook>(init->options[i].extraInfo);
        } else if (option == "exit") {
            g_exitHook = reinterpret_cast<ExitHook>(init->options[i].extraInfo);
        }
    }
    g_options = options;
    for (size_t i = 0; i < options.size(); ++i) {
        record("option " + options[i]);
    }
    recordEnvironment(envNames);
    if (g_vfprintf != nullptr) {
        // The VM's own diagnostics go through the hook, as -verbose output would.
        verbose("vmdouble: %d options, the first %s\n", static_cast<int>(options.size()),
                options.empty() ? "(none)" : options[0].c_str());
    }
    if (g_createResult < 0) {
        return g_createResult;
    }
    buildTables();
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_created = true;
    g_mainThread = GetCurrentThreadId();
    *pvm = reinterpret_cast<JavaVM*>(&g_vm);
    *penv = newEnv();
    return JNI_OK;
}

extern "C" __declspec(dllexport) jboolean JNICALL JVM_RaiseSignal(jint signal) {
    if (currentEnv() == nullptr) {
        misuse("JVM_RaiseSignal on a thread the VM does not know");
    }
    record("raise " + std::to_string(signal) + " on " + tid());
    if (signal == 21) {
        // As the VM's signal thread does, once it gets the break signal.
        CloseHandle(startJavaThread(threadDump, nullptr));
    }
    return JNI_TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_THREAD_DETACH && g_created && GetCurrentThreadId() != g_mainThread) {
        // A thread that ends attached leaks its Java thread in a real VM.
        Env* env = currentEnv();
        if (env != nullptr) {
            misuse("thread " + tid() + " ended while attached");
            dropEnv(env);
        }
    }
    return TRUE;
}
