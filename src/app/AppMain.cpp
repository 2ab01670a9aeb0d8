#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/SelfTest.h"
#include "core/Log.h"
#include "launcher/ShowRequest.h"
#include "panel/Theme.h"
#include "platform/DisplaySession.h"
#include "platform/ShowChannel.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int runCommand(int argc, char **argv, const CommandLine::Command &command)
{
    QCoreApplication app(argc, argv);
    Prefs::shared();
    switch (command.mode) {
    case CommandLine::Mode::SelfTest:
        return SelfTest::run();
    case CommandLine::Mode::ImportCopyLess:
        Store::shared().setHistoryCap(Prefs::shared().historyCap());
        return CommandLine::runImportCopyLess();
    case CommandLine::Mode::Stats:
        return CommandLine::runStats();
    case CommandLine::Mode::SetIcon:
        return CommandLine::runSetIcon(command.value);
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
    case CommandLine::Mode::Show: // the launcher answers these two itself
    case CommandLine::Mode::Start:
        break;
    }
    return 0;
}

int startApplication(int argc, char **argv)
{
    if (!hasDisplay()) {
        std::fputs("ulvane: no display to run on (DISPLAY is not set). Start it inside a desktop "
                   "session, or try `make demo`.\n",
                   stderr);
        return 1;
    }
    // Qt's platform follows the clipboard's backend, so it is chosen before Qt starts.
    const DisplaySession &session = DisplaySession::current();
    if (session.backend() == DisplaySession::Backend::None && !session.facts().compositorReached &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("ulvane: the Wayland compositor of WAYLAND_DISPLAY does not answer and "
                   "DISPLAY is not set: no display to run on.\n",
                   stderr);
        return 1;
    }
    session.applyQtPlatform();
    QApplication app(argc, argv);
    Brisel::applyDarkAppearance(app);
    app.setApplicationName(QStringLiteral("Ulvane"));
    app.setDesktopFileName(QStringLiteral("org.brisel.Ulvane"));
    app.setQuitOnLastWindowClosed(false);
    Prefs::shared();

    // One instance per user: a second start hands over to the first and leaves.
    ShowChannel channel;
    if (!channel.listen()) {
        if (ShowRequest::send(2000, ShowRequest::activationToken()))
            return 0;
        if (!ShowChannel::sessionBusAvailable())
            Log::line(QStringLiteral("[App] no D-Bus session bus: `ulvane --show` and the "
                                     "one-instance check are unavailable; the hot key still "
                                     "opens the picker"));
    }
    AppDelegate delegate(channel);
    delegate.start();
    return app.exec();
}

} // namespace

// Called by the launcher (src/launcher) for every command it does not answer itself.
extern "C" __attribute__((visibility("default"))) int ulvane_app_main(int argc, char **argv)
{
    // Past the file-size limit a write should fail with EFBIG, which every writer reports and
    // survives, rather than kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::Command command = CommandLine::parse(arguments);
    if (command.mode == CommandLine::Mode::Help)
        return CommandLine::runHelp();
    if (command.mode == CommandLine::Mode::Start)
        return startApplication(argc, argv);
    return runCommand(argc, argv, command);
}
