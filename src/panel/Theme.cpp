#include "panel/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStyleFactory>

namespace Brisel {
QColor bg()
{
    return QColor(0x0A, 0x0B, 0x0D);
}
QColor surface()
{
    return QColor(0x13, 0x15, 0x1A);
}
QColor elev()
{
    return QColor(0x18, 0x1B, 0x21);
}
QColor line()
{
    return QColor(0x14, 0x17, 0x1B);
}
QColor border()
{
    return QColor(0x1E, 0x22, 0x2A);
}
QColor text()
{
    return QColor(0xF2, 0xF4, 0xF7);
}
QColor dim()
{
    return QColor(0x8B, 0x92, 0x9B);
}
QColor faint()
{
    return QColor(0x56, 0x5D, 0x66);
}
QColor ghost()
{
    return QColor(0x3A, 0x40, 0x48);
}
QColor blue()
{
    return QColor(0x4A, 0x9E, 0xFF);
}
QColor gold()
{
    return QColor(0xF5, 0xC5, 0x42);
}

void applyDarkAppearance(QApplication &app)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    QPalette p;
    p.setColor(QPalette::Window, surface());
    p.setColor(QPalette::WindowText, text());
    p.setColor(QPalette::Base, bg());
    p.setColor(QPalette::AlternateBase, elev());
    p.setColor(QPalette::ToolTipBase, elev());
    p.setColor(QPalette::ToolTipText, text());
    p.setColor(QPalette::PlaceholderText, faint());
    p.setColor(QPalette::Text, text());
    p.setColor(QPalette::Button, elev());
    p.setColor(QPalette::ButtonText, text());
    p.setColor(QPalette::BrightText, gold());
    p.setColor(QPalette::Light, border());
    p.setColor(QPalette::Midlight, border());
    p.setColor(QPalette::Mid, line());
    p.setColor(QPalette::Dark, bg());
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, blue());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, blue());
    p.setColor(QPalette::LinkVisited, blue());
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, faint());
    app.setPalette(p);
    // Thin, dark scroll bars everywhere: Fusion's own would be light arrows on a dark window.
    app.setStyleSheet(
        QStringLiteral(
            "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
            "QScrollBar:horizontal { background: transparent; height: 8px; margin: 2px; }"
            "QScrollBar::handle { background: %1; border-radius: 3px; min-height: 24px;"
            " min-width: 24px; }"
            "QScrollBar::handle:hover { background: %2; }"
            "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
            .arg(border().name(), faint().name()));
}
} // namespace Brisel

std::optional<QColor> colorFromHexString(const QString &text)
{
    // Blanks only, not line breaks: a copied "#ff8800\n" is not a colour.
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [&](qsizetype i) {
        const QChar c = text.at(i);
        return c == u' ' || c == u'\t' || c.category() == QChar::Separator_Space;
    };
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    QStringView hex = QStringView(text).mid(begin, end - begin);
    if (hex.startsWith(u'#'))
        hex = hex.mid(1);
    if (hex.size() != 6 && hex.size() != 8)
        return std::nullopt;
    // The integer parser accepts one leading '+'; anything else must be a hex digit.
    QStringView digits = hex.startsWith(u'+') ? hex.mid(1) : hex;
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        const bool isHex =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!isHex)
            return std::nullopt;
    }
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, 16);
    if (!ok)
        return std::nullopt;
    const int shift = hex.size() == 8 ? 8 : 0;
    const int r = int((value >> (16 + shift)) & 0xFF);
    const int g = int((value >> (8 + shift)) & 0xFF);
    const int b = int((value >> shift) & 0xFF);
    return QColor(r, g, b);
}

namespace Fonts {
namespace {
// Sizes are given in device-independent pixels (a desktop "point" of the layout), so a 13 in
// the layout is 13 pixels tall at 1x whatever DPI the X server reports.
qreal toPointSize(qreal pixels)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return pixels * 72.0 / (dpi > 0 ? dpi : 96.0);
}
} // namespace

QFont ui(qreal pointSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPointSizeF(toPointSize(pointSize));
    font.setWeight(weight);
    return font;
}

QFont mono(qreal pointSize, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(toPointSize(pointSize));
    font.setWeight(weight);
    return font;
}
} // namespace Fonts
