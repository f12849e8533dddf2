// Finding compressors by friendly name over the engine's real device enumerator.

#include "support_fixture.h"

#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/device_enum.h"
#include "platform/class_store.h"

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

} // namespace
} // namespace support_tests
