// The argument array of serviceMain against a stand-in JNI environment that keeps count of the
// local references made and deleted: the thread that builds it lives as long as the VM, so
// nothing but the array may be left behind.
#include "jvm/service_arguments.h"

#include <gtest/gtest.h>

#include <set>
#include <string.h>
#include <string>
#include <vector>

namespace {
struct FakeVm {
    std::set<jobject> live;
    std::vector<int> objects = std::vector<int>(64);
    size_t next = 0;
    int failStringAt = -1; // the NewString call (counted from 0) that fails
    int strings = 0;
    std::vector<std::u16string> elements;

    jobject make() {
        jobject ref = reinterpret_cast<jobject>(&objects.at(next++));
        live.insert(ref);
        return ref;
    }
};
FakeVm* vm = nullptr;

jstring JNICALL newStringUtf(JNIEnv*, const char*) {
    return static_cast<jstring>(vm->make());
}
jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize units) {
    if (vm->strings++ == vm->failStringAt) {
        return nullptr;
    }
    vm->elements.emplace_back(chars, chars + units);
    return static_cast<jstring>(vm->make());
}
jclass JNICALL findClass(JNIEnv*, const char* name) {
    EXPECT_STREQ(name, "java/lang/String");
    return static_cast<jclass>(vm->make());
}
jobjectArray JNICALL newObjectArray(JNIEnv*, jsize, jclass type, jobject initial) {
    EXPECT_TRUE(vm->live.count(type) && vm->live.count(initial));
    return static_cast<jobjectArray>(vm->make());
}
void JNICALL setElement(JNIEnv*, jobjectArray array, jsize, jobject value) {
    EXPECT_TRUE(vm->live.count(array) && vm->live.count(value));
}
void JNICALL deleteLocalRef(JNIEnv*, jobject ref) {
    EXPECT_EQ(vm->live.erase(ref), 1u) << "deleted twice or never made";
}

class ServiceArguments : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(&functions, 0, sizeof functions);
        functions.NewStringUTF = newStringUtf;
        functions.NewString = newString;
        functions.FindClass = findClass;
        functions.NewObjectArray = newObjectArray;
        functions.SetObjectArrayElement = setElement;
        functions.DeleteLocalRef = deleteLocalRef;
        env.functions = &functions;
        vm = &fake;
    }
    void TearDown() override { vm = nullptr; }

    JNINativeInterface_ functions;
    JNIEnv env;
    FakeVm fake;
};
} // namespace

TEST_F(ServiceArguments, OnlyTheArrayIsLeftAlive) {
    const wchar_t args[] = L"one\0\0two";
    jobjectArray array = buildServiceArguments(&env, args, 3);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(fake.live, std::set<jobject>{array});
    EXPECT_EQ(fake.elements, (std::vector<std::u16string>{u"one", u"", u"two"}));

    FakeVm none;
    vm = &none;
    jobjectArray empty = buildServiceArguments(&env, L"", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(none.live, std::set<jobject>{empty});
}

TEST_F(ServiceArguments, AFailureLeavesNothingAlive) {
    fake.failStringAt = 1;
    EXPECT_EQ(buildServiceArguments(&env, L"one\0two", 2), nullptr);
    EXPECT_TRUE(fake.live.empty());
}
