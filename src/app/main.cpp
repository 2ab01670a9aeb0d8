#include "app/CommandLine.h"
#include "app/DesktopServices.h"
#include "app/SelfTest.h"
#include "ocr/OCRService.h"
#include "panel/AppIconCache.h"
#include "panel/PanelController.h"
#include "panel/Theme.h"
#include "paste/PasteService.h"
#include "platform/ShowChannel.h"
#include "platform/X11Workspace.h"
#include "prefs/Prefs.h"
#include "store/Log.h"
#include "store/Store.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>

namespace {

void wireStoreToPrefs()
{
    Prefs::shared();
    Store::setHistoryCapProvider([] { return Prefs::shared().historyCap(); });
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int runCommand(int argc, char **argv, const CommandLine::Command &command)
{
    QCoreApplication app(argc, argv);
    wireStoreToPrefs();
    switch (command.mode) {
    case CommandLine::Mode::SelfTest:
        return SelfTest::run();
    case CommandLine::Mode::ImportCopyLess:
        return CommandLine::runImportCopyLess();
    case CommandLine::Mode::Stats:
        return CommandLine::runStats();
    case CommandLine::Mode::SetIcon:
        return CommandLine::runSetIcon(command.value);
    case CommandLine::Mode::Show:
        return CommandLine::runShow();
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
    QApplication app(argc, argv);
    Brisel::applyDarkAppearance(app);
    app.setApplicationName(QStringLiteral("Ulvane"));
    app.setDesktopFileName(QStringLiteral("org.brisel.Ulvane"));
    app.setQuitOnLastWindowClosed(false);
    wireStoreToPrefs();

    // One instance per user: a second start hands over to the first and leaves.
    ShowChannel channel;
    if (!channel.listen() && ShowChannel::sendShowRequest()) {
        return 0;
    }
    Store &store = Store::shared();
    DesktopServices services;
    services.start();
    // Images captured or imported while no instance ran still wait for their text.
    OCRService::shared().processPendingBacklog();
    PanelHooks hooks;
    hooks.quit = [] { QCoreApplication::quit(); };
    hooks.trusted = [&services] { return services.keyStrokesTrusted(); };
    hooks.grantAccess = [] { PasteService::openAXSettings(); };
    PanelController panel(store, services.pasteService(), services.workspace(), Prefs::shared(),
                          AppIconCache::shared(), hooks);
    QObject::connect(&services, &DesktopServices::togglePanelRequested, &panel,
                     &PanelController::toggle);
    QObject::connect(&channel, &ShowChannel::showRequested, &panel, &PanelController::show);
    Log::line(QStringLiteral("[App] launched, store count=%1").arg(store.count()));
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::Command command = CommandLine::parse(arguments);
    if (command.mode == CommandLine::Mode::Start)
        return startApplication(argc, argv);
    return runCommand(argc, argv, command);
}
