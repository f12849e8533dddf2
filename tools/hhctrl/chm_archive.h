#pragma once
// Read access to a compiled help file (.chm, an ITSS archive). Object paths inside the
// archive are absolute ("/index.html", "/images/logo.png") and found without regard to
// case, as the help compiler writes them.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct mschmd_file;
struct mschmd_header;

namespace hhctrl {

class ChmArchive
{
public:
    // Nothing when the file is missing or is not a compiled help file.
    static std::unique_ptr<ChmArchive> Open(const QString &path);
    ~ChmArchive();

    ChmArchive(const ChmArchive &) = delete;
    ChmArchive &operator=(const ChmArchive &) = delete;

    // The whole object at an archive path ("/a.html" or "a.html"); nothing when absent.
    std::optional<QByteArray> Read(const QString &objectPath) const;
    bool Contains(const QString &objectPath) const;
    // Every ordinary file of the archive (no internal "#" or "$" objects), in archive order.
    QStringList Files() const;

    // From the archive's "/#SYSTEM" record, each an absolute archive path or empty.
    QString DefaultTopic() const { return m_defaultTopic; }
    QString ContentsFile() const { return m_contentsFile; }
    QString IndexFile() const { return m_indexFile; }
    QString Title() const { return m_title; }

    // The archive path of a page name: "x" becomes "/x", backslashes become '/', a leading
    // "./" goes. Archive names may hold '#' ("/#SYSTEM"), so nothing else is cut off.
    static QString NormalisePath(const QString &path);

private:
    struct Library;

    explicit ChmArchive(QByteArray fileName);
    void AddObject(const mschmd_file *file);
    const mschmd_file *Find(const QString &objectPath) const;
    void ReadSystemRecord();

    // The library keeps the file name and reopens the file by it while it extracts objects.
    QByteArray m_fileName;
    std::unique_ptr<Library> m_library;
    mschmd_header *m_header = nullptr;
    // Listed objects by their name in folded case, and the ordinary files in archive order.
    QHash<QString, const mschmd_file *> m_objects;
    QStringList m_files;
    QString m_defaultTopic;
    QString m_contentsFile;
    QString m_indexFile;
    QString m_title;
};

} // namespace hhctrl
