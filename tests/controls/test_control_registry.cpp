// The control table: a class is creatable only once enabled and with a factory of that type.
#include "controls/control_registry.h"

#include <gtest/gtest.h>

namespace {

struct FakeControl {
    int value = 7;
};
struct OtherControl {};

TEST(ControlRegistry, CreatableOnlyWhenEnabledWithMatchingFactory)
{
    qelm::ResetControlClasses();
    const std::string id = "Test.FakeControl";
    qelm::RegisterControlFactory<FakeControl>(id, [] { return std::make_shared<FakeControl>(); });
    EXPECT_FALSE(qelm::IsControlClassEnabled(id));
    EXPECT_EQ(qelm::CreateControl<FakeControl>(id), nullptr); // library not registered

    EXPECT_EQ(qelm2_EnableControlClass(id.c_str()), 0);
    auto c = qelm::CreateControl<FakeControl>(id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->value, 7);
    EXPECT_EQ(qelm::CreateControl<OtherControl>(id), nullptr); // wrong type asked

    EXPECT_EQ(qelm2_EnableControlClass(""), -1);
    EXPECT_EQ(qelm2_EnableControlClass(nullptr), -1);
    qelm2_EnableControlClass("Test.NoFactory");
    EXPECT_EQ(qelm::CreateControl<FakeControl>("Test.NoFactory"), nullptr);
    qelm::ResetControlClasses();
    EXPECT_EQ(qelm::CreateControl<FakeControl>(id), nullptr);
}

} // namespace
