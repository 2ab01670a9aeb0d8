#pragma once

// Every unit test runs with HOME, the XDG folders and TMPDIR pointing at a fresh temporary
// folder, so no test can read or write the user's real history or settings.

#include <QDir>
#include <QGuiApplication>
#if __has_include(<QApplication>)
#include <QApplication>
#endif
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <sys/stat.h>

namespace TestEnv {

inline QTemporaryDir &home()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/ulvane-test-XXXXXX"));
    return dir;
}

inline void isolate(bool needsDisplay = false)
{
    const QString root = home().path();
    auto set = [&root](const char *name, const char *sub) {
        const QString path = root + QLatin1Char('/') + QLatin1String(sub);
        QDir().mkpath(path);
        ::setenv(name, QFile::encodeName(path).constData(), 1);
    };
    set("HOME", "home");
    set("XDG_DATA_HOME", "home/.local/share");
    set("XDG_CONFIG_HOME", "home/.config");
    set("XDG_CACHE_HOME", "home/.cache");
    set("XDG_RUNTIME_DIR", "runtime");
    set("TMPDIR", "tmp");
    ::chmod(QFile::encodeName(root + QStringLiteral("/runtime")).constData(), 0700);
    // Image code needs a GUI application object, never a display; X11 tests get the private
    // display of scripts/x11-session.
    if (needsDisplay)
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    else
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// Runs one test object in that isolation: offscreen, or on the private X server of
// scripts/x11-session (never the user's desktop); widget tests with a QApplication.
template <typename Application, typename TestObject>
int run(int argc, char **argv, bool needsDisplay)
{
    isolate(needsDisplay);
    Application app(argc, argv);
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace TestEnv

#define ULVANE_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return TestEnv::run<QGuiApplication, TestObject>(argc, argv, false);                       \
    }
#define ULVANE_X11_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return TestEnv::run<QGuiApplication, TestObject>(argc, argv, true);                        \
    }
#define ULVANE_WIDGET_TEST_MAIN(TestObject, needsDisplay)                                          \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return TestEnv::run<QApplication, TestObject>(argc, argv, needsDisplay);                   \
    }
