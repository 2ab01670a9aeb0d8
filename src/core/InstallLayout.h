#pragma once

#include <QString>
#include <QStringList>

// Where the files that ship with the program are: under the install prefix, found from the
// executable's own folder so the same build works from /usr, /usr/local or any prefix it is
// copied to. Only a binary still inside its build tree also looks in the source tree, so a
// developer's build runs without installing; an installed one never reads the source tree,
// even while it exists.
class InstallLayout
{
public:
    // The running executable's layout; needs a QCoreApplication.
    static InstallLayout running();

    InstallLayout(QString applicationDir, QString buildDir, QString sourceDir);

    // Candidate folders of the icon-style artwork, the installed one first.
    QStringList iconDirectories() const;
    // Candidate paths of the README, the installed one first.
    QStringList readmePaths() const;

    // Candidate paths of a library of the program's own that it loads when needed (text
    // recognition), the installed one first.
    QStringList privateLibraryPaths(const QString &name) const;

    bool isInBuildTree() const;

private:
    QString installed(const char *relativeToBinary, const QString &name) const;

    QString m_applicationDir;
    QString m_buildDir;
    QString m_sourceDir;
};
