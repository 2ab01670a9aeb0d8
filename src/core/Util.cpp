#include "core/Util.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRegularExpression>
#include <QtEndian>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace Util {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString digest(const FlavorList &flavors)
{
    // Sort by the UTF-8 bytes of the identifier: code-point order, which is byte order for
    // the ASCII identifiers in use.
    struct Keyed
    {
        QByteArray key;
        const Flavor *flavor;
    };
    std::vector<Keyed> sorted;
    sorted.reserve(static_cast<size_t>(flavors.size()));
    for (const Flavor &f : flavors)
        sorted.push_back({f.uti.toUtf8(), &f});
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Keyed &a, const Keyed &b) { return a.key < b.key; });

    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Keyed &k : sorted) {
        hash.addData(k.key);
        char length[8];
        qToLittleEndian<qint64>(static_cast<qint64>(k.flavor->data.size()), length);
        hash.addData(QByteArrayView(length, 8));
        hash.addData(k.flavor->data);
    }
    return QString::fromLatin1(hash.result().toHex());
}

qsizetype graphemeCount(const QString &text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString leftGraphemes(const QString &text, qsizetype count)
{
    if (count <= 0)
        return QString();
    // Each grapheme takes at least one code unit, so a short text needs no scan.
    if (text.size() <= count)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        position = next;
        ++seen;
    }
    return text.left(position);
}

QString excerpt(const QString &text, int limit)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    // Cut long texts early: the collapsed result of the first limit*8+64 code units already
    // holds `limit` graphemes unless the text is mostly whitespace, which we then redo whole.
    const qsizetype window = qsizetype(limit) * 8 + 64;
    if (text.size() > window) {
        QString head = text.left(window);
        head.replace(whitespace, QStringLiteral(" "));
        head = head.trimmed();
        if (graphemeCount(head) > limit)
            return leftGraphemes(head, limit);
    }
    QString collapsed = text;
    collapsed.replace(whitespace, QStringLiteral(" "));
    return leftGraphemes(collapsed.trimmed(), limit);
}

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

} // namespace Util

#include <QStringDecoder>

namespace Util {

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace Util
