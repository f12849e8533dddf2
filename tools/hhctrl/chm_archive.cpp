#include "chm_archive.h"

#include <QFile>

#include <mspack.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hhctrl {
namespace {

// Objects larger than this are not read into memory; a help file holds small pages.
constexpr off_t kMaxObjectBytes = 64 * 1024 * 1024;

quint16 ReadLittle16(const QByteArray &data, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + at);
    return static_cast<quint16>(p[0] | (p[1] << 8));
}

// One file the library opened: the archive on disk, or the object being extracted, which
// is written into memory.
struct Handle
{
    FILE *file = nullptr;
    QByteArray *sink = nullptr;
    qsizetype limit = 0;
};

Handle *HandleOf(mspack_file *file)
{
    return reinterpret_cast<Handle *>(file);
}

// The archive header names two class ids. Some help compilers write the first one twice,
// which Windows reads but the library refuses; it is shown the second one instead.
constexpr off_t kSecondClassIdAt = 0x28;
constexpr unsigned char kFirstClassId[16] = {
    0x10, 0xfd, 0x01, 0x7c, 0xaa, 0x7b, 0xd0, 0x11, 0x9e, 0x0c, 0x00, 0xa0, 0xc9, 0x22, 0xe6, 0xec};
constexpr unsigned char kSecondClassId[16] = {
    0x11, 0xfd, 0x01, 0x7c, 0xaa, 0x7b, 0xd0, 0x11, 0x9e, 0x0c, 0x00, 0xa0, 0xc9, 0x22, 0xe6, 0xec};

void MendSecondClassId(off_t at, void *buffer, std::size_t bytes)
{
    if (at < 0 || at > kSecondClassIdAt
        || at + static_cast<off_t>(bytes) < kSecondClassIdAt + off_t{sizeof kSecondClassId})
        return;
    unsigned char *id = static_cast<unsigned char *>(buffer) + (kSecondClassIdAt - at);
    if (std::memcmp(id, kFirstClassId, sizeof kFirstClassId) == 0)
        std::memcpy(id, kSecondClassId, sizeof kSecondClassId);
}

int ReadFile(mspack_file *file, void *buffer, int bytes)
{
    FILE *f = HandleOf(file)->file;
    if (!f || bytes < 0)
        return -1;
    const off_t at = ftello(f);
    const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(bytes), f);
    if (std::ferror(f))
        return -1;
    MendSecondClassId(at, buffer, got);
    return static_cast<int>(got);
}

// An object that grows past its listed length is damaged; the write fails and so does the
// extraction.
int WriteFile(mspack_file *file, void *buffer, int bytes)
{
    Handle *handle = HandleOf(file);
    if (!handle->sink || bytes < 0 || handle->sink->size() + bytes > handle->limit)
        return -1;
    handle->sink->append(static_cast<const char *>(buffer), bytes);
    return bytes;
}

int SeekFile(mspack_file *file, off_t offset, int mode)
{
    FILE *f = HandleOf(file)->file;
    const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                       : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                     : SEEK_END;
    return f && fseeko(f, offset, whence) == 0 ? 0 : -1;
}

off_t TellFile(mspack_file *file)
{
    FILE *f = HandleOf(file)->file;
    return f ? ftello(f) : -1;
}

void CloseFile(mspack_file *file)
{
    Handle *handle = HandleOf(file);
    if (handle->file)
        std::fclose(handle->file);
    delete handle;
}

// The library's complaints about a damaged archive; the failed call says enough.
void IgnoreMessage(mspack_file *, const char *, ...) {}

void *Allocate(mspack_system *, size_t bytes)
{
    return std::malloc(bytes);
}

void Free(void *memory)
{
    std::free(memory);
}

void Copy(void *from, void *to, size_t bytes)
{
    std::memmove(to, from, bytes);
}

} // namespace

// The decompressor and the file access it reads and writes through. The library hands the
// access back to every call, so it comes first.
struct ChmArchive::Library
{
    mspack_system system{};
    Handle extraction;
    mschm_decompressor *decompressor = nullptr;

    Library();
    ~Library();
    static mspack_file *OpenFile(mspack_system *self, const char *name, int mode);
};

mspack_file *ChmArchive::Library::OpenFile(mspack_system *self, const char *name, int mode)
{
    const Handle &extraction = reinterpret_cast<Library *>(self)->extraction;
    if (mode == MSPACK_SYS_OPEN_WRITE)
        return extraction.sink ? reinterpret_cast<mspack_file *>(new Handle(extraction)) : nullptr;
    if (mode != MSPACK_SYS_OPEN_READ)
        return nullptr;
    FILE *file = std::fopen(name, "rb");
    return file ? reinterpret_cast<mspack_file *>(new Handle{file}) : nullptr;
}

ChmArchive::Library::Library()
{
    system = {OpenFile,
              CloseFile,
              ReadFile,
              WriteFile,
              SeekFile,
              TellFile,
              IgnoreMessage,
              Allocate,
              Free,
              Copy,
              nullptr};
    decompressor = mspack_create_chm_decompressor(&system);
}

ChmArchive::Library::~Library()
{
    if (decompressor)
        mspack_destroy_chm_decompressor(decompressor);
}

std::unique_ptr<ChmArchive> ChmArchive::Open(const QString &path)
{
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<ChmArchive> archive(new ChmArchive(QFile::encodeName(path)));
    mschm_decompressor *decompressor = archive->m_library->decompressor;
    if (!decompressor)
        return nullptr;
    archive->m_header = decompressor->open(decompressor, archive->m_fileName.constData());
    if (!archive->m_header)
        return nullptr;
    for (const mschmd_file *file = archive->m_header->files; file; file = file->next)
        archive->AddObject(file);
    archive->ReadSystemRecord();
    return archive;
}

ChmArchive::ChmArchive(QByteArray fileName)
    : m_fileName(std::move(fileName))
    , m_library(std::make_unique<Library>())
{}

ChmArchive::~ChmArchive()
{
    if (m_header)
        m_library->decompressor->close(m_library->decompressor, m_header);
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

// Archive names are UTF-8 and absolute; one that is not could not be asked for again by its
// name. The first of two names that differ only in case is the one found.
void ChmArchive::AddObject(const mschmd_file *file)
{
    const QString name = QString::fromUtf8(file->filename);
    const QString key = name.toCaseFolded();
    if (name.toUtf8() != QByteArrayView(file->filename) || !name.startsWith(u'/')
        || m_objects.contains(key))
        return;
    m_objects.insert(key, file);
    // Internal objects start with "/#" or "/$" and folders end with '/'.
    if (!name.startsWith(QLatin1String("/#")) && !name.startsWith(QLatin1String("/$"))
        && !name.endsWith(u'/'))
        m_files.append(name);
}

const mschmd_file *ChmArchive::Find(const QString &objectPath) const
{
    return m_objects.value(NormalisePath(objectPath).toCaseFolded(), nullptr);
}

std::optional<QByteArray> ChmArchive::Read(const QString &objectPath) const
{
    const mschmd_file *file = Find(objectPath);
    if (!file || file->length < 0 || file->length > kMaxObjectBytes)
        return std::nullopt;
    QByteArray data;
    data.reserve(static_cast<qsizetype>(file->length));
    Handle &extraction = m_library->extraction;
    extraction = {nullptr, &data, static_cast<qsizetype>(file->length)};
    mschm_decompressor *decompressor = m_library->decompressor;
    const int error = decompressor->extract(decompressor, const_cast<mschmd_file *>(file), "");
    extraction = {};
    if (error != MSPACK_ERR_OK || data.size() != file->length)
        return std::nullopt;
    return data;
}

bool ChmArchive::Contains(const QString &objectPath) const
{
    return Find(objectPath) != nullptr;
}

QStringList ChmArchive::Files() const
{
    return m_files;
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
