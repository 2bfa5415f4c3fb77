// The install-time checks of a configuration file: the key a misspelt one was meant to be, and
// the skeleton's placeholders left in values.
#include "install/config_check.h"

#include <gtest/gtest.h>

TEST(ConfigCheck, MisspeltKeysFindTheKeyTheyWereMeantToBe) {
    EXPECT_EQ(closestConfigKey(L"comandLineParms"), L"commandLineParms");
    EXPECT_EQ(closestConfigKey(L"SERVICENAM"), L"serviceName");
    EXPECT_EQ(closestConfigKey(L"jvmDLLL"), L"jvmDLL");
    EXPECT_EQ(closestConfigKey(L"desciprtion"), L"description"); // swapped neighbours
    // A numbered key keeps its number.
    EXPECT_EQ(closestConfigKey(L"jvmOptoin12"), L"jvmOption12");
    // Other words are not slips of the fingers.
    EXPECT_EQ(closestConfigKey(L"frobnicate"), L"");
    EXPECT_EQ(closestConfigKey(L"jvm"), L"");
    EXPECT_EQ(closestConfigKey(L"jvmOptoin"), L"");
    EXPECT_EQ(closestConfigKey(L""), L"");
}

TEST(ConfigCheck, OnlyTheSkeletonsPlaceholderFormIsFound) {
    EXPECT_EQ(findSkeletonPlaceholder(L"$$SERVICENAME$$"), L"$$SERVICENAME$$");
    EXPECT_EQ(findSkeletonPlaceholder(L"C:\\$$DLL$$\\jvm.dll"), L"$$DLL$$");
    EXPECT_EQ(findSkeletonPlaceholder(L"$$TRUE | FALSE$$"), L"$$TRUE | FALSE$$");
    EXPECT_EQ(findSkeletonPlaceholder(L"price$$ and $$OPTION1$$"), L"$$OPTION1$$");
    // Dollar signs of real values: lower case, empty, unclosed.
    EXPECT_EQ(findSkeletonPlaceholder(L"-Dx=$$home$$"), L"");
    EXPECT_EQ(findSkeletonPlaceholder(L"$$$$"), L"");
    EXPECT_EQ(findSkeletonPlaceholder(L"$$NAME"), L"");
    EXPECT_EQ(findSkeletonPlaceholder(nullptr), L"");
}
