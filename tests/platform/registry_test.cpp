#include "common/environment.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

using namespace platform;
using testing_support::TestEnvironment;

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\Version");

// Any value written reads back as written: the settings store fuzz target checks it.
TEST(Registry, KeysAndDefaultValuesAndDeletingASubtree)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    const auto root = RegistryRoot::LocalMachine;
    EXPECT_FALSE(r.ReadValue(root, kKey).has_value());
    ASSERT_TRUE(r.CreateKey(root, kKey));
    EXPECT_TRUE(r.KeyExists(root, kKey));
    // A key without a default value; an empty value is a value.
    EXPECT_FALSE(r.ReadValue(root, kKey).has_value());
    r.WriteValue(root, kKey, QString(), QString());
    EXPECT_EQ(r.ReadValue(root, kKey), QString());

    // Deleting a key takes its sub-keys, whatever the case, but not its neighbours.
    r.WriteValue(root, QStringLiteral("A\\B\\C"), QString(), QStringLiteral("1"));
    r.WriteValue(root, QStringLiteral("A\\BB"), QString(), QStringLiteral("2"));
    ASSERT_TRUE(r.DeleteKey(root, QStringLiteral("a\\b")));
    EXPECT_FALSE(r.KeyExists(root, QStringLiteral("A\\B")));
    EXPECT_FALSE(r.KeyExists(root, QStringLiteral("A\\B\\C")));
    EXPECT_EQ(r.ReadValue(root, QStringLiteral("A\\BB")), QStringLiteral("2"));
}

// Found by fuzzing: a key path is one line of the store, so one with a line break is
// refused, and the values of the key before it stay its own.
TEST(Registry, RefusesAKeyPathWithALineBreak)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    const auto root = RegistryRoot::LocalMachine;
    ASSERT_TRUE(r.WriteValue(root, QStringLiteral("Before"), QString(), QStringLiteral("kept")));
    EXPECT_FALSE(r.WriteValue(root, QStringLiteral("a\nb"), QString(), QStringLiteral("lost")));
    EXPECT_FALSE(r.CreateKey(root, QStringLiteral("\n")));
    EXPECT_EQ(r.ReadValue(root, QStringLiteral("Before")), QStringLiteral("kept"));
    EXPECT_EQ(r.SubKeys(root, QString()), QStringList{QStringLiteral("Before")});
}

} // namespace
