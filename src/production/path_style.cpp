#include "production/path_style.h"

#include "engine/library_log.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace production {
namespace {

const QString kMessageCannotCreateFile
    = QStringLiteral("The output file can't be created. Please check the directory attributes.");
const QString kMessageCannotCreateFolder
    = QStringLiteral("Failed to create the directory. Please create the directory manually.");
const QString kMessageNoOutputFolder = QStringLiteral("Please select the output directory!");
// How many names beside "TempData.avi" are tried for a run's temporary file.
constexpr int kTempAviNames = 100;

QChar Separator(PathStyle style)
{
    return style == PathStyle::Windows ? u'\\' : u'/';
}

// The separator that ends the folder part: the last "\" or, when there is none, the last
// "/" (Windows); the last "/" (Posix). -1 when there is none.
int LastSeparator(PathStyle style, const QString &path)
{
    if (style == PathStyle::Windows) {
        const int backslash = path.lastIndexOf(u'\\');
        return backslash >= 0 ? backslash : path.lastIndexOf(u'/');
    }
    return path.lastIndexOf(u'/');
}

// Where the file name begins: after the last separator of any kind.
int FileNameStart(PathStyle style, const QString &path)
{
    if (style == PathStyle::Windows)
        return std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/')) + 1;
    return path.lastIndexOf(u'/') + 1;
}

// A path typed without a drive (Windows) or relative (Posix) is anchored.
QString Anchor(PathStyle style, const QString &text, const QString &windowsDir)
{
    if (style == PathStyle::Windows) {
        const int p = windowsDir.indexOf(u':');
        if (text.contains(u':') || p <= 0)
            return text;
        // "\Movies" takes the drive letter and colon; "Movies" the drive's root as well.
        return (text.startsWith(u'\\') ? windowsDir.left(p + 1) : windowsDir.left(p + 2)) + text;
    }
    if (text.startsWith(u'/') || windowsDir.isEmpty())
        return text;
    QString home = windowsDir;
    if (!home.endsWith(u'/'))
        home += u'/';
    if (text == QLatin1String("~"))
        return home;
    if (text.startsWith(QLatin1String("~/")))
        return home + text.mid(2);
    return home + text;
}

bool IsMovieExtension(const QString &extension)
{
    return extension.compare(QLatin1String("mp4"), Qt::CaseInsensitive) == 0
           || extension.compare(QLatin1String("mpeg4"), Qt::CaseInsensitive) == 0;
}

QString WhatItIs(const platform::FileStatus &status, const QString &path)
{
    if (status.isLink)
        return QStringLiteral("%1 is a symbolic link; a movie is never written through a link. "
                              "Please choose another name.")
            .arg(path);
    if (status.isFolder)
        return QStringLiteral("%1 is a folder. Please choose another name.").arg(path);
    return QStringLiteral("%1 is a device, FIFO or socket, not a file. Please choose another "
                          "name.")
        .arg(path);
}

// Creates and removes a probe file of a free name beside `path`, which exists.
bool CanCreateBeside(platform::FileSystem &fs, const QString &path)
{
    for (int n = 0; n < 10; ++n) {
        const QString probe = path + QStringLiteral(".probe%1").arg(n);
        if (!fs.Status(probe))
            return CanCreateFile(fs, probe);
    }
    return false;
}

// Every path of a plan derives its working folder and temporary file the same way.
void FinishPlan(PathStyle style, OutputPathPlan &plan, const QString &previousWorkDir)
{
    const int sep = LastSeparator(style, plan.outputPath);
    plan.workDir = sep >= 0 ? plan.outputPath.left(sep + 1) : previousWorkDir;
    plan.tempAviPath = plan.workDir + QStringLiteral("TempData.avi");
}

// The movie is always MPEG-4: any other extension is replaced.
QString WithMovieExtension(const QString &path)
{
    const int dot = path.lastIndexOf(u'.');
    return IsMovieExtension(path.mid(dot + 1)) ? path : path.left(dot + 1) + QStringLiteral("mp4");
}

// Whether the movie can be written at the path (making one missing folder level): empty, or
// the message that says why not. An old movie at the path stays until a new one is ready to
// take its place; the probe is made beside it instead. Only a regular file is ever replaced.
QString PrepareMoviePath(PathStyle style, platform::FileSystem &fs, const QString &moviePath)
{
    const QString inTheWay = WhatIsInTheWay(fs, moviePath);
    if (!inTheWay.isEmpty())
        return inTheWay;
    const bool replacing = fs.Status(moviePath).has_value();
    if (replacing ? CanCreateBeside(fs, moviePath) : CanCreateFile(fs, moviePath))
        return QString();
    const int k = LastSeparator(style, moviePath);
    if (k <= 1 || replacing)
        return kMessageCannotCreateFile;
    // One missing folder level is made; deeper ones are the user's to make.
    if (!fs.CreateFolder(moviePath.left(k)))
        return kMessageCannotCreateFolder;
    return QString();
}

OutputPathPlan
PlanDefault(PathStyle style, const OutputPathRequest &request, platform::FileSystem &fs)
{
    OutputPathPlan plan;
    const std::optional<QString> windowsFolder
        = request.askWindowsFolder ? request.askWindowsFolder() : std::nullopt;
    if (!windowsFolder || windowsFolder->isEmpty()) {
        plan.message = kMessageNoOutputFolder;
        plan.focusOutputBox = true;
        return plan;
    }
    // The folder's text up to its last separator: the drive root on Windows ("C:\"),
    // the home folder itself on Posix (it ends with "/").
    const QChar sep = Separator(style);
    const QString root = windowsFolder->left(windowsFolder->lastIndexOf(sep) + 1);
    const QString folder = root + QStringLiteral("Vantorel");
    fs.CreateFolder(folder); // an existing folder is fine; a failure shows in the render
    plan.outputPath = folder + sep + QStringLiteral("Output.") + request.outputExt;
    FinishPlan(style, plan, request.previousWorkDir);
    plan.outputPath = WithMovieExtension(plan.outputPath);
    plan.boxText = plan.outputPath;
    const QString inTheWay = WhatIsInTheWay(fs, plan.outputPath);
    if (!inTheWay.isEmpty())
        plan.message = inTheWay;
    return plan;
}

} // namespace

OutputPathPlan
PlanOutputPaths(PathStyle style, const OutputPathRequest &request, platform::FileSystem &fs)
{
    QString text = platform::TrimmedRight(request.typed);
    if (text.isEmpty())
        return PlanDefault(style, request, fs);

    OutputPathPlan plan;
    text = Anchor(style, text, request.windowsDir);
    if (style == PathStyle::Windows && text.endsWith(u':'))
        text += QStringLiteral("\\Output");
    int sep = LastSeparator(style, text);
    if (sep < 0) {
        text += Separator(style);
        sep = text.size() - 1;
    }
    // A folder-only path names the file "Output".
    if (sep == text.size() - 1)
        text += QStringLiteral("Output");
    // The box shows the path before its extension is settled.
    plan.boxText = text;

    // Extension: only a dot in the file name counts; a dot in a folder name ("my.folder")
    // does not, or the movie would leave the folder the user chose.
    const int nameStart = FileNameStart(style, text);
    const int dot = text.lastIndexOf(u'.');
    if (dot < nameStart)
        text += u'.' + request.outputExt;
    else if (dot == nameStart)
        text.insert(dot, QStringLiteral("Output"));
    // This is settled before anything is deleted, so "clip.avi" never costs the user's own
    // clip.avi.
    const QString moviePath = WithMovieExtension(text);
    plan.message = PrepareMoviePath(style, fs, moviePath);
    if (!plan.message.isEmpty())
        return plan;
    plan.outputPath = moviePath;
    FinishPlan(style, plan, request.previousWorkDir);
    if (moviePath != text)
        plan.boxText = moviePath;
    return plan;
}

QString WhatIsInTheWay(platform::FileSystem &fs, const QString &path)
{
    const auto status = fs.Status(path);
    if (!status || (!status->isLink && status->isRegularFile))
        return QString();
    return kMessageCannotCreateFile + u'\n' + WhatItIs(*status, path);
}

namespace {

// Creates a new empty file `stem` + `ext` at `prefix`, or `stem` + "-1" + `ext`, "-2", ...
// when the name is taken; the path made, or an empty text.
QString CreateFreeFile(platform::FileSystem &fs,
                       const QString &prefix,
                       const QString &stem,
                       const QString &ext)
{
    for (int n = 0; n < kTempAviNames; ++n) {
        const QString path
            = prefix + stem + (n == 0 ? QString() : QStringLiteral("-%1").arg(n)) + ext;
        if (fs.CreateNewFile(path))
            return path;
        if (!fs.Status(path))
            return QString(); // the folder refuses new files; other names will not help
    }
    return QString();
}

} // namespace

QString CreateTempAvi(platform::FileSystem &fs, const QString &workDir)
{
    return CreateFreeFile(fs, workDir, QStringLiteral("TempData"), QStringLiteral(".avi"));
}

QString CreateNewMovieFile(platform::FileSystem &fs, const QString &moviePath)
{
    const qsizetype sep = moviePath.lastIndexOf(u'/');
    const QString name = moviePath.mid(sep + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return CreateFreeFile(fs,
                          moviePath.left(sep + 1),
                          (dot > 0 ? name.left(dot) : name) + QStringLiteral(".part"),
                          QStringLiteral(".mp4"));
}

bool CanCreateFile(platform::FileSystem &fs, const QString &path)
{
    if (!fs.CreateNewFile(path))
        return false;
    if (!fs.DeleteFile(path))
        engine::DebugLog(QStringLiteral("could not delete the probe file %1").arg(path));
    return true;
}

} // namespace production
