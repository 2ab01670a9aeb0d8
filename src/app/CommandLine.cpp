#include "app/CommandLine.h"

#include "app/AppIconManager.h"
#include "app/AppIconStyle.h"
#include "core/Log.h"
#include "exchange/CopyLessImporter.h"
#include "store/Store.h"

#include <cstdio>

namespace CommandLine {

namespace {

// A comma-separated list broken into lines of at most `width` characters, each indented.
QString wrapped(const QStringList &words, const QString &indent, qsizetype width)
{
    QStringList lines;
    QString line;
    for (const QString &word : words) {
        if (!line.isEmpty() && indent.size() + line.size() + 2 + word.size() > width) {
            lines.append(indent + line + u',');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(", ")) + word;
    }
    lines.append(indent + line);
    return lines.join(u'\n');
}

} // namespace

Command parse(const QStringList &arguments)
{
    std::vector<std::string> words;
    words.reserve(size_t(arguments.size()));
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    const CommandWords::Command command =
        CommandWords::parse(std::vector<std::string_view>(words.begin(), words.end()));
    return {command.mode, QString::fromStdString(command.value)};
}

void printLine(const QString &line)
{
    const QByteArray utf8 = line.toUtf8() + '\n';
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fflush(stdout);
}

int runHelp()
{
    QStringList styles;
    for (AppIconStyle each : AppIconStyles::allCases())
        styles.append(AppIconStyles::rawValue(each));
    const QString indent(23, u' ');
    printLine(
        QStringLiteral(
            "Usage: ulvane [COMMAND]\n"
            "Clipboard history for the Linux desktop, kept on this computer.\n"
            "\n"
            "Without a command, starts Ulvane in the system tray. One instance runs per user:\n"
            "a second start opens the picker of the first one.\n"
            "\n"
            "Commands:\n"
            "  --show               open the picker of the running Ulvane\n"
            "  --stats              print the number of clips and the history's size on disk\n"
            "  --set-icon STYLE     choose the application icon style, one of:\n") +
        wrapped(styles, indent, 80) +
        QStringLiteral("\n"
                       "  --import-copyless    take over the history of CopyLess 2\n"
                       "  --selftest           run the built-in checks on throw-away stores\n"
                       "  -h, --help           print this help and exit\n"
                       "  --version            print the version and exit\n"
                       "\n"
                       "The first command given wins. Files and environment: see ulvane(1)."));
    return 0;
}

int runStats()
{
    Store &store = Store::shared();
    const qint64 count = store.count();
    const qint64 disk = store.diskSize();
    printLine(QStringLiteral("{\"count\": %1, \"disk\": %2, \"fts\": %3}")
                  .arg(count)
                  .arg(disk)
                  .arg(store.ftsAvailable() ? QStringLiteral("true") : QStringLiteral("false")));
    return 0;
}

int runSetIcon(const QString &styleName)
{
    const std::optional<AppIconStyle> style = AppIconStyles::fromRawValue(styleName);
    if (!style) {
        QStringList names;
        for (AppIconStyle each : AppIconStyles::allCases())
            names.append(AppIconStyles::rawValue(each));
        printLine(QStringLiteral("unknown style '") + styleName + QStringLiteral("'; valid: ") +
                  names.join(QStringLiteral(", ")));
        return 1;
    }
    AppIconManager icons;
    // Kept even when the steps below fail: the next launch tries the style again.
    icons.remember(*style);
    if (!icons.hasArtwork(*style)) {
        printLine(QStringLiteral("missing bundled icns for ") + styleName);
        return 1;
    }
    QString error;
    if (!icons.installDesktopEntry(*style, &error)) {
        Log::line(QStringLiteral("[AppIcon] menu entry not updated: ") + error);
        printLine(QStringLiteral("setIcon FAILED"));
        return 1;
    }
    printLine(QStringLiteral("icon set: ") + styleName);
    return 0;
}

int runImportCopyLess()
{
    return CopyLessImporter::runCLI();
}

} // namespace CommandLine
