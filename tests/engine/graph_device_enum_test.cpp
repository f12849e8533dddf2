// The system device enumerator: built-in compressors, the machine's compressor list in
// the registry, and compressors bound from monikers doing real work.

#include "graph_test_source.h"

#include "common/environment.h"
#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/device_enum.h"
#include "engine/graph/filter_graph_pins.h"
#include "platform/class_store.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace graphtest;

namespace {

class GraphDeviceEnum : public ::testing::Test
{
protected:
    void SetUp() override { RegisterGraphClasses(); }

    static void Install(const QString &name, const char *encoder, const char *options = nullptr)
    {
        auto &reg = platform::TheRegistry();
        const QString key = kCompressorListKeyVideo + u'\\' + name;
        const auto root = platform::RegistryRoot::LocalMachine;
        EXPECT_TRUE(reg.WriteValue(root, key, QString(), name)
                    && (!encoder || reg.WriteValue(root, key, kCompressorEncoderValue, encoder))
                    && (!options || reg.WriteValue(root, key, kCompressorOptionsValue, options)));
    }

    // Calls `visit` with the friendly name and moniker of each video compressor, in the
    // enumerator's order, until it returns true.
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
        ForEachDevice(category,
                      [&](const QString &name, IMoniker *) { return names << name, false; });
        return names;
    }

    testing_support::TestEnvironment env; // the registry in a scratch folder
};

} // namespace

TEST_F(GraphDeviceEnum, InstalledCompressorsFollowTheBuiltInOnes)
{
    Install(QStringLiteral("Later One"), "msvideo1");
    Install(QStringLiteral("No Encoder Named"), nullptr);
    EXPECT_EQ(FriendlyNames(CLSID_VideoCompressorCategory),
              QStringList({QStringLiteral("Cinepak Codec by Radius"),
                           QStringLiteral("Microsoft Video 1"),
                           QStringLiteral("Later One")}));
    EXPECT_EQ(FriendlyNames(CLSID_AudioCompressorCategory),
              QStringList({QStringLiteral("MPEG Layer-3")}));
    EXPECT_TRUE(FriendlyNames(CLSID_FilterGraph).isEmpty()); // a category without devices
}

namespace {

struct BoundCase
{
    const char *friendlyName;
    const char *encoder, *options; // installed unless the encoder is null (built in)
    const char *codec;             // null: the entry must not bind
    int tolerance;                 // per channel, for the decoded colours
};

void PrintTo(const BoundCase &row, std::ostream *os)
{
    *os << row.friendlyName;
}

class GraphBoundCompressor : public GraphDeviceEnum, public ::testing::WithParamInterface<BoundCase>
{};

} // namespace

TEST_P(GraphBoundCompressor, WritesDecodableVideoOrDoesNotBind)
{
    const BoundCase &c = GetParam();
    const QString wanted = QString::fromLatin1(c.friendlyName);
    if (c.encoder)
        Install(wanted, c.encoder, c.options);
    // The compressor of that name bound from its moniker, as the codec lookup does.
    ComPtr<IBaseFilter> compressor;
    HRESULT hr = E_FAIL;
    ForEachDevice(CLSID_VideoCompressorCategory, [&](const QString &name, IMoniker *moniker) {
        if (name == wanted)
            hr = moniker->BindToObject(IBaseFilter::kIid, compressor.PutVoid());
        return name == wanted;
    });
    if (!c.codec) {
        EXPECT_TRUE(Failed(hr));
        EXPECT_FALSE(compressor);
        return;
    }
    ASSERT_EQ(hr, S_OK);

    // Pure red, then a blue with little red, all of the picture changing at once; the
    // engine marks the frames after each photo's first as repeats (holds), so inter frames
    // that code nothing are decoded too.
    const std::vector<std::uint32_t> tops{0xFF0000, 0x0A40D0};
    Rig rig;
    ASSERT_EQ(
        rig.Chain(rig.Render(Slideshow(rig.dir, 64, 48, tops).Get()).at(0).Get(), compressor, 0),
        S_OK);
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_EQ(avi.streams.size(), 1u);
    EXPECT_EQ(avi.streams[0].codec, QString::fromLatin1(c.codec));
    EXPECT_EQ(avi.streams[0].headerFrames, 60);
    const auto colours = DecodeVideoColours(rig.path);
    ASSERT_EQ(colours.size(), 60u);
    for (std::size_t i : {0, 29, 30, 59}) {
        EXPECT_TRUE(ColoursClose(colours[i].top, tops[i / 30], c.tolerance)
                    && ColoursClose(colours[i].bottom, ~tops[i / 30] & 0xFFFFFF, c.tolerance))
            << "frame " << i << std::hex << ": " << colours[i].top << "/" << colours[i].bottom;
    }
    EXPECT_EQ(ProbeWarnings(rig.path), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Compressors,
    GraphBoundCompressor,
    ::testing::Values(BoundCase{"WindowsMediaVideo9", "mpeg4", "q=2", "mpeg4", 16},
                      BoundCase{"Cinepak Codec by Radius", nullptr, nullptr, "cinepak", 12},
                      BoundCase{"Microsoft Video 1", nullptr, nullptr, "msvideo1", 16},
                      BoundCase{"UnknownEncoder", "nosuchencoder", nullptr, nullptr, 0},
                      BoundCase{"AudioAsVideo", "libmp3lame", nullptr, nullptr, 0},
                      BoundCase{"UnknownOption", "mpeg4", "q=2:nosuch=1", nullptr, 0},
                      BoundCase{"MalformedOptions", "mpeg4", "q2", nullptr, 0}),
    [](const auto &row) {
        return QString::fromLatin1(row.param.friendlyName).remove(u' ').toStdString();
    });
