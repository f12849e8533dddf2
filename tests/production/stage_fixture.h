#pragma once
// A real main window, offscreen, in a private world (registry, system and scratch
// folders), with the engine's real classes, small photos and music made on the spot, and
// a prompter that also notes whether the window was busy when each box showed.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/media_makers.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// Readable texts in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *os)
{
    *os << '{' << texts.join(QStringLiteral(" | ")).toStdString() << '}';
}

namespace stagetest {

struct ShownBox
{
    testing_support::PromptRecord record;
    bool busy = false; // the window's state while the box showed
};

class RecordingPrompter final : public platform::Prompter
{
public:
    testing_support::ScriptedPrompter script;
    std::function<bool()> busy;

    std::vector<ShownBox> Boxes() const { return m_boxes; }
    QStringList Texts() const;
    void Clear();

    platform::MessageResult AppMessageBox(const QString &text) override;
    platform::MessageResult MessageBox(QWidget *owner,
                                       const QString &text,
                                       const QString &caption,
                                       platform::MessageButtons buttons,
                                       platform::MessageIcon icon) override;
    QString BrowseForFolder(const QString &startFolder) override
    {
        return script.BrowseForFolder(startFolder);
    }
    std::optional<QString> OpenFile(QWidget *parent,
                                    const QString &filterList,
                                    bool fileMustExist,
                                    const QString &startFolder) override
    {
        return script.OpenFile(parent, filterList, fileMustExist, startFolder);
    }

private:
    void Note();
    std::vector<ShownBox> m_boxes;
};

// What libavformat finds in a written AVI: the stream of `audio` kind (or an empty one).
testmedia::AviContents::Stream StreamOf(const testmedia::AviContents &avi, bool audio);
int StreamCount(const testmedia::AviContents &avi, bool audio);

// Rows with a `name` show it in failure messages.
// (In the files' own unnamed namespace, where their rows are declared.)
namespace {
template <class Row>
auto operator<<(std::ostream &os, const Row &row) -> decltype(row.name, os)
{
    return os << row.name;
}
} // namespace

// Names the cases of a table after the `name` of their row.
struct RowName
{
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row> &row) const
    {
        return row.param.name;
    }
};

inline const QString kPreferredName = QStringLiteral("Microsoft Windows Media Video 9");

class StageTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The entry the codec installer writes: the preferred compressor on mpeg4 at q=2.
    static void InstallPreferredCompressor();
    static void
    InstallVideoCompressor(const QString &id, const QString &name, const QString &encoder);
    // Opens the window as the program does (its start-up steps included), then forgets
    // what start-up asked.
    void OpenWindow();

    QString MakePhoto(const QString &name, QColor color); // 96x64
    // A mono 8 kHz tone of `seconds` as WAV (exact lengths), or encoded as MP3 or WMA.
    QString MakeWav(const QString &name, double seconds);
    QString MakeMusic(const QString &name, double seconds, testmedia::MusicKind kind);
    // A job of `photos` photos shown `seconds` each, to a 320x240 movie.
    void PrepareJob(int photos, const QString &music, int seconds);

    bool Busy() const { return dialog->m_busy != 0; }

    testing_support::TestEnvironment env;
    RecordingPrompter prompter;
    testing_support::FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

} // namespace stagetest
