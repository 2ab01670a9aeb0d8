#include "app/CommandLine.h"

#include "app/AppIconManager.h"
#include "app/AppIconStyle.h"
#include "exchange/CopyLessImporter.h"
#include "platform/ShowChannel.h"
#include "core/Log.h"
#include "store/Store.h"

#include <cstdio>

namespace CommandLine {

Command parse(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--selftest")))
        return {Mode::SelfTest, {}};
    if (arguments.contains(QLatin1String("--import-copyless")))
        return {Mode::ImportCopyLess, {}};
    if (arguments.contains(QLatin1String("--stats")))
        return {Mode::Stats, {}};
    const qsizetype setIcon = arguments.indexOf(QLatin1String("--set-icon"));
    // Without a value the word is ignored and checking goes on.
    if (setIcon >= 0 && setIcon + 1 < arguments.size())
        return {Mode::SetIcon, arguments.at(setIcon + 1)};
    if (arguments.contains(QLatin1String("--show")))
        return {Mode::Show, {}};
    return {Mode::Start, {}};
}

void printLine(const QString &line)
{
    const QByteArray utf8 = line.toUtf8() + '\n';
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fflush(stdout);
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

int runShow()
{
    ShowChannel::sendShowRequest();
    return 0;
}

int runImportCopyLess()
{
    return CopyLessImporter::runCLI();
}

} // namespace CommandLine
