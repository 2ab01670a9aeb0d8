#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>

#include <functional>

// Icons of the applications clips came from, by application id. Looking an application up
// means scanning desktop entries and loading theme icons, so each id is resolved once per run
// (an unknown one too, as the generic icon) and kept. Main thread only.
class AppIconCache
{
public:
    static constexpr int iconSize = 20;

    // Turns an application id into its desktop entry's Icon= value; empty when there is none.
    using IconNameLookup = std::function<QString(const QString &appId)>;

    explicit AppIconCache(IconNameLookup lookup);

    // Never null: unknown and empty ids give the generic application icon.
    QPixmap icon(const QString &appId);
    QPixmap generic() const { return m_generic; }

    // How many ids have been resolved through the lookup (each at most once).
    int lookups() const { return m_lookups; }

private:
    static QPixmap render(const QString &iconName);
    static QPixmap drawnGeneric();

    IconNameLookup m_lookup;
    QPixmap m_generic;
    QHash<QString, QPixmap> m_cache;
    int m_lookups = 0;
};
