#pragma once

// A picker's surroundings for tests: a real store in a temporary folder, the fake desktop, a
// paste service over them, and a model on screen with a counted hide callback and its clip
// actions.

#include "FakePlatform.h"

#include "panel/ClipActions.h"
#include "panel/PanelModel.h"
#include "paste/PasteService.h"
#include "store/Store.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct PanelRig
{
    QTemporaryDir dir;
    Store store{dir.path()};
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    PasteService paste{pasteboard, keys, workspace, store, [] { return false; }};
    PanelModel model{store};
    ClipActions actions{model, store, paste};
    int hides = 0;

    PanelRig()
    {
        model.setRequestHide([this] { ++hides; });
        // Most tests watch the list follow the store, which it does only while shown.
        model.setOnScreen(true);
    }

    // Newest first in the list, so the last one added is row 0.
    QString add(const QString &text, ClipKind kind = ClipKind::Text, const QString &title = {})
    {
        static int counter = 0;
        ++counter;
        NewClip clip;
        clip.items = {FlavorList{Flavor{Uti::plainText, text.toUtf8()}}};
        clip.kind = kind;
        clip.excerpt = text;
        clip.created = 1000.0 + counter;
        clip.ifStored = NewClip::IfStored::StoreAgain;
        clip.id = QStringLiteral("ID-%1").arg(counter);
        const std::optional<QString> id = store.add(clip);
        if (!id)
            qFatal("test entry was not stored");
        if (!title.isEmpty())
            store.setTitle(*id, title);
        return *id;
    }

    // The delayed paste has reached the clipboard; generous, so a loaded machine never fails it.
    bool waitForPaste(int writes = 1)
    {
        return QTest::qWaitFor([&] { return pasteboard.writes >= writes; }, 10000);
    }

    QString pasteboardText() const
    {
        return pasteboard.items.isEmpty() ? QString()
                                          : QString::fromUtf8(pasteboard.items[0][0].data);
    }
};
