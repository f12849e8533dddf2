#include "stage_fixture.h"

#include "common/media_makers.h"
#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "platform/registry.h"

#include <QApplication>
#include <QDir>

namespace stagetest {

QStringList RecordingPrompter::Texts() const
{
    QStringList texts;
    for (const ShownBox &box : m_boxes)
        texts.append(box.record.text);
    return texts;
}

void RecordingPrompter::Clear()
{
    m_boxes.clear();
    script.Clear();
}

void RecordingPrompter::Note()
{
    ShownBox box;
    box.record = script.Records().back();
    box.busy = busy ? busy() : false;
    m_boxes.push_back(box);
}

platform::MessageResult RecordingPrompter::AppMessageBox(const QString &text)
{
    const auto answer = script.AppMessageBox(text);
    Note();
    return answer;
}

platform::MessageResult RecordingPrompter::MessageBox(QWidget *owner,
                                                      const QString &text,
                                                      const QString &caption,
                                                      platform::MessageButtons buttons,
                                                      platform::MessageIcon icon)
{
    const auto answer = script.MessageBox(owner, text, caption, buttons, icon);
    Note();
    return answer;
}

testmedia::AviContents::Stream StreamOf(const testmedia::AviContents &avi, bool audio)
{
    for (const auto &stream : avi.streams) {
        if (stream.audio == audio)
            return stream;
    }
    return {};
}

int StreamCount(const testmedia::AviContents &avi, bool audio)
{
    int n = 0;
    for (const auto &stream : avi.streams)
        n += stream.audio == audio ? 1 : 0;
    return n;
}

void StageTest::SetUp()
{
    engine::RegisterEngineClasses();
    prompter.busy = [this] { return dialog && dialog->m_busy != 0; };
}

void StageTest::TearDown()
{
    dialog.reset();
    engine::RegisterEngineClasses();
}

void StageTest::InstallVideoCompressor(const QString &id,
                                       const QString &name,
                                       const QString &encoder)
{
    auto &registry = platform::TheRegistry();
    const auto root = platform::RegistryRoot::LocalMachine;
    const QString key = engine::kCompressorListKeyVideo + u'\\' + id;
    ASSERT_TRUE(registry.WriteValue(root, key, QString(), name));
    ASSERT_TRUE(registry.WriteValue(root, key, engine::kCompressorEncoderValue, encoder));
}

void StageTest::InstallPreferredCompressor()
{
    InstallVideoCompressor(QStringLiteral("wmv9"), kPreferredName, QStringLiteral("mpeg4"));
    ASSERT_TRUE(platform::TheRegistry().WriteValue(platform::RegistryRoot::LocalMachine,
                                                   engine::kCompressorListKeyVideo
                                                       + QStringLiteral("\\wmv9"),
                                                   engine::kCompressorOptionsValue,
                                                   QStringLiteral("q=2")));
}

void StageTest::OpenWindow()
{
    dialog = std::make_unique<MainDialog>([this] {
        platform::Services services = testing_support::TestServices(prompter.script, clock);
        services.prompter = &prompter;
        return services;
    }());
    ASSERT_TRUE(dialog->OnInitDialog());
    dialog->show();
    QApplication::processEvents();
    prompter.Clear();
}

QString StageTest::MakePhoto(const QString &name, QColor color)
{
    const QString path = env.ScratchDir() + u'/' + name;
    EXPECT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(96, 64, color), path));
    return path;
}

QString StageTest::MakeWav(const QString &name, double seconds)
{
    const QString path = env.ScratchDir() + u'/' + name;
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    const auto frames = static_cast<std::int64_t>(seconds * 8000 + 0.5);
    EXPECT_TRUE(testmedia::WriteWav(testmedia::Tone(frames, 440, 8000, 1), path));
    return path;
}

QString StageTest::MakeMusic(const QString &name, double seconds, testmedia::MusicKind kind)
{
    const QString path = env.ScratchDir() + u'/' + name;
    const auto frames = static_cast<std::int64_t>(seconds * 44100);
    EXPECT_TRUE(testmedia::WriteMusic(testmedia::Tone(frames, 440), kind, path));
    return path;
}

void StageTest::PrepareJob(int photos, const QString &music, int seconds)
{
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::white};
    dialog->m_photoPaths.clear();
    for (int i = 0; i < photos; ++i)
        dialog->m_photoPaths.append(MakePhoto(QStringLiteral("photo%1.jpg").arg(i), colors[i % 5]));
    dialog->m_musicFiles = QStringList{music};
    dialog->m_secondsPerPhoto = seconds;
    dialog->m_sizeIndex = 0;
    dialog->m_videoWidth = 320;
    dialog->m_videoHeight = 240;
    dialog->m_highQuality = 0;
    dialog->m_tempAviPath = env.ScratchDir() + QStringLiteral("/TempData.avi");
}

} // namespace stagetest
