// Every test runs headless, loopback only, and knows where the sources and the
// program's output folder are.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(TestEnvironment, CarriesEveryVariable)
{
    for (const char* name : {"QT_QPA_PLATFORM", "QELM2_LOOPBACK_ONLY", "QELM2_TEST_SOURCE_DIR", "QELM2_TEST_BIN_DIR"}) {
        const char* value = std::getenv(name);
        ASSERT_NE(value, nullptr) << name;
        EXPECT_FALSE(std::string(value).empty()) << name;
    }
    EXPECT_STREQ(std::getenv("QELM2_LOOPBACK_ONLY"), "1");
}
