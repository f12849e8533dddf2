// Finding compressors by friendly name: over the engine's real device enumerator, and over
// a scripted one for the enumerator's failures, which the real one never shows.

#include "support_fixture.h"

#include "engine/compressor_list.h"
#include "engine/device_enum.h"
#include "engine/engine_classes.h"
#include "platform/class_store.h"

#include <atomic>

namespace support_tests {
namespace {

using engine::IBaseFilter;
using platform::ComPtr;
using platform::HRESULT;

class CodecDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override { engine::RegisterEngineClasses(); }
    // Puts the engine's enumerator back after a test replaced it.
    void TearDown() override { engine::RegisterGraphClasses(); }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    MainDialog dialog{testing_support::TestServices(prompter, clock)};
};

struct NameCase
{
    bool video;
    const char *name;
    bool found;
};
void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << (c.video ? "video \"" : "audio \"") << c.name << '"';
}

class CompressorNameTest : public CodecDiscoveryTest, public ::testing::WithParamInterface<NameCase>
{};

TEST_P(CompressorNameTest, OnlyTheWholeNameInItsOwnCaseMatches)
{
    const NameCase c = GetParam();
    ComPtr<IBaseFilter> filter;
    const QString name = QString::fromUtf8(c.name);
    const bool found
        = c.video ? dialog.FindVideoCompressor(filter, name) : dialog.FindAudioCompressor(filter);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(static_cast<bool>(filter), c.found);
    if (filter) {
        // A working compressor: it has an input and an output pin.
        EXPECT_EQ(filter->EnumPins().size(), 2u);
    }
    EXPECT_TRUE(prompter.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(Names,
                         CompressorNameTest,
                         ::testing::Values(NameCase{true, "Cinepak Codec by Radius", true},
                                           NameCase{true, "Microsoft Video 1", true},
                                           NameCase{true, "cinepak codec by radius", false},
                                           NameCase{true, "Cinepak Codec", false},
                                           NameCase{true, "Cinepak Codec by Radius ", false},
                                           NameCase{true, "MPEG Layer-3", false},
                                           NameCase{true, "Microsoft Windows Media Video 9", false},
                                           NameCase{true, "Intel Indeo(R) Video R3.2", false},
                                           NameCase{false, "MPEG Layer-3", true}));

TEST_F(CodecDiscoveryTest, AnInstalledCompressorIsFoundOnceItIsInTheList)
{
    ComPtr<IBaseFilter> filter;
    const QString name = QStringLiteral("Microsoft Windows Media Video 9");
    EXPECT_FALSE(dialog.FindVideoCompressor(filter, name));
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    auto &registry = platform::TheRegistry();
    const auto root = platform::RegistryRoot::LocalMachine;
    registry.WriteValue(root, entry, QString(), name);
    registry.WriteValue(root, entry, QStringLiteral("Encoder"), QStringLiteral("mpeg4"));
    registry.WriteValue(root, entry, QStringLiteral("Options"), QStringLiteral("q=2"));
    EXPECT_TRUE(dialog.FindVideoCompressor(filter, name));
    EXPECT_TRUE(filter);
}

TEST_F(CodecDiscoveryTest, NoEnumeratorIsReportedAndGivesNothing)
{
    platform::UnregisterBuiltInClass(engine::CLSID_SystemDeviceEnum);
    ComPtr<IBaseFilter> filter;
    EXPECT_FALSE(dialog.FindVideoCompressor(filter, QStringLiteral("Microsoft Video 1")));
    EXPECT_FALSE(dialog.FindAudioCompressor(filter));
    EXPECT_EQ(prompter.BoxTexts(),
              QStringList(2, QStringLiteral("Failed to create system enumerator")));
    EXPECT_EQ(prompter.Records().front().kind, testing_support::PromptRecord::AppBox);
}

// ---- A scripted enumerator -------------------------------------------------------------

// Objects of the scripted enumerator alive at the moment: every one must be gone once a
// lookup has returned (the bound filter excepted).
std::atomic<int> g_liveObjects{0};

struct Device
{
    QString name;
    QString filterName;               // name of the filter a bind gives
    HRESULT storage = platform::S_OK; // BindToStorage
    HRESULT read = platform::S_OK;    // the bag's Read
    HRESULT bind = platform::S_OK;    // BindToObject
};

template <class... Is>
class Counted : public platform::ComObject<Is...>
{
public:
    Counted() { ++g_liveObjects; }
    ~Counted() override { --g_liveObjects; }
};

class FakeFilter final : public platform::ComObject<IBaseFilter>
{
public:
    explicit FakeFilter(QString name)
        : m_name(std::move(name))
    {}
    std::vector<ComPtr<engine::IPin>> EnumPins() override { return {}; }
    HRESULT JoinFilterGraph(engine::IFilterGraph *, const QString &) override
    {
        return platform::S_OK;
    }
    QString Name() const override { return m_name; }
    HRESULT Run() override { return platform::S_OK; }
    HRESULT Stop() override { return platform::S_OK; }

private:
    QString m_name;
};

// A device: its moniker is also its property bag.
class FakeMoniker final : public Counted<engine::IMoniker, engine::IPropertyBag>
{
public:
    explicit FakeMoniker(Device d)
        : m_device(std::move(d))
    {}
    HRESULT BindToStorage(const engine::Guid &iid, void **out) override
    {
        *out = nullptr;
        return platform::Failed(m_device.storage) ? m_device.storage : QueryInterface(iid, out);
    }
    HRESULT Read(const QString &property, engine::VARIANT *value, void *) override
    {
        if (property != QLatin1String("FriendlyName"))
            return platform::E_INVALIDARG;
        if (m_device.read != platform::S_OK)
            return m_device.read;
        value->vt = engine::VT_BSTR;
        value->bstrVal = m_device.name;
        return platform::S_OK;
    }
    HRESULT BindToObject(const engine::Guid &iid, void **out) override
    {
        *out = nullptr;
        if (platform::Failed(m_device.bind))
            return m_device.bind;
        return platform::MakeObject<FakeFilter, IBaseFilter>(m_device.filterName)
            ->QueryInterface(iid, out);
    }

private:
    Device m_device;
};

class FakeEnum final : public Counted<engine::IEnumMoniker>
{
public:
    explicit FakeEnum(std::vector<Device> devices)
        : m_devices(std::move(devices))
    {}
    HRESULT Next(std::uint32_t count, engine::IMoniker **out, std::uint32_t *fetched) override
    {
        std::uint32_t taken = 0;
        while (taken < count && m_next < m_devices.size())
            out[taken++]
                = platform::MakeObject<FakeMoniker, engine::IMoniker>(m_devices[m_next++]).Detach();
        if (fetched)
            *fetched = taken;
        return taken == count ? platform::S_OK : platform::S_FALSE;
    }
    HRESULT Skip(std::uint32_t) override { return platform::E_NOTIMPL; }
    HRESULT Reset() override
    {
        m_next = 0;
        return platform::S_OK;
    }

private:
    std::vector<Device> m_devices;
    std::size_t m_next = 0;
};

struct EnumeratorScript
{
    HRESULT classEnumResult = platform::S_OK;
    bool giveEnumerator = true;
    std::vector<Device> devices;
    // Categories asked for.
    std::vector<engine::Guid> categories;
};

class FakeDevEnum final : public Counted<engine::ICreateDevEnum>
{
public:
    explicit FakeDevEnum(EnumeratorScript *script)
        : m_script(script)
    {}
    HRESULT CreateClassEnumerator(const engine::Guid &category,
                                  engine::IEnumMoniker **out,
                                  std::uint32_t) override
    {
        m_script->categories.push_back(category);
        *out = nullptr;
        if (m_script->giveEnumerator && platform::Succeeded(m_script->classEnumResult)) {
            auto e = platform::MakeObject<FakeEnum, engine::IEnumMoniker>(m_script->devices);
            // Starts past the first device: the lookup must rewind it.
            std::uint32_t skipped = 0;
            engine::IMoniker *first = nullptr;
            if (e->Next(1, &first, &skipped) == platform::S_OK)
                first->Release();
            *out = e.Detach();
        }
        return m_script->classEnumResult;
    }

private:
    EnumeratorScript *m_script;
};

class ScriptedEnumeratorTest : public CodecDiscoveryTest
{
protected:
    void SetUp() override
    {
        CodecDiscoveryTest::SetUp();
        g_liveObjects = 0;
        platform::RegisterBuiltInClass(
            engine::CLSID_SystemDeviceEnum, [this](const platform::Iid &iid, void **out) {
                return platform::MakeObject<FakeDevEnum, engine::ICreateDevEnum>(&script)
                    ->QueryInterface(iid, out);
            });
    }

    // Looks for `name`; the bound filter's name, or nothing.
    std::optional<QString> Find(const QString &name)
    {
        ComPtr<IBaseFilter> filter;
        const bool found = dialog.FindVideoCompressor(filter, name);
        EXPECT_EQ(found, static_cast<bool>(filter));
        EXPECT_EQ(g_liveObjects.load(), 0) << "objects of the lookup were not released";
        if (!found)
            return std::nullopt;
        return filter->Name();
    }

    EnumeratorScript script;
};

TEST_F(ScriptedEnumeratorTest, ClassEnumeratorFailureIsReportedAndAnEmptyCategoryIsNot)
{
    script.classEnumResult = platform::E_FAIL;
    EXPECT_EQ(Find(QStringLiteral("A")), std::nullopt);
    EXPECT_EQ(prompter.BoxTexts(),
              QStringList{QStringLiteral("Failed to create class enumerator")});

    prompter.Clear();
    script.classEnumResult = platform::S_FALSE;
    script.giveEnumerator = false;
    EXPECT_EQ(Find(QStringLiteral("A")), std::nullopt);
    EXPECT_TRUE(prompter.Records().empty());
}

TEST_F(ScriptedEnumeratorTest, TheFirstOfTwoDevicesWithTheSameNameIsTaken)
{
    script.devices = {{"A", "first A"}, {"B", "B"}, {"A", "second A"}};
    EXPECT_EQ(Find(QStringLiteral("A")), QStringLiteral("first A"));
    EXPECT_EQ(Find(QStringLiteral("B")), QStringLiteral("B"));
    EXPECT_EQ(script.categories.front(), engine::CLSID_VideoCompressorCategory);
    ComPtr<IBaseFilter> filter;
    dialog.FindAudioCompressor(filter);
    EXPECT_EQ(script.categories.back(), engine::CLSID_AudioCompressorCategory);
}

TEST_F(ScriptedEnumeratorTest, UnreadableDevicesAreSkippedAndAFailedBindEndsTheSearch)
{
    script.devices = {{"A", "no bag", platform::E_FAIL},
                      {"A", "no name", platform::S_OK, platform::E_INVALIDARG},
                      {"A", "not exactly success", platform::S_OK, platform::S_FALSE},
                      {"A", "readable"}};
    EXPECT_EQ(Find(QStringLiteral("A")), QStringLiteral("readable"));

    script.devices
        = {{"A", "broken", platform::S_OK, platform::S_OK, platform::E_FAIL}, {"A", "working"}};
    EXPECT_EQ(Find(QStringLiteral("A")), std::nullopt);
    EXPECT_TRUE(prompter.Records().empty());
}

} // namespace
} // namespace support_tests
