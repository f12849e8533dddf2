#include "chm_archive.h"

#include <QFile>

#include <chm_lib.h>

#include <cstring>

namespace hhctrl {
namespace {

// Objects larger than this are not read into memory; a help file holds small pages.
constexpr LONGUINT64 kMaxObjectBytes = 64ull * 1024 * 1024;

QByteArray ArchivePathBytes(const QString &objectPath)
{
    return ChmArchive::NormalisePath(objectPath).toUtf8();
}

int CollectFile(chmFile *, chmUnitInfo *ui, void *context)
{
    auto *files = static_cast<QStringList *>(context);
    const QString path = QString::fromUtf8(ui->path);
    // Archive names are UTF-8; one that is not could not be asked for again by its name.
    if (path.toUtf8() != QByteArrayView(ui->path))
        return CHM_ENUMERATOR_CONTINUE;
    // Internal objects start with "/#" or "/$" and folders end with '/'.
    if (path.startsWith(QLatin1String("/#")) || path.startsWith(QLatin1String("/$"))
        || path.endsWith(u'/') || path.startsWith(QLatin1String("::"))) {
        return CHM_ENUMERATOR_CONTINUE;
    }
    files->append(path);
    return CHM_ENUMERATOR_CONTINUE;
}

quint16 ReadLittle16(const QByteArray &data, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + at);
    return static_cast<quint16>(p[0] | (p[1] << 8));
}

} // namespace

std::unique_ptr<ChmArchive> ChmArchive::Open(const QString &path)
{
    if (path.isEmpty())
        return nullptr;
    const QByteArray name = QFile::encodeName(path);
    chmFile *file = chm_open(name.constData());
    if (!file)
        return nullptr;
    std::unique_ptr<ChmArchive> archive(new ChmArchive(file));
    archive->ReadSystemRecord();
    return archive;
}

ChmArchive::ChmArchive(chmFile *file)
    : m_file(file)
{}

ChmArchive::~ChmArchive()
{
    if (m_file)
        chm_close(m_file);
}

QString ChmArchive::NormalisePath(const QString &path)
{
    QString p = path.trimmed();
    p.replace(u'\\', u'/');
    while (p.startsWith(QLatin1String("./")))
        p.remove(0, 2);
    if (!p.startsWith(u'/'))
        p.prepend(u'/');
    return p;
}

std::optional<QByteArray> ChmArchive::Read(const QString &objectPath) const
{
    const QByteArray path = ArchivePathBytes(objectPath);
    if (path.size() > CHM_MAX_PATHLEN)
        return std::nullopt;
    chmUnitInfo ui{};
    if (chm_resolve_object(m_file, path.constData(), &ui) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (ui.length > kMaxObjectBytes)
        return std::nullopt;
    QByteArray data(static_cast<qsizetype>(ui.length), Qt::Uninitialized);
    if (ui.length == 0)
        return data;
    const LONGINT64 got = chm_retrieve_object(m_file,
                                              &ui,
                                              reinterpret_cast<unsigned char *>(data.data()),
                                              0,
                                              static_cast<LONGINT64>(ui.length));
    if (got != static_cast<LONGINT64>(ui.length))
        return std::nullopt;
    return data;
}

bool ChmArchive::Contains(const QString &objectPath) const
{
    const QByteArray path = ArchivePathBytes(objectPath);
    if (path.size() > CHM_MAX_PATHLEN)
        return false;
    chmUnitInfo ui{};
    return chm_resolve_object(m_file, path.constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

QStringList ChmArchive::Files() const
{
    QStringList files;
    chm_enumerate(m_file, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, CollectFile, &files);
    return files;
}

// "/#SYSTEM" starts with a 32-bit version, then records of a 16-bit code, a 16-bit length
// and that many bytes of data. Codes 0 to 3 carry the contents file, the index file, the
// default topic and the title as zero-terminated texts.
void ChmArchive::ReadSystemRecord()
{
    const std::optional<QByteArray> system = Read(QStringLiteral("/#SYSTEM"));
    if (!system)
        return;
    const QByteArray &data = *system;
    qsizetype at = 4;
    while (at + 4 <= data.size()) {
        const quint16 code = ReadLittle16(data, at);
        const quint16 length = ReadLittle16(data, at + 2);
        at += 4;
        if (at + length > data.size())
            break;
        QByteArray value = data.mid(at, length);
        const qsizetype zero = value.indexOf('\0');
        if (zero >= 0)
            value.truncate(zero);
        const QString text = QString::fromLocal8Bit(value).trimmed();
        switch (code) {
        case 0:
            if (!text.isEmpty())
                m_contentsFile = NormalisePath(text);
            break;
        case 1:
            if (!text.isEmpty())
                m_indexFile = NormalisePath(text);
            break;
        case 2:
            if (!text.isEmpty())
                m_defaultTopic = NormalisePath(text);
            break;
        case 3:
            m_title = text;
            break;
        default:
            break;
        }
        at += length;
    }
}

} // namespace hhctrl
