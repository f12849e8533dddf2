// Output-path planning (PlanOutputPaths) for a typed output box, Posix and Windows styles,
// against a real folder tree. Every path the planner uses is kept below a sandbox folder
// (a Windows "C:\x" or a Posix "/x" is found at SANDBOX/C:/x or SANDBOX/x), so whatever
// is typed, nothing outside the sandbox is touched. Input: one byte of choices (bit 0: the
// Windows style; bit 1: a previous working folder), then the typed text.
// Properties: the plan's movie is not an existing folder, link, FIFO or an input of the
// run; planning leaves no file behind and deletes or changes none; only the movie's own
// folder (one level) or the default folder may be made.

#include "fuzz_support.h"

#include "platform/file_system.h"
#include "production/path_style.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <map>

#include <sys/stat.h>

namespace {

using production::PathStyle;

// Each entry of the tree: its kind and size.
using Tree = std::map<QString, QString>;

class SandboxFileSystem final : public platform::FileSystem
{
public:
    SandboxFileSystem(QString root, PathStyle style)
        : m_root(std::move(root))
        , m_style(style)
    {}

    QStringList FindByExtension(const QString &folder, const QString &extension) const override
    {
        const QString real = Real(folder);
        return real.isEmpty() ? QStringList()
                              : platform::TheFileSystem().FindByExtension(real, extension);
    }
    std::optional<platform::FileStatus> Status(const QString &path) const override
    {
        const QString real = Real(path);
        return real.isEmpty() ? std::nullopt : platform::TheFileSystem().Status(real);
    }
    bool Exists(const QString &path) const override
    {
        const QString real = Real(path);
        return !real.isEmpty() && platform::TheFileSystem().Exists(real);
    }
    bool CopyFile(const QString &, const QString &, bool) override
    {
        fuzz::Check(false, "planning copies no file");
        return false;
    }
    bool ReplaceFile(const QString &, const QString &) override
    {
        fuzz::Check(false, "planning replaces no file");
        return false;
    }
    bool DeleteFile(const QString &path) override
    {
        const QString real = Real(path);
        return !real.isEmpty() && platform::TheFileSystem().DeleteFile(real);
    }
    bool CreateFolder(const QString &path) override
    {
        const QString real = Real(path);
        return !real.isEmpty() && platform::TheFileSystem().CreateFolder(real);
    }
    bool CreateNewFile(const QString &path) override
    {
        const QString real = Real(path);
        return !real.isEmpty() && platform::TheFileSystem().CreateNewFile(real);
    }

    // The real path of a planner's path; empty when it would leave the sandbox (".." past
    // the top), which the planner then sees as a path it cannot use.
    QString Real(const QString &path) const
    {
        QString p = path;
        if (m_style == PathStyle::Windows)
            p.replace(u'\\', u'/');
        const QString real = QDir::cleanPath(m_root + u'/' + p);
        return real.startsWith(m_root + u'/') ? real : QString();
    }

private:
    QString m_root;
    PathStyle m_style;
};

// What the tree below root holds, links not followed.
Tree Snapshot(const QString &root)
{
    Tree tree;
    QDirIterator it(root,
                    QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString kind = info.isSymLink() ? QStringLiteral("link")
                             : info.isDir()   ? QStringLiteral("folder")
                             : info.isFile()  ? QStringLiteral("file %1").arg(info.size())
                                              : QStringLiteral("other");
        tree[info.filePath()] = kind;
    }
    return tree;
}

void WriteFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    fuzz::Check(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size(),
                "a sandbox file is written");
}

// A home (or Windows folder) with a folder, the run's inputs, an old movie, a FIFO and a
// link; beside it a folder that the typed text can name too.
void MakeSandbox(const QString &root, const QString &home)
{
    QDir(root).removeRecursively();
    fuzz::Check(QDir().mkpath(home + QStringLiteral("/dir.mp4"))
                    && QDir().mkpath(root + QStringLiteral("/outside")),
                "the sandbox folders are made");
    WriteFile(home + QStringLiteral("/photo.jpg"), "photo");
    WriteFile(home + QStringLiteral("/song.mp3"), "music");
    WriteFile(home + QStringLiteral("/old.mp4"), "old movie");
    WriteFile(root + QStringLiteral("/outside/keep.mp4"), "keep");
    fuzz::Check(mkfifo(QFile::encodeName(home + QStringLiteral("/fifo.mp4")).constData(), 0600) == 0
                    && QFile::link(QStringLiteral("../outside/keep.mp4"),
                                   home + QStringLiteral("/link.mp4")),
                "the FIFO and the link are made");
}

void CheckPlan(const production::OutputPathPlan &plan,
               const SandboxFileSystem &fs,
               const Tree &before,
               const Tree &after)
{
    if (plan.message.isEmpty()) {
        const auto status = fs.Status(plan.outputPath);
        fuzz::Check(!status || (status->isRegularFile && !status->isLink),
                    "the movie path names nothing but a file");
        const QString name = plan.outputPath.mid(plan.outputPath.lastIndexOf(u'/') + 1);
        fuzz::Check(name != QLatin1String("photo.jpg") && name != QLatin1String("song.mp3"),
                    "the movie is never an input of the run");
        fuzz::Check(plan.outputPath.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive)
                        || plan.outputPath.endsWith(QLatin1String(".mpeg4"), Qt::CaseInsensitive),
                    "the movie is an MPEG-4 file");
    }
    // Only folders may be new, and nothing that was there changes.
    for (const auto &[path, kind] : before) {
        const auto now = after.find(path);
        fuzz::Check(now != after.end() && now->second == kind, "nothing is changed or deleted");
    }
    int newFolders = 0;
    for (const auto &[path, kind] : after) {
        if (before.count(path) == 0) {
            fuzz::Check(kind == QLatin1String("folder"), "no file is left behind");
            ++newFolders;
        }
    }
    fuzz::Check(newFolders <= 1, "at most one folder is made");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const PathStyle style = (data[0] & 1) != 0 ? PathStyle::Windows : PathStyle::Posix;
    const QString root = fuzz::ScratchFolder() + QStringLiteral("/sandbox");
    SandboxFileSystem fs(root, style);

    production::OutputPathRequest request;
    request.typed = fuzz::Text(data + 1, size - 1);
    request.outputExt = QStringLiteral("mp4");
    request.windowsDir
        = style == PathStyle::Windows ? QStringLiteral("C:\\home") : QStringLiteral("/home/");
    request.previousWorkDir = (data[0] & 2) != 0 ? request.windowsDir : QString();
    request.askWindowsFolder = [&] { return std::optional<QString>(request.windowsDir); };
    MakeSandbox(root,
                fs.Real(style == PathStyle::Windows ? QStringLiteral("C:\\home")
                                                    : QStringLiteral("/home")));
    const Tree before = Snapshot(root);
    const production::OutputPathPlan plan = production::PlanOutputPaths(style, request, fs);
    CheckPlan(plan, fs, before, Snapshot(root));
    return 0;
}
