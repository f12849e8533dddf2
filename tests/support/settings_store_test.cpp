// The settings store over the real registry files of a private registry folder.

#include "support_fixture.h"

#include "platform/registry.h"

namespace support_tests {
namespace {

using platform::RegistryRoot;

const QString kMainKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2");

class SettingsStoreTest : public ::testing::Test
{
protected:
    platform::Services Services()
    {
        platform::Services s = testing_support::TestServices(prompter, clock);
        s.registry = &registry;
        return s;
    }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    RecordingRegistry registry;
};

TEST_F(SettingsStoreTest, MissingSettingReadsEmptyAndTheMainKeyIsCreatedOnce)
{
    MainDialog dialog(Services());
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Startup")), QString());
    EXPECT_TRUE(platform::TheRegistry().KeyExists(RegistryRoot::LocalMachine, kMainKey));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Admin")), QString());
    // Reading again does not rewrite the store.
    EXPECT_EQ(registry.changes, QStringList{QStringLiteral("create ") + kMainKey});
}

TEST_F(SettingsStoreTest, EachSettingIsTheDefaultValueOfItsOwnSubKey)
{
    MainDialog dialog(Services());
    dialog.WriteAppSetting(QStringLiteral("Startup"), QStringLiteral("1"));
    dialog.WriteAppSetting(QStringLiteral("Admin"), QStringLiteral("0"));
    EXPECT_EQ(platform::TheRegistry().ReadValue(RegistryRoot::LocalMachine,
                                                kMainKey + QStringLiteral("\\Startup")),
              QStringLiteral("1"));
    EXPECT_EQ(platform::TheRegistry().ReadValue(RegistryRoot::LocalMachine,
                                                kMainKey + QStringLiteral("\\Admin")),
              QStringLiteral("0"));
    EXPECT_TRUE(platform::TheRegistry().ValueNames(RegistryRoot::LocalMachine, kMainKey).isEmpty());
    // A named value under the main key is not a setting.
    platform::TheRegistry().WriteValue(
        RegistryRoot::LocalMachine, kMainKey, QStringLiteral("Version"), QStringLiteral("9.9"));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Version")), QString());
    // The store is the machine root, not the classes root.
    platform::TheRegistry().WriteValue(RegistryRoot::ClassesRoot,
                                       kMainKey + QStringLiteral("\\Version"),
                                       QString(),
                                       QStringLiteral("8.8"));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Version")), QString());
}

struct StoredTextCase
{
    const char *label;
    QString stored;
    QString read;
};

class StoredTextTest : public SettingsStoreTest,
                       public ::testing::WithParamInterface<StoredTextCase>
{};

TEST_P(StoredTextTest, ReadsBackWholeOrNotAtAll)
{
    MainDialog dialog(Services());
    dialog.WriteAppSetting(QStringLiteral("InstallDir"), GetParam().stored);
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("InstallDir")), GetParam().read);
    // What was written is kept whole, even where it cannot be read back.
    EXPECT_EQ(platform::TheRegistry().ReadValue(RegistryRoot::LocalMachine,
                                                kMainKey + QStringLiteral("\\InstallDir")),
              GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Texts,
    StoredTextTest,
    ::testing::Values(StoredTextCase{"digit", QStringLiteral("1"), QStringLiteral("1")},
                      StoredTextCase{"folder",
                                     QStringLiteral("/opt/Vantorel Converter/"),
                                     QStringLiteral("/opt/Vantorel Converter/")},
                      StoredTextCase{"unicode",
                                     QStringLiteral("/home/j\u00f6rg/\u5199\u771f/"),
                                     QStringLiteral("/home/j\u00f6rg/\u5199\u771f/")},
                      StoredTextCase{"longest", QString(511, u'a'), QString(511, u'a')},
                      StoredTextCase{"one too long", QString(512, u'a'), QString()},
                      StoredTextCase{"far too long", QString(5000, u'b'), QString()},
                      StoredTextCase{"data after a null",
                                     QStringLiteral("2.1") + QChar(u'\0') + QStringLiteral("junk"),
                                     QStringLiteral("2.1")}),
    [](const auto &row) {
        QString name = QString::fromLatin1(row.param.label);
        name.replace(u' ', u'_');
        return name.toStdString();
    });

TEST_F(SettingsStoreTest, SubKeyNamesMatchWithoutRegardToCase)
{
    MainDialog dialog(Services());
    platform::TheRegistry().WriteValue(RegistryRoot::LocalMachine,
                                       QStringLiteral("software\\clients\\tarvix2\\ADMIN"),
                                       QString(),
                                       QStringLiteral("1"));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Admin")), QStringLiteral("1"));
}

} // namespace
} // namespace support_tests
