// The system device enumerator: built-in compressors, the machine's compressor list in
// the registry, and compressors bound from monikers doing real work.

#include "graph_test_source.h"

#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/device_enum.h"
#include "engine/graph/filter_graph_pins.h"

#include "platform/class_store.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace engine;
using namespace graphtest;

namespace {

// Points the registry layer at a scratch folder for the test's lifetime.
class GraphDeviceEnum : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = qgetenv("VANTOREL_REGISTRY_DIR");
        qputenv("VANTOREL_REGISTRY_DIR", m_registry.path().toUtf8());
        RegisterGraphClasses();
    }
    void TearDown() override
    {
        if (m_saved.isEmpty())
            qunsetenv("VANTOREL_REGISTRY_DIR");
        else
            qputenv("VANTOREL_REGISTRY_DIR", m_saved);
    }

    static void Install(const QString &id,
                        const QString &name,
                        const QString &encoder,
                        const QString &options,
                        const QString &category = kCompressorListKeyVideo)
    {
        auto &reg = platform::TheRegistry();
        const QString key = category + u'\\' + id;
        const auto root = platform::RegistryRoot::LocalMachine;
        ASSERT_TRUE(reg.WriteValue(root, key, QString(), name));
        if (!encoder.isNull()) {
            ASSERT_TRUE(reg.WriteValue(root, key, kCompressorEncoderValue, encoder));
        }
        if (!options.isNull()) {
            ASSERT_TRUE(reg.WriteValue(root, key, kCompressorOptionsValue, options));
        }
    }

    // Calls `visit` with the friendly name and moniker of each device of the category, in
    // the enumerator's order, until it returns true.
    template <class Visit>
    static void ForEachDevice(const Guid &category, Visit visit)
    {
        auto devices = platform::CreateInstance<ICreateDevEnum>(CLSID_SystemDeviceEnum);
        ComPtr<IEnumMoniker> monikers;
        if (!devices || devices->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK)
            return;
        ComPtr<IMoniker> moniker;
        while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
            ComPtr<IPropertyBag> bag;
            VARIANT name;
            name.vt = VT_BSTR;
            if (Succeeded(moniker->BindToStorage(IPropertyBag::kIid, bag.PutVoid()))
                && bag->Read(QStringLiteral("FriendlyName"), &name, nullptr) == S_OK
                && visit(QString(name.bstrVal), moniker.Get()))
                return;
        }
    }

    static QStringList FriendlyNames(const Guid &category)
    {
        QStringList names;
        ForEachDevice(category, [&](const QString &name, IMoniker *) {
            names << name;
            return false;
        });
        return names;
    }

    // The compressor of that name bound from its moniker, as the codec lookup does.
    static HRESULT Bind(const Guid &category, const QString &wanted, ComPtr<IBaseFilter> *filter)
    {
        HRESULT hr = E_FAIL;
        ForEachDevice(category, [&](const QString &name, IMoniker *moniker) {
            if (name != wanted)
                return false;
            hr = moniker->BindToObject(IBaseFilter::kIid, filter->PutVoid());
            return true;
        });
        return hr;
    }

private:
    QTemporaryDir m_registry;
    QByteArray m_saved;
};

const QString kWmv9 = QStringLiteral("Microsoft Windows Media Video 9");

} // namespace

TEST_F(GraphDeviceEnum, InstalledCompressorsAppearAndGoAtTheNextEnumeration)
{
    // The built-in compressors by their exact names; a category without devices is empty.
    auto devices = platform::CreateInstance<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    ComPtr<IEnumMoniker> before, none;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, before.Put(), 0), S_OK);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_FilterGraph, none.Put(), 0), S_FALSE);
    EXPECT_FALSE(none);
    EXPECT_EQ(FriendlyNames(CLSID_VideoCompressorCategory),
              QStringList({QStringLiteral("Cinepak Codec by Radius"),
                           QStringLiteral("Microsoft Video 1")}));

    Install(QStringLiteral("wmv9"), kWmv9, QStringLiteral("mpeg4"), QStringLiteral("q=2"));
    Install(QStringLiteral("broken"), QStringLiteral("No Encoder Named"), QString(), QString());
    Install(
        QStringLiteral("zz"), QStringLiteral("Later One"), QStringLiteral("msvideo1"), QString());
    EXPECT_EQ(FriendlyNames(CLSID_VideoCompressorCategory),
              QStringList({QStringLiteral("Cinepak Codec by Radius"),
                           QStringLiteral("Microsoft Video 1"),
                           kWmv9,
                           QStringLiteral("Later One")}));
    EXPECT_EQ(FriendlyNames(CLSID_AudioCompressorCategory),
              QStringList({QStringLiteral("MPEG Layer-3")}));

    // An enumerator made earlier keeps the list it was made with.
    std::uint32_t fetched = 0;
    IMoniker *batch[4] = {};
    EXPECT_EQ(before->Next(4, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (std::uint32_t i = 0; i < fetched; ++i)
        batch[i]->Release();

    ASSERT_TRUE(platform::TheRegistry().DeleteKey(
        platform::RegistryRoot::LocalMachine, kCompressorListKeyVideo + QStringLiteral("\\wmv9")));
    EXPECT_FALSE(FriendlyNames(CLSID_VideoCompressorCategory).contains(kWmv9));
}

TEST_F(GraphDeviceEnum, BrokenInstalledEntriesDoNotBind)
{
    const struct
    {
        const char *name, *encoder, *options;
    } broken[] = {{"Unknown Encoder", "nosuchencoder", nullptr},
                  {"Audio As Video", "libmp3lame", nullptr},
                  {"Unknown Option", "mpeg4", "q=2:nosuch=1"},
                  {"Malformed Options", "mpeg4", "q2"}};
    for (const auto &entry : broken)
        Install(entry.name, entry.name, entry.encoder, entry.options ? entry.options : QString());
    for (const auto &entry : broken) {
        ComPtr<IBaseFilter> filter;
        EXPECT_TRUE(Failed(Bind(CLSID_VideoCompressorCategory, entry.name, &filter))) << entry.name;
        EXPECT_FALSE(filter) << entry.name;
    }
}

namespace {

struct BoundCase
{
    const char *friendlyName;
    const char *codec;
    int tolerance; // per channel, for the decoded colours
};

std::ostream &operator<<(std::ostream &os, const BoundCase &c)
{
    return os << c.codec;
}

class GraphBoundCompressor : public GraphDeviceEnum, public ::testing::WithParamInterface<BoundCase>
{};

} // namespace

TEST_P(GraphBoundCompressor, WritesDecodableVideo)
{
    Install(QStringLiteral("wmv9"), kWmv9, QStringLiteral("mpeg4"), QStringLiteral("q=2"));
    const BoundCase &c = GetParam();
    ComPtr<IBaseFilter> compressor;
    ASSERT_EQ(Bind(CLSID_VideoCompressorCategory, QString::fromLatin1(c.friendlyName), &compressor),
              S_OK);

    Rig rig;
    const int frames = 12;
    // Pure red, then a blue with little red, all of the picture changing at once; frames
    // 2-5 and 8-11 are repeats (holds), so inter frames that code nothing are decoded too.
    auto colourOf = [](int i) { return i < 6 ? 0xFF0000u : 0x0A40D0u; };
    auto repeatOf = [](int i) { return i % 6 >= 2; };
    ASSERT_EQ(rig.Chain(VideoScript(64, 48, frames, colourOf, repeatOf), compressor, 0), S_OK);
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    ASSERT_EQ(avi.streams.size(), 1u);
    EXPECT_EQ(avi.streams[0].codec, QString::fromLatin1(c.codec));
    EXPECT_EQ(avi.streams[0].headerFrames, frames);
    const auto colours = DecodeVideoColours(rig.path);
    ASSERT_EQ(static_cast<int>(colours.size()), frames);
    for (int i : {0, 5, 6, 11}) {
        EXPECT_TRUE(ColoursClose(colours[i].top, colourOf(i), c.tolerance))
            << "frame " << i << std::hex << " " << colours[i].top;
        EXPECT_TRUE(ColoursClose(colours[i].bottom, ~colourOf(i) & 0xFFFFFF, c.tolerance))
            << "frame " << i;
    }
    EXPECT_EQ(ProbeWarnings(rig.path), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Compressors,
    GraphBoundCompressor,
    ::testing::Values(BoundCase{"Microsoft Windows Media Video 9", "mpeg4", 16},
                      BoundCase{"Cinepak Codec by Radius", "cinepak", 12},
                      BoundCase{"Microsoft Video 1", "msvideo1", 16}),
    [](const auto &row) { return std::string(row.param.codec); });
