#pragma once

// Realistic histories for the benchmarks: texts from a Zipf-skewed vocabulary, stored fast,
// and a mix of texts, images and colours as the picker shows them.

#include "core/Util.h"
#include "store/Store.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringList>
#include <QUuid>

#include <vector>

namespace BenchData {

// A vocabulary of pronounceable words with a Zipf-like use, so common prefixes match much of
// the history and rare ones little, as in real clipboards.
class TextGenerator
{
public:
    TextGenerator() : m_random(42)
    {
        const QString consonants = QStringLiteral("bcdfghjklmnprstvwz");
        const QString vowels = QStringLiteral("aeiou");
        for (int i = 0; i < 20000; ++i) {
            QString word;
            const int syllables = 1 + int(m_random.bounded(4));
            for (int s = 0; s < syllables; ++s) {
                word += consonants[int(m_random.bounded(consonants.size()))];
                word += vowels[int(m_random.bounded(vowels.size()))];
            }
            m_words.append(word);
        }
    }
    QString word()
    {
        // Zipf-ish: index = n^2 scaled, so low indexes are frequent.
        const double u = m_random.generateDouble();
        return m_words[int(u * u * u * double(m_words.size() - 1))];
    }
    QString text()
    {
        const int kind = int(m_random.bounded(10));
        const int words = kind < 6   ? 2 + int(m_random.bounded(12))     // short snippets
                          : kind < 9 ? 20 + int(m_random.bounded(60))    // paragraphs
                                     : 200 + int(m_random.bounded(200)); // long texts
        QStringList parts;
        for (int i = 0; i < words; ++i)
            parts << word();
        return parts.join(u' ');
    }
    QRandomGenerator &random() { return m_random; }

private:
    QRandomGenerator m_random;
    QStringList m_words;
};

inline QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

inline void populate(Store &store, TextGenerator &gen, int count, std::vector<QString> *samples)
{
    static const char *const apps[] = {"Firefox", "Terminal",    "Text Editor", "Files",    "Slack",
                                       "Code",    "LibreOffice", "Thunderbird", "Chromium", "Kate"};
    QList<Clip> rows;
    rows.reserve(count);
    const double base = Util::now() - count;
    for (int i = 0; i < count; ++i) {
        const QString text = gen.text();
        if (samples && i % 97 == 0)
            samples->push_back(Util::excerpt(text, Util::excerptLimit));
        Clip c;
        c.id = newId();
        c.created = base + i;
        c.kind = ClipKind::Text;
        c.excerpt = Util::excerpt(text, Util::excerptLimit);
        c.appName = QString::fromLatin1(apps[i % 10]);
        c.appId = c.appName.toLower();
        c.digest = Util::sha256(text.toUtf8());
        c.byteSize = text.size();
        rows.append(std::move(c));
    }
    // Checkpointed as well: a history that grew over months has its log checkpointed, and
    // that steady state is what gets measured.
    store.addRows(rows);
}

inline QByteArray thumbnailPNG(int i)
{
    QImage image(220, 140, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((i * 37) % 360, 120, 200));
    QPainter(&image).drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Image %1").arg(i));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A history whose newest 400 rows mix long texts, images with thumbnails and colours. The cap is
// lifted first: under the default one each added clip trims the history back to 1000.
inline void populateMixed(Store &store, int texts)
{
    store.setHistoryCap(0);
    TextGenerator gen;
    populate(store, gen, texts, nullptr);
    const double now = Util::now();
    for (int i = 0; i < 40; ++i) {
        const QByteArray png = thumbnailPNG(i);
        NewClip image;
        image.items = {FlavorList{Flavor{Uti::png, png}}};
        image.kind = ClipKind::Image;
        image.excerpt = QStringLiteral("Image 220×140");
        image.appId = QStringLiteral("firefox");
        image.appName = QStringLiteral("Firefox");
        image.created = now + i * 3;
        image.ifStored = NewClip::IfStored::StoreAgain;
        image.ownThumbnail = png;
        store.add(image);
        const QString colour = QColor::fromHsv((i * 53) % 360, 200, 230).name();
        NewClip color;
        color.items = {FlavorList{Flavor{Uti::plainText, colour.toUtf8()}}};
        color.kind = ClipKind::Color;
        color.excerpt = colour;
        color.created = now + i * 3 + 1;
        color.ifStored = NewClip::IfStored::StoreAgain;
        store.add(color);
    }
}

} // namespace BenchData
