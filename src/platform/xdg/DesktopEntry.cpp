#include "platform/xdg/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace DesktopEntry {

namespace {

const QString mainGroupHeader = QStringLiteral("[Desktop Entry]");

bool isGroupHeader(QStringView line)
{
    return line.startsWith(u'[') && line.endsWith(u']');
}

// The key of a "Key=value" line, or empty for blanks, comments and anything else.
QStringView keyOf(QStringView line)
{
    if (line.isEmpty() || line.startsWith(u'#'))
        return {};
    const qsizetype equals = line.indexOf(u'=');
    if (equals <= 0)
        return {};
    return line.first(equals).trimmed();
}

QString unescape(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case u's':
            out.append(u' ');
            break;
        case u'n':
            out.append(u'\n');
            break;
        case u't':
            out.append(u'\t');
            break;
        case u'r':
            out.append(u'\r');
            break;
        default:
            out.append(next);
        }
    }
    return out;
}

} // namespace

std::optional<QHash<QString, QString>> mainGroup(const QString &text)
{
    std::optional<QHash<QString, QString>> values;
    bool inMain = false;
    const QStringList lines = text.split(u'\n');
    for (const QString &raw : lines) {
        const QStringView line = QStringView(raw).trimmed();
        if (isGroupHeader(line)) {
            inMain = line == mainGroupHeader;
            if (inMain && !values)
                values.emplace();
            continue;
        }
        const QStringView key = keyOf(line);
        if (!inMain || key.isEmpty() || values->contains(key.toString()))
            continue;
        values->insert(key.toString(), unescape(line.sliced(line.indexOf(u'=') + 1).trimmed()));
    }
    return values;
}

std::optional<QString> readFile(const QString &path)
{
    QFile file(path);
    if (file.size() > maxFileBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.read(maxFileBytes));
}

QString escapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        switch (c.unicode()) {
        case u'\\':
            out.append(QStringLiteral("\\\\"));
            break;
        case u'\n':
            out.append(QStringLiteral("\\n"));
            break;
        case u'\t':
            out.append(QStringLiteral("\\t"));
            break;
        case u'\r':
            out.append(QStringLiteral("\\r"));
            break;
        case u' ':
            // Readers trim the blanks after '='.
            out.append(i == 0 ? QStringLiteral("\\s") : QStringLiteral(" "));
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

QString execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = program.isEmpty();
    for (const QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument;
    if (needsQuotes) {
        argument.append(u'"');
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument.append(u'\\');
            argument.append(c);
        }
        argument.append(u'"');
    } else {
        argument = program;
    }
    // Field codes start with '%'; a literal one is doubled.
    argument.replace(u'%', QStringLiteral("%%"));
    return escapeValue(argument);
}

QString value(const QString &text, const QString &key)
{
    return mainGroup(text).value_or(QHash<QString, QString>()).value(key);
}

QString withValue(const QString &text, const QString &key, const QString &escapedValue)
{
    QStringList lines = text.split(u'\n');
    const QString assignment = key + u'=' + escapedValue;
    qsizetype groupStart = -1;
    qsizetype lastInGroup = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = QStringView(lines.at(i)).trimmed();
        if (isGroupHeader(line)) {
            if (groupStart >= 0)
                break; // past the main group
            if (line == mainGroupHeader) {
                groupStart = i;
                lastInGroup = i;
            }
            continue;
        }
        if (groupStart < 0)
            continue;
        if (keyOf(line) == key) {
            lines[i] = assignment;
            return lines.join(u'\n');
        }
        if (!line.isEmpty())
            lastInGroup = i;
    }
    if (groupStart < 0)
        return QString();
    lines.insert(lastInGroup + 1, assignment);
    return lines.join(u'\n');
}

bool writeFile(const QString &path, const QString &text, QString *error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder ") + folder;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    file.write(text.toUtf8());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write ") + path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace DesktopEntry
