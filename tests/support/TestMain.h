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

} // namespace TestEnv

#define ULVANE_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv::isolate();                                                                        \
        QGuiApplication app(argc, argv);                                                           \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// For tests run inside scripts/x11-session: the real X server, never the user's desktop.
#define ULVANE_X11_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv::isolate(true);                                                                    \
        QGuiApplication app(argc, argv);                                                           \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// Widget tests: the same isolation with a QApplication (offscreen, or the private X server).
#define ULVANE_WIDGET_TEST_MAIN(TestObject, needsDisplay)                                          \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv::isolate(needsDisplay);                                                            \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
