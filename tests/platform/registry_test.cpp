#include "common/environment.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

using namespace platform;
using testing_support::TestEnvironment;

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\Version");

TEST(Registry, MissingKeysAndValuesReadAsNothing)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    EXPECT_FALSE(r.ReadValue(RegistryRoot::LocalMachine, kKey).has_value());
    ASSERT_TRUE(r.CreateKey(RegistryRoot::LocalMachine, kKey));
    EXPECT_TRUE(r.KeyExists(RegistryRoot::LocalMachine, kKey));
    // A key without a default value.
    EXPECT_FALSE(r.ReadValue(RegistryRoot::LocalMachine, kKey).has_value());
    EXPECT_FALSE(
        r.ReadValue(RegistryRoot::LocalMachine, kKey, QStringLiteral("Other")).has_value());
    // An empty value is a value.
    r.WriteValue(RegistryRoot::LocalMachine, kKey, QString(), QString());
    EXPECT_EQ(r.ReadValue(RegistryRoot::LocalMachine, kKey), QString());
}

TEST(Registry, TextsWithQuotesBackslashesAndLineBreaksSurvive)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    const QString tricky = QStringLiteral("C:\\Program Files\\\"x\"\n=[y]\t;z");
    r.WriteValue(
        RegistryRoot::ClassesRoot, QStringLiteral("CLSID\\{A}\\InprocServer32"), QString(), tricky);
    EXPECT_EQ(r.ReadValue(RegistryRoot::ClassesRoot, QStringLiteral("CLSID\\{A}\\InprocServer32")),
              tricky);
}

TEST(Registry, DeletingAKeyTakesItsSubKeysButNotItsNeighbours)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    r.WriteValue(
        RegistryRoot::LocalMachine, QStringLiteral("A\\B\\C"), QString(), QStringLiteral("1"));
    r.WriteValue(
        RegistryRoot::LocalMachine, QStringLiteral("A\\BB"), QString(), QStringLiteral("2"));
    ASSERT_TRUE(r.DeleteKey(RegistryRoot::LocalMachine, QStringLiteral("a\\b")));
    EXPECT_FALSE(r.KeyExists(RegistryRoot::LocalMachine, QStringLiteral("A\\B\\C")));
    EXPECT_FALSE(r.KeyExists(RegistryRoot::LocalMachine, QStringLiteral("A\\B")));
    EXPECT_EQ(r.ReadValue(RegistryRoot::LocalMachine, QStringLiteral("A\\BB")),
              QStringLiteral("2"));
}

TEST(Registry, EveryReadSeesWhatAnotherProcessWrote)
{
    TestEnvironment env;
    Registry &r = TheRegistry();
    r.WriteValue(RegistryRoot::LocalMachine, kKey, QString(), QStringLiteral("2.1"));
    // Another process replaces the file (as the codec installer does).
    testing_support::WriteFile(RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg"),
                               "[SOFTWARE\\Clients\\Tarvix2\\Version]\n@=\"3.0\"\n");
    EXPECT_EQ(r.ReadValue(RegistryRoot::LocalMachine, kKey), QStringLiteral("3.0"));
}

TEST(Registry, AStoreThatCannotBeWrittenReportsFailure)
{
    TestEnvironment env;
    env.Set("VANTOREL_REGISTRY_DIR", QStringLiteral("/proc/no-such-place"));
    EXPECT_FALSE(
        TheRegistry().WriteValue(RegistryRoot::LocalMachine, kKey, QString(), QStringLiteral("x")));
}

} // namespace
