#include "chm_archive.h"

#include <QFile>

#include <chm_lib.h>

#include <cstring>
#include <map>
#include <set>
#include <vector>

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

quint64 ReadLittle(const QByteArray &data, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[at + i]);
    return value;
}

// The archive's directory: a chain of listing chunks ("PMGL", each naming the next) under a
// tree of index chunks ("PMGI", each naming chunks below it), all of one size, numbered
// from the directory's start. The archive library follows those numbers as they come: a
// chain or a tree that loops back would keep it reading for ever, and it lays a chunk out
// on its stack. Such files are refused before the library sees them.
constexpr quint32 kMaxChunkBytes = 64 * 1024;

struct Directory
{
    QFile *file;
    qint64 offset;
    qint64 chunkBytes;

    // A chunk's bytes; empty when the file ends before it.
    QByteArray Chunk(qint64 page) const
    {
        if (page < 0 || !file->seek(offset + page * chunkBytes))
            return {};
        const QByteArray chunk = file->read(chunkBytes);
        return chunk.size() == chunkBytes ? chunk : QByteArray();
    }
};

// A number of the directory's entries: 7 bits a byte, the high bit set on all but the last.
// Read as the archive library reads it, however many bytes it runs to (the high bits fall
// off), so that the checks here follow the chunks the library will follow.
bool ReadEncodedInt(const QByteArray &chunk, qsizetype &at, quint64 &value)
{
    value = 0;
    while (at < chunk.size()) {
        const auto byte = static_cast<unsigned char>(chunk[at++]);
        value = value << 7 | (byte & 0x7f);
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

// The chunks an index chunk names: entries of a name and a chunk number, up to the free
// space at the chunk's end.
std::vector<qint64> IndexChildren(const QByteArray &chunk)
{
    std::vector<qint64> pages;
    if (chunk.size() < 8)
        return pages;
    const quint64 freeSpace = ReadLittle(chunk, 4, 4);
    if (freeSpace > static_cast<quint64>(chunk.size() - 8))
        return pages;
    const qsizetype end = chunk.size() - static_cast<qsizetype>(freeSpace);
    qsizetype at = 8;
    quint64 nameBytes = 0;
    quint64 page = 0;
    while (at < end && ReadEncodedInt(chunk, at, nameBytes) && nameBytes <= CHM_MAX_PATHLEN) {
        at += static_cast<qsizetype>(nameBytes);
        if (!ReadEncodedInt(chunk, at, page))
            break;
        pages.push_back(static_cast<qint32>(page));
    }
    return pages;
}

bool ChainLoops(const Directory &dir, qint64 head)
{
    std::set<qint64> seen;
    for (qint64 page = head; page >= 0;) {
        if (!seen.insert(page).second)
            return true;
        const QByteArray chunk = dir.Chunk(page);
        if (!chunk.startsWith("PMGL") || chunk.size() < 0x14)
            return false;
        page = static_cast<qint32>(ReadLittle(chunk, 0x10, 4));
    }
    return false;
}

// Depth first, without recursion: a chunk met again while still on the path is a loop.
bool TreeLoops(const Directory &dir, qint64 root)
{
    std::map<qint64, bool> finished;
    std::vector<std::pair<qint64, std::vector<qint64>>> path;
    auto enter = [&](qint64 page) {
        const QByteArray chunk = dir.Chunk(page);
        finished[page] = false;
        path.emplace_back(page,
                          chunk.startsWith("PMGI") ? IndexChildren(chunk) : std::vector<qint64>());
    };
    enter(root);
    while (!path.empty()) {
        std::vector<qint64> &children = path.back().second;
        if (children.empty()) {
            finished[path.back().first] = true;
            path.pop_back();
            continue;
        }
        const qint64 child = children.back();
        children.pop_back();
        const auto known = finished.find(child);
        if (known != finished.end() && !known->second)
            return true;
        if (child >= 0 && known == finished.end())
            enter(child);
    }
    return false;
}

// The archive library reads the compression's control data while it opens the file and
// divides by half its window size even when the object is too short, cannot be read or
// gives no window; a window beyond LZX's largest costs a huge buffer for every read. False
// when a listing chunk names such an object.
constexpr char kControlDataPath[] = "::DataSpace/Storage/MSCompressed/ControlData";
constexpr char kResetTablePath[] = "::DataSpace/Storage/MSCompressed/Transform/"
                                   "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
constexpr quint64 kMinWindowBytes = 32 * 1024;
constexpr quint64 kMaxWindowBytes = 2 * 1024 * 1024;

// One listed object in the uncompressed section: where it starts, relative to the data.
struct Listed
{
    quint64 space = 0, start = 0, length = 0;
};

// The control data object, from its listing: readable, and with an LZX window.
bool ControlObjectIsSound(const Directory &dir, const Listed &object, quint64 dataOffset)
{
    const quint64 first = dataOffset + object.start;
    if (object.length < 0x18 || object.space != CHM_UNCOMPRESSED || first < dataOffset
        || first + 0x18 > static_cast<quint64>(dir.file->size())
        || !dir.file->seek(static_cast<qint64>(first)))
        return false;
    const QByteArray control = dir.file->read(0x18);
    if (control.size() < 0x18)
        return false;
    // In units of 32 KiB from version 2 on. LZX windows are powers of two from 32 KiB to
    // 2 MiB; the library sets one up for every read and uses it unchecked when it could not.
    const quint64 unit = ReadLittle(control, 8, 4) == 2 ? 0x8000 : 1;
    const quint64 window = ReadLittle(control, 0x10, 4) * unit;
    if (window < kMinWindowBytes || window > kMaxWindowBytes || (window & (window - 1)) != 0)
        return false;
    // Blocks between decoder resets, which the library divides block numbers by (as it
    // counts them, in 32 bits).
    const quint64 resetInterval = (ReadLittle(control, 0xc, 4) * unit) & 0xffffffff;
    return ((resetInterval / (window / 2) * ReadLittle(control, 0x14, 4)) & 0xffffffff) != 0;
}

// One listed object that the library reads while it opens the file: the control data (the
// library uses one that is at most 256 bytes long) must be sound, and both it and the reset
// table must lie in a section that exists. The library takes any section but the compressed
// one for the plain one there, then decompresses with no block size read yet.
bool OpenedObjectIsSound(const Directory &dir,
                         const QByteArray &name,
                         const Listed &object,
                         quint64 dataOffset)
{
    const bool control = name.compare(kControlDataPath, Qt::CaseInsensitive) == 0;
    if (!control && name.compare(kResetTablePath, Qt::CaseInsensitive) != 0)
        return true;
    if (object.space > CHM_COMPRESSED)
        return false;
    return !control || object.length > 0x100 || ControlObjectIsSound(dir, object, dataOffset);
}

// Every object that a listing chunk names and the library reads while it opens the file.
bool ControlDataIsSound(const Directory &dir, qint64 chunks, quint64 dataOffset)
{
    for (qint64 page = 0; page < chunks; ++page) {
        const QByteArray chunk = dir.Chunk(page);
        if (!chunk.startsWith("PMGL") || chunk.size() < 0x14)
            continue;
        const quint64 freeSpace = ReadLittle(chunk, 4, 4);
        const qsizetype end = freeSpace > static_cast<quint64>(chunk.size() - 0x14)
                                  ? 0x14
                                  : chunk.size() - static_cast<qsizetype>(freeSpace);
        qsizetype at = 0x14;
        quint64 nameBytes = 0;
        Listed object;
        while (at < end && ReadEncodedInt(chunk, at, nameBytes) && nameBytes <= CHM_MAX_PATHLEN) {
            const QByteArray name = chunk.mid(at, static_cast<qsizetype>(nameBytes));
            at += static_cast<qsizetype>(nameBytes);
            if (!ReadEncodedInt(chunk, at, object.space) || !ReadEncodedInt(chunk, at, object.start)
                || !ReadEncodedInt(chunk, at, object.length))
                break;
            if (!OpenedObjectIsSound(dir, name, object, dataOffset))
                return false;
        }
    }
    return true;
}

// False for a file whose directory would send the archive library round in circles. A file
// that is no archive at all passes: the library refuses it itself.
bool DirectoryIsSound(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray head = file.read(0x60);
    if (head.size() < 0x58 || !head.startsWith("ITSF"))
        return true;
    const quint64 directory = ReadLittle(head, 0x48, 8);
    if (directory >= static_cast<quint64>(file.size())
        || !file.seek(static_cast<qint64>(directory)))
        return true;
    const QByteArray header = file.read(0x54);
    if (header.size() < 0x54 || !header.startsWith("ITSP"))
        return true;
    const quint64 chunkBytes = ReadLittle(header, 0x10, 4);
    if (chunkBytes > kMaxChunkBytes)
        return false;
    const Directory dir{&file,
                        static_cast<qint64>(directory + ReadLittle(header, 8, 4)),
                        static_cast<qint64>(chunkBytes)};
    const qint64 listHead = static_cast<qint32>(ReadLittle(header, 0x20, 4));
    const qint64 indexRoot = static_cast<qint32>(ReadLittle(header, 0x1c, 4));
    // The data follows the directory, unless the header (version 3) says where it starts.
    const quint64 dataOffset = ReadLittle(head, 4, 4) >= 3 && head.size() >= 0x60
                                   ? ReadLittle(head, 0x58, 8)
                                   : directory + ReadLittle(head, 0x50, 8);
    const qint64 chunks = chunkBytes > 0 ? file.size() / static_cast<qint64>(chunkBytes) : 0;
    return !ChainLoops(dir, listHead) && !TreeLoops(dir, indexRoot >= 0 ? indexRoot : listHead)
           && ControlDataIsSound(dir, chunks, dataOffset);
}

constexpr LONGINT64 kResetTableBytes = 0x28;

// The compressed section is read in blocks of the size its reset table gives; the archive
// library divides by that size unchecked and allocates a block of it for every read. False
// when the table gives none, or one larger than an LZX window.
bool ResetTableIsSound(chmFile *file)
{
    chmUnitInfo ui{};
    if (chm_resolve_object(file, kResetTablePath, &ui) != CHM_RESOLVE_SUCCESS
        || ui.space != CHM_UNCOMPRESSED || ui.length < kResetTableBytes)
        return true; // without a table the library reads nothing compressed
    unsigned char table[kResetTableBytes] = {};
    if (chm_retrieve_object(file, &ui, table, 0, kResetTableBytes) != kResetTableBytes)
        return true;
    const QByteArray bytes(reinterpret_cast<const char *>(table), kResetTableBytes);
    const quint64 blockBytes = ReadLittle(bytes, 0x20, 8);
    return blockBytes != 0 && blockBytes <= kMaxWindowBytes;
}

} // namespace

std::unique_ptr<ChmArchive> ChmArchive::Open(const QString &path)
{
    if (path.isEmpty() || !DirectoryIsSound(path))
        return nullptr;
    const QByteArray name = QFile::encodeName(path);
    chmFile *file = chm_open(name.constData());
    if (!file)
        return nullptr;
    if (!ResetTableIsSound(file)) {
        chm_close(file);
        return nullptr;
    }
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
