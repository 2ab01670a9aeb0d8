#include "core/InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// The build names the installed folders relative to the binary's; a build for the fuzzers or
// a stand-alone compile gets the usual GNU layout.
#ifndef ULVANE_DATA_FROM_BIN
#define ULVANE_DATA_FROM_BIN "../share/ulvane"
#endif
#ifndef ULVANE_DOC_FROM_BIN
#define ULVANE_DOC_FROM_BIN "../share/doc/ulvane"
#endif
#ifndef ULVANE_LIB_FROM_BIN
#define ULVANE_LIB_FROM_BIN "../lib/ulvane"
#endif
#ifndef ULVANE_BUILD_DIR
#define ULVANE_BUILD_DIR ""
#endif

namespace {

// Symbolic links resolved where the folder exists, so a build tree reached through a link
// still counts as one.
QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : resolved;
}

} // namespace

InstallLayout InstallLayout::running()
{
    return InstallLayout(QCoreApplication::applicationDirPath(), QStringLiteral(ULVANE_BUILD_DIR),
                         QStringLiteral(ULVANE_SOURCE_DIR));
}

InstallLayout::InstallLayout(QString applicationDir, QString buildDir, QString sourceDir)
    : m_applicationDir(std::move(applicationDir)), m_buildDir(std::move(buildDir)),
      m_sourceDir(std::move(sourceDir))
{}

bool InstallLayout::isInBuildTree() const
{
    if (m_buildDir.isEmpty() || m_applicationDir.isEmpty())
        return false;
    const QString build = canonical(m_buildDir);
    const QString app = canonical(m_applicationDir);
    return app == build || app.startsWith(build + u'/');
}

QString InstallLayout::installed(const char *relativeToBinary, const QString &name) const
{
    return QDir::cleanPath(m_applicationDir + u'/' + QLatin1String(relativeToBinary) + u'/' + name);
}

QStringList InstallLayout::iconDirectories() const
{
    QStringList folders{installed(ULVANE_DATA_FROM_BIN, QStringLiteral("icons"))};
    if (isInBuildTree())
        folders.append(m_sourceDir + QStringLiteral("/resources/icons"));
    return folders;
}

QStringList InstallLayout::readmePaths() const
{
    QStringList paths{installed(ULVANE_DOC_FROM_BIN, QStringLiteral("README.md"))};
    if (isInBuildTree())
        paths.append(m_sourceDir + QStringLiteral("/README.md"));
    return paths;
}

QStringList InstallLayout::privateLibraryPaths(const QString &name) const
{
    QStringList paths{installed(ULVANE_LIB_FROM_BIN, name)};
    if (isInBuildTree())
        paths.append(m_buildDir + u'/' + name);
    return paths;
}
