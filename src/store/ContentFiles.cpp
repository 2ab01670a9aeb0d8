#include "store/ContentFiles.h"

#include "core/Log.h"
#include "core/RtfReader.h"
#include "core/Util.h"
#include "store/PBContent.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Clipboard history holds secrets: other local users must not list or read it.
void makePrivateDirectory(const QString &path)
{
    QDir().mkpath(path);
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & 0777) != 0700)
        ::chmod(native.constData(), 0700);
}

// Ids the application generates: 8-4-4-4-12 hexadecimal digits. Anything else in the store's
// folders was not written by the store and is left alone.
bool looksLikeId(const char *name, size_t length)
{
    if (length != 36)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The ids of the files in `folder` named <id><suffix>. Kept as bytes: a large history lists
// some hundred thousand names at every start.
std::vector<std::string> idsOfFiles(const QString &folder, const char *suffix)
{
    std::vector<std::string> ids;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return ids;
    const size_t suffixLength = std::strlen(suffix);
    while (const dirent *entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (length <= suffixLength ||
            std::strcmp(entry->d_name + length - suffixLength, suffix) != 0)
            continue;
        if (looksLikeId(entry->d_name, length - suffixLength))
            ids.emplace_back(entry->d_name, length - suffixLength);
    }
    ::closedir(dir);
    return ids;
}

} // namespace

ContentFiles::ContentFiles(const QString &dir) : m_dir(dir)
{
    makePrivateDirectory(m_dir);
    makePrivateDirectory(m_dir + QStringLiteral("/Content"));
    makePrivateDirectory(m_dir + QStringLiteral("/Thumbs"));
}

QString ContentFiles::contentFolder() const
{
    return m_dir + QStringLiteral("/Content");
}

QString ContentFiles::contentPath(const QString &id) const
{
    return m_dir + QStringLiteral("/Content/") + id + QStringLiteral(".json");
}

QString ContentFiles::thumbPath(const QString &id) const
{
    return m_dir + QStringLiteral("/Thumbs/") + id + QStringLiteral(".png");
}

bool ContentFiles::writePrivateFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    auto fail = [&](int code) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
        return false;
    };
    if (fd < 0)
        return fail(errno);
    ::fchmod(fd, 0600); // a file replaced in place keeps its old mode otherwise
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            ::close(fd);
            ::unlink(native.constData()); // never leave a truncated file behind
            return fail(code);
        }
        data += written;
        left -= written;
    }
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(native.constData());
        return fail(code);
    }
    return true;
}

bool ContentFiles::write(const QString &id, const ItemList &items,
                         const std::optional<QByteArray> &thumbnailPNG)
{
    QString error;
    if (!writePrivateFile(contentPath(id), PBContent::from(items).toJson(), &error)) {
        Log::line(QStringLiteral("[Store] content write failed: ") + error);
        return false;
    }
    // The entry is whole without its thumbnail (the picker draws none), so this only logs.
    if (thumbnailPNG && !writePrivateFile(thumbPath(id), *thumbnailPNG, &error))
        Log::line(QStringLiteral("[Store] thumbnail write failed: ") + error);
    return true;
}

void ContentFiles::remove(const QString &id)
{
    QFile::remove(contentPath(id));
    QFile::remove(thumbPath(id));
}

std::optional<FlavorList> ContentFiles::flavors(const QString &id) const
{
    QFile file(contentPath(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
    if (!content)
        return std::nullopt;
    return content->decodedFlavors();
}

std::optional<QImage> ContentFiles::image(const QString &id) const
{
    const std::optional<FlavorList> stored = flavors(id);
    if (!stored)
        return std::nullopt;
    for (const Flavor &f : *stored) {
        if (!Uti::isStoredImage(f.uti))
            continue;
        QImage image = QImage::fromData(f.data);
        if (!image.isNull())
            return image;
    }
    return std::nullopt;
}

std::optional<QString> ContentFiles::plainText(const QString &id) const
{
    const std::optional<FlavorList> stored = flavors(id);
    if (!stored)
        return std::nullopt;
    if (const Flavor *text = Flavors::first(*stored, Uti::plainText))
        return Util::decodeUtf8(text->data);
    if (const Flavor *rtf = Flavors::first(*stored, Uti::rtf)) {
        if (std::optional<QString> text = Rtf::toPlainText(rtf->data))
            return text;
    }
    if (const Flavor *file = Flavors::first(*stored, Uti::fileUrl))
        return Util::decodeUtf8(file->data);
    return std::nullopt;
}

std::optional<QImage> ContentFiles::thumbnail(const QString &id) const
{
    QImage image(thumbPath(id));
    if (image.isNull())
        return std::nullopt;
    return image;
}

qint64 ContentFiles::diskSize() const
{
    qint64 total = 0;
    QDirIterator it(m_dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

ContentFiles::Listing ContentFiles::list() const
{
    return {idsOfFiles(contentFolder(), ".json"),
            idsOfFiles(m_dir + QStringLiteral("/Thumbs"), ".png")};
}

int ContentFiles::removeUnlisted(const Listing &listing,
                                 const std::unordered_set<std::string> &rowIds,
                                 std::chrono::milliseconds settled) const
{
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    auto sweep = [&](const QString &folder, const std::vector<std::string> &ids,
                     const char *suffix) {
        for (const std::string &id : ids) {
            if (rowIds.count(id) != 0)
                continue;
            const QByteArray native =
                QFile::encodeName(folder) + '/' + QByteArray::fromStdString(id) + suffix;
            struct stat info;
            if (::stat(native.constData(), &info) != 0)
                continue;
            const auto modified = std::chrono::system_clock::time_point(
                std::chrono::seconds(info.st_mtim.tv_sec) +
                std::chrono::nanoseconds(info.st_mtim.tv_nsec));
            if (now - modified < settled)
                continue;
            if (::unlink(native.constData()) == 0)
                ++removed;
        }
    };
    sweep(contentFolder(), listing.contentIds, ".json");
    sweep(m_dir + QStringLiteral("/Thumbs"), listing.thumbIds, ".png");
    return removed;
}
