#include "app/AppIconManager.h"

#include "app/EntryProgram.h"
#include "core/InstallLayout.h"
#include "core/Log.h"
#include "platform/xdg/DesktopEntry.h"
#include "prefs/Prefs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QXmlStreamReader>

namespace {

// Icon artwork is a few kilobytes; anything far larger is not ours.
constexpr qint64 maxArtworkBytes = 8 * 1024 * 1024;

bool hasGuiApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

// The SVG renderer needs a GUI application as soon as a document holds text, so without one
// the file is only checked for being a well-formed document with an <svg> root.
bool isSvgDocument(const QString &path)
{
    QFile file(path);
    if (file.size() > maxArtworkBytes || !file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != u"svg")
        return false;
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

QString readEntry(const QString &path)
{
    return DesktopEntry::readFile(path).value_or(QString());
}

bool hasMainGroup(const QString &text)
{
    return DesktopEntry::mainGroup(text).has_value();
}

} // namespace

QStringList AppIconManager::defaultIconDirectories()
{
    return InstallLayout::running().iconDirectories();
}

QString AppIconManager::defaultDesktopEntryPath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/applications/") + DesktopEntry::fileName;
}

AppIconManager::AppIconManager()
    : AppIconManager(defaultIconDirectories(), defaultDesktopEntryPath(), EntryProgram::current())
{}

AppIconManager::AppIconManager(QStringList iconDirectories, QString desktopEntryPath,
                               QString executable)
    : m_iconDirectories(std::move(iconDirectories)),
      m_desktopEntryPath(std::move(desktopEntryPath)), m_executable(std::move(executable))
{}

AppIconStyle AppIconManager::storedStyle() const
{
    return AppIconStyles::fromRawValue(Prefs::appIconStyle()).value_or(defaultStyle);
}

QString AppIconManager::artworkPath(AppIconStyle style) const
{
    const QString name =
        QStringLiteral("ulvane-") + AppIconStyles::rawValue(style) + QStringLiteral(".svg");
    for (const QString &folder : m_iconDirectories) {
        const QString path = folder + u'/' + name;
        if (QFileInfo(path).isFile())
            return QFileInfo(path).absoluteFilePath();
    }
    return QString();
}

bool AppIconManager::hasArtwork(AppIconStyle style) const
{
    const QString path = artworkPath(style);
    if (path.isEmpty())
        return false;
    if (!hasGuiApplication())
        return isSvgDocument(path);
    return QFileInfo(path).size() <= maxArtworkBytes && QSvgRenderer(path).isValid();
}

QIcon AppIconManager::icon(AppIconStyle style) const
{
    const QString path = artworkPath(style);
    if (path.isEmpty() || !hasGuiApplication() || QFileInfo(path).size() > maxArtworkBytes)
        return QIcon();
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return QIcon();
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void AppIconManager::apply(AppIconStyle style)
{
    remember(style);
    const QIcon image = icon(style);
    // Without a GUI application there is no window icon to set, only the menu entry.
    const bool usable = hasGuiApplication() ? !image.isNull() : hasArtwork(style);
    if (!usable) {
        // The wording predates the SVG artwork; log watchers match it as it is.
        Log::line(QStringLiteral("[AppIcon] missing bundled icns for ") +
                  AppIconStyles::rawValue(style));
        return;
    }
    useArtwork(style, image);
}

void AppIconManager::applyStored()
{
    const AppIconStyle style = storedStyle();
    const QIcon image = icon(style);
    if (!image.isNull())
        useArtwork(style, image);
}

void AppIconManager::remember(AppIconStyle style) const
{
    Prefs::setAppIconStyle(AppIconStyles::rawValue(style));
}

void AppIconManager::useArtwork(AppIconStyle style, const QIcon &icon) const
{
    if (!icon.isNull() && hasGuiApplication())
        QGuiApplication::setWindowIcon(icon);
    QString error;
    if (!installDesktopEntry(style, &error))
        Log::line(QStringLiteral("[AppIcon] menu entry not updated: ") + error);
}

bool AppIconManager::installDesktopEntry(AppIconStyle style, QString *error) const
{
    const QString artwork = artworkPath(style);
    if (artwork.isEmpty()) {
        *error = QStringLiteral("no artwork for ") + AppIconStyles::rawValue(style);
        return false;
    }
    const QString current = readEntry(m_desktopEntryPath);
    // The user's own entry keeps everything but its icon, and its program while that can
    // still start: one written by an install since removed or moved starts this one instead.
    QString base = hasMainGroup(current) ? current : desktopEntryTemplate();
    if (!EntryProgram::canStart(DesktopEntry::value(base, QStringLiteral("Exec"))))
        base = DesktopEntry::withValue(base, QStringLiteral("Exec"),
                                       DesktopEntry::execValue(m_executable));
    const QString updated =
        DesktopEntry::withValue(base, QStringLiteral("Icon"), DesktopEntry::escapeValue(artwork));
    if (updated == current)
        return true; // launches re-apply the stored style; leave the file alone
    return DesktopEntry::writeFile(m_desktopEntryPath, updated, error);
}

QString AppIconManager::desktopEntryTemplate() const
{
    // An installed entry knows how the package starts the program; copy it.
    const QString relative = QStringLiteral("applications/") + DesktopEntry::fileName;
    const QString own = QFileInfo(m_desktopEntryPath).absoluteFilePath();
    for (const QString &path :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, relative)) {
        if (QFileInfo(path).absoluteFilePath() == own)
            continue;
        const QString text = readEntry(path);
        if (hasMainGroup(text))
            return text;
    }
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Ulvane\n"
                          "GenericName=Clipboard History\n"
                          "Comment=Everything you copy, searchable and kept on this computer\n"
                          "Exec=") +
           DesktopEntry::execValue(m_executable) +
           QStringLiteral("\n"
                          "Icon=\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "StartupNotify=false\n");
}
