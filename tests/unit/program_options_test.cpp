// What the program adds for unchanged Java programs: the executable jar found in the ready-made
// service's arguments, the class path that puts it first, and the program's own copies of its
// classes defined into a VM whose class path lacks them (against a fake JNI environment).
#include "jvm/embedded_classes.h"
#include "jvm/vm_options.h"
#include "registry/registry.h"

#include "trace_capture.h"

#include <gtest/gtest.h>

#include <set>
#include <stdlib.h>
#include <string>
#include <vector>

TEST(ProgramOptions, JarIsFoundOnlyAsTheReadyMadeServicesProgram) {
    struct Case {
        const wchar_t* serviceClass;
        const wchar_t* commandLine;
        const wchar_t* jar; // null: none
    } cases[] = {
        {L"com.vantero.core.orb.ProgramService", L"-jar app.jar start", L"app.jar"},
        {L"com/vantero/core/orb/ProgramService",
         L"--start-wait=3 \"--stop-arg=-jar x\" -jar "
         L"\"/opt/my app/app.jar\"",
         L"/opt/my app/app.jar"},
        {L"com.vantero.core.orb.ProgramService", L"com.example.Main -jar app.jar", nullptr},
        {L"com.vantero.core.orb.ProgramService", L"--stop-arg=-jar app.jar", nullptr},
        {L"com.vantero.core.orb.ProgramService", L"-jar", nullptr},
        {L"com.vantero.core.orb.ProgramService", L"-jar \"\" x", nullptr},
        {L"com.vantero.core.orb.ProgramService", nullptr, nullptr},
        {L"com.vantero.core.orb.ProgramServiceX", L"-jar app.jar", nullptr},
        {L"com.example.Service", L"-jar app.jar", nullptr},
        {nullptr, L"-jar app.jar", nullptr},
    };
    for (const Case& c : cases) {
        wchar_t* jar = programJarOf(c.serviceClass, c.commandLine);
        SCOPED_TRACE(c.commandLine ? c.commandLine : L"(none)");
        if (c.jar == nullptr) {
            EXPECT_EQ(jar, nullptr);
        } else {
            ASSERT_NE(jar, nullptr);
            EXPECT_STREQ(jar, c.jar);
        }
        free(jar);
    }
}

TEST(ProgramOptions, AnOptionIsNamedForOthersWithoutItsValue) {
    EXPECT_EQ(L"jvmOption3 (-Ddb.password=...)", describeVmOption(3, L"-Ddb.password=S3cret"));
    EXPECT_EQ(L"jvmOption1 (-XX:Flags=...)", describeVmOption(1, L"-XX:Flags=a=b"));
    EXPECT_EQ(L"jvmOption12", describeVmOption(12, L"-Xmx512m"));
    EXPECT_EQ(L"jvmOption2", describeVmOption(2, nullptr));
}

TEST(ProgramOptions, JarGoesFirstOnTheClassPath) {
    const std::string sep = BRONTEL_CLASS_PATH_SEPARATOR;
    struct Case {
        const char* option;
        std::string expected;
    } cases[] = {
        {nullptr, "-Djava.class.path=/srv/app.jar"},
        {"-Djava.class.path=", "-Djava.class.path=/srv/app.jar"},
        {"-Djava.class.path=/lib/a.jar" BRONTEL_CLASS_PATH_SEPARATOR "/lib/b",
         "-Djava.class.path=/srv/app.jar" + sep + "/lib/a.jar" + sep + "/lib/b"},
    };
    for (const Case& c : cases) {
        char* option = classPathWithJar(c.option, L"/srv/app.jar");
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(std::string(option), c.expected);
        free(option);
    }
    // Like every VM option, in the ANSI code page.
    char* text = classPathWithJar(nullptr, L"/srv/caf\u00e9.jar");
    char* jar = convertToMBCS(L"/srv/caf\u00e9.jar");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(jar, nullptr);
    EXPECT_EQ(std::string(text), std::string("-Djava.class.path=") + jar);
    free(jar);
    free(text);
}

namespace {
// Just enough of a VM for findOrDefineClass: a class path of known names, a pending-exception
// flag, and a record of the classes defined and the loader they went to.
struct FakeVm {
    std::set<std::string> classPath;
    bool pending = false;
    bool defineFails = false;
    std::vector<std::string> defined;
    std::vector<jobject> loaders;
    bool byteCodeValid = true;
};
FakeVm* vm = nullptr;
char classHandle, loaderHandle, methodHandle;

jclass JNICALL findClass(JNIEnv*, const char* name) {
    if (vm->pending) {
        ADD_FAILURE() << "FindClass with an exception pending";
    }
    if (vm->classPath.count(name) != 0) {
        return reinterpret_cast<jclass>(&classHandle);
    }
    vm->pending = true;
    return nullptr;
}
jboolean JNICALL exceptionCheck(JNIEnv*) {
    return vm->pending ? JNI_TRUE : JNI_FALSE;
}
jthrowable JNICALL exceptionOccurred(JNIEnv*) {
    return vm->pending ? reinterpret_cast<jthrowable>(&classHandle) : nullptr;
}
void JNICALL exceptionClear(JNIEnv*) {
    vm->pending = false;
}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass, const char* name, const char*) {
    EXPECT_STREQ(name, "getSystemClassLoader");
    return reinterpret_cast<jmethodID>(&methodHandle);
}
jobject JNICALL callStaticObjectMethodV(JNIEnv*, jclass, jmethodID, va_list) {
    return reinterpret_cast<jobject>(&loaderHandle);
}
jclass JNICALL defineClass(JNIEnv*, const char* name, jobject loader, const jbyte* bytes,
                           jsize size) {
    if (vm->pending) {
        ADD_FAILURE() << "DefineClass with an exception pending";
    }
    vm->byteCodeValid = vm->byteCodeValid && size > 4 &&
                        static_cast<unsigned char>(bytes[0]) == 0xCA &&
                        static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (vm->defineFails) {
        vm->pending = true;
        return nullptr;
    }
    vm->defined.push_back(name);
    vm->loaders.push_back(loader);
    return reinterpret_cast<jclass>(&classHandle);
}

class EmbeddedClassesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vm = &fake;
        functions.FindClass = findClass;
        functions.ExceptionCheck = exceptionCheck;
        functions.ExceptionOccurred = exceptionOccurred;
        functions.ExceptionClear = exceptionClear;
        functions.DeleteLocalRef = deleteLocalRef;
        functions.GetStaticMethodID = getStaticMethodID;
        functions.CallStaticObjectMethodV = callStaticObjectMethodV;
        functions.DefineClass = defineClass;
        env.functions = &functions;
        // The class loader's own class is there in any VM.
        fake.classPath.insert("java/lang/ClassLoader");
    }
    void TearDown() override { vm = nullptr; }
    FakeVm fake;
    JNINativeInterface_ functions{};
    JNIEnv env{};
};
} // namespace

TEST_F(EmbeddedClassesTest, TheClassPathsClassIsUsedWhenItHasOne) {
    TraceCapture trace(L"embedded-found");
    fake.classPath.insert("com/vantero/core/orb/BrontelManager");
    EXPECT_NE(findOrDefineClass(&env, "com/vantero/core/orb/BrontelManager", trace.get()), nullptr);
    EXPECT_TRUE(fake.defined.empty());
}

TEST_F(EmbeddedClassesTest, TheProgramsCopyWithItsNestedClassesGoesToTheSystemLoader) {
    TraceCapture trace(L"embedded-defined");
    ASSERT_GE(embeddedClassCount, 3u);
    jclass found = findOrDefineClass(&env, "com/vantero/core/orb/ProgramService", trace.get());
    EXPECT_NE(found, nullptr);
    EXPECT_FALSE(fake.pending);
    std::set<std::string> defined(fake.defined.begin(), fake.defined.end());
    EXPECT_EQ(defined,
              (std::set<std::string>{"com/vantero/core/orb/ProgramService",
                                     "com/vantero/core/orb/ProgramService$Settings",
                                     "com/vantero/core/orb/ProgramService$StartException"}));
    for (jobject loader : fake.loaders) {
        EXPECT_EQ(loader, reinterpret_cast<jobject>(&loaderHandle));
    }
    EXPECT_TRUE(fake.byteCodeValid);
    EXPECT_EQ(trace.lines(),
              std::vector<std::string>{"The class path lacks the class; the program's own copy is "
                                       "used: com/vantero/core/orb/ProgramService"});
}

TEST_F(EmbeddedClassesTest, AClassTheProgramDoesNotCarryStaysNotFound) {
    TraceCapture trace(L"embedded-other");
    // A prefix of a carried name is another class.
    for (const char* name : {"com/vantero/core/orb/Program", "com/example/Service"}) {
        EXPECT_EQ(findOrDefineClass(&env, name, trace.get()), nullptr);
        // The lookup's exception is left for the caller to trace.
        EXPECT_TRUE(fake.pending);
        fake.pending = false;
    }
    EXPECT_TRUE(fake.defined.empty());
}

TEST_F(EmbeddedClassesTest, ACopyThatCannotBeDefinedIsTracedAndNothingIsLeftPending) {
    TraceCapture trace(L"embedded-fails");
    fake.defineFails = true;
    EXPECT_EQ(findOrDefineClass(&env, "com/vantero/core/orb/BrontelManager", trace.get()), nullptr);
    EXPECT_FALSE(fake.pending);
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "The program's own copy of a class cannot be defined: (no description)");
    EXPECT_EQ(lines[1], "The class: com/vantero/core/orb/BrontelManager");
}
