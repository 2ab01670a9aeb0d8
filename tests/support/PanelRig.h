#pragma once

// A picker's surroundings for tests: a real store in a temporary folder, the fake desktop, a
// paste service over them, and a model on screen with a counted hide callback and its clip
// actions.

#include "ContentBuilders.h"
#include "FakePlatform.h"

#include "panel/ClipActions.h"
#include "panel/PanelModel.h"
#include "paste/PasteService.h"

#include <QTemporaryDir>
#include <QTest>

struct PanelRig
{
    QTemporaryDir dir;
    Store store{dir.path()};
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    bool autoPaste = false;
    PasteService paste{pasteboard, keys, workspace, store, [this] { return autoPaste; }};
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
    QString add(const ItemList &items, ClipKind kind = ClipKind::Text, const QString &title = {})
    {
        static int counter = 0;
        const std::optional<QString> id =
            store.add(newClip(items, 1000.0 + ++counter, kind, NewClip::IfStored::StoreAgain));
        if (!id)
            qFatal("test entry was not stored");
        if (!title.isEmpty())
            store.setTitle(*id, title);
        return *id;
    }
    QString add(const QString &text, ClipKind kind = ClipKind::Text, const QString &title = {})
    {
        return add(textItems(text), kind, title);
    }

    // Rows: "gamma" (0), "beta" (1), "alpha" (2).
    void addThree()
    {
        for (const char *text : {"alpha", "beta", "gamma"})
            add(QString::fromLatin1(text));
        model.refresh(false);
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
