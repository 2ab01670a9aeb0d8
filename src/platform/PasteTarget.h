#pragma once

#include <QtGlobal>

// Where a paste goes: the window the user was working in when the picker came up. Taken
// then, because the picker takes the keyboard and the window is activated again before the
// stroke. A null target means whatever window is active when the stroke is sent.
struct PasteTarget
{
    quint64 window = 0;

    bool isNull() const { return window == 0; }
    friend bool operator==(const PasteTarget &, const PasteTarget &) = default;
};
