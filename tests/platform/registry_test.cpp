#include "common/environment.h"
#include "platform/com.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

using namespace platform;
using testing_support::TestEnvironment;

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\Version");

TEST(Registry, KeysValuesAndTrickyTextsReadBackAsWritten)
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
    const QString tricky = QStringLiteral("C:\\Program Files\\\"x\"\n=[y]\t;z");
    r.WriteValue(root, kKey, QStringLiteral("Other"), tricky);
    EXPECT_EQ(r.ReadValue(root, kKey, QStringLiteral("Other")), tricky);

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

// Class ids are kept in the store as text in braces.
TEST(Guid, ParsesWhatItPrintsAndRefusesMalformedText)
{
    const auto g = Guid::Parse(u"{d781fd6a-dbf5-4e25-ba0e-aef70729c491}");
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->ToString(), QStringLiteral("{D781FD6A-DBF5-4E25-BA0E-AEF70729C491}"));
    EXPECT_EQ(Guid::Parse(u"D781FD6A-DBF5-4E25-BA0E-AEF70729C491"), g);
    // The null id is an id like any other; text after the digits is not.
    EXPECT_EQ(Guid::Parse(u" {00000000-0000-0000-0000-000000000000} "), Guid{});
    for (const char16_t *bad : {u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C49}",
                                u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C49G}",
                                u"{D781FD6A+DBF5-4E25-BA0E-AEF70729C491}",
                                u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C4911}",
                                u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C491",
                                u"{00000000-0000-0000-0000-00000000000Z}"})
        EXPECT_FALSE(Guid::Parse(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

} // namespace
