#include "common/environment.h"
#include "platform/class_store.h"
#include "platform/registry.h"
#include "test_value.h"

#include <gtest/gtest.h>

using namespace platform;
using testing_support::TestEnvironment;

namespace {

constexpr Guid kBuiltIn = MakeGuid("{11111111-2222-3333-4444-555555555555}");
constexpr Guid kModuleClass = kTestModuleClass;

class Seven final : public ComObject<ITestValue>
{
public:
    explicit Seven(int *alive)
        : m_alive(alive)
    {
        ++*m_alive;
    }
    ~Seven() override { --*m_alive; }
    int Value() override { return 7; }

private:
    int *m_alive;
};

TEST(Guid, ParsesAndPrintsTheBracedForm)
{
    const auto g = Guid::Parse(u"{d781fd6a-dbf5-4e25-ba0e-aef70729c491}");
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->ToString(), QStringLiteral("{D781FD6A-DBF5-4E25-BA0E-AEF70729C491}"));
    EXPECT_EQ(*g, MakeGuid("{D781FD6A-DBF5-4E25-BA0E-AEF70729C491}"));
    EXPECT_EQ(Guid::Parse(u"D781FD6A-DBF5-4E25-BA0E-AEF70729C491"), g);
    for (const char16_t *bad : {u"",
                                u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C49}",
                                u"{D781FD6A-DBF5-4E25-BA0E-AEF70729C49G}",
                                u"{D781FD6A+DBF5-4E25-BA0E-AEF70729C491}"})
        EXPECT_FALSE(Guid::Parse(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

TEST(ClassStore, BuiltInClassesAreCreatedAndReleased)
{
    int alive = 0;
    RegisterBuiltInClass(kBuiltIn, [&alive](const Iid &iid, void **out) {
        return MakeObject<Seven, ITestValue>(&alive)->QueryInterface(iid, out);
    });
    {
        HRESULT hr = E_FAIL;
        ComPtr<ITestValue> value = CreateInstance<ITestValue>(kBuiltIn, &hr);
        EXPECT_EQ(hr, S_OK);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->Value(), 7);
        EXPECT_EQ(alive, 1);
        // Asking for an interface the object does not have.
        void *other = nullptr;
        EXPECT_EQ(value->QueryInterface(MakeGuid("{99999999-0000-0000-0000-000000000000}"), &other),
                  E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(alive, 0);
    UnregisterBuiltInClass(kBuiltIn);
    HRESULT hr = S_OK;
    EXPECT_FALSE(CreateInstance<ITestValue>(kBuiltIn, &hr));
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
}

TEST(ClassStore, RegisteredModulesProvideTheirClasses)
{
    TestEnvironment env;
    const QString key = QStringLiteral("CLSID\\%1\\InprocServer32").arg(kModuleClass.ToString());
    HRESULT hr = S_OK;
    EXPECT_FALSE(CreateInstance<ITestValue>(kModuleClass, &hr));
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

    TheRegistry().WriteValue(
        RegistryRoot::ClassesRoot, key, QString(), QStringLiteral(TEST_MODULE_PATH));
    ComPtr<ITestValue> value = CreateInstance<ITestValue>(kModuleClass, &hr);
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->Value(), 42);

    // A registration whose module is gone is the same as none.
    TheRegistry().WriteValue(
        RegistryRoot::ClassesRoot, key, QString(), env.Root() + QStringLiteral("/missing.dll"));
    EXPECT_FALSE(CreateInstance<ITestValue>(kModuleClass, &hr));
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
}

} // namespace
