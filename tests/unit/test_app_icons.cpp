#include "TestMain.h"

#include "app/AppIconStyle.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdlib>

// The application icon artwork: one SVG per style, drawn by QSvgRenderer for the window icon,
// the desktop entry and the picker tiles, at every size from a 16 px panel icon up to 256 px.

namespace {

const QList<int> kSizes{16, 48, 256};

QString artworkPath(const QString &raw)
{
    return QStringLiteral(ULVANE_SOURCE_DIR "/resources/icons/ulvane-") + raw +
           QStringLiteral(".svg");
}

QImage render(QSvgRenderer &renderer, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

struct Coverage
{
    double opaqueShare = 0;
    int colours = 0; // distinct colours among opaque pixels, 4 bits a channel
};

Coverage measure(const QImage &image)
{
    int opaque = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            // Anti-aliased edges would count every blend as a colour of its own.
            if (qAlpha(pixel) < 250)
                continue;
            ++opaque;
            colours.insert(pixel & 0x00F0F0F0);
        }
    }
    return {double(opaque) / (image.width() * image.height()), int(colours.size())};
}

// The share of the middle half of the icon, where the motif sits, that is clearly lighter or
// darker than the tile's ground (the median of a band just inside the tile's edge).
double motifShare(const QImage &image)
{
    const int size = image.width();
    QList<int> band;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int edge = std::min({x, y, size - 1 - x, size - 1 - y});
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) >= 250 && edge >= size * 6 / 100 && edge < size * 14 / 100)
                band.append(qGray(pixel));
        }
    }
    if (band.isEmpty())
        return 0;
    std::nth_element(band.begin(), band.begin() + band.size() / 2, band.end());
    const int ground = band[band.size() / 2];
    int standing = 0;
    int total = 0;
    for (int y = size / 4; y < size * 3 / 4; ++y) {
        for (int x = size / 4; x < size * 3 / 4; ++x) {
            ++total;
            if (std::abs(qGray(image.pixel(x, y)) - ground) >= 48)
                ++standing;
        }
    }
    return double(standing) / total;
}

// Mean absolute difference per channel, 0 to 255.
double meanDifference(const QImage &a, const QImage &b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    }
    return double(sum) / (4.0 * a.width() * a.height());
}

} // namespace

class TestAppIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Qt SVG warns and carries on when it meets what it cannot draw: a gradient id that
        // resolves to nothing, an element outside its subset. In shipped artwork that is a fault.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    }

    void artworkIsASquareSvgOfModestSize_data()
    {
        QTest::addColumn<QString>("raw");
        for (AppIconStyle style : AppIconStyles::allCases())
            QTest::newRow(qPrintable(AppIconStyles::rawValue(style)))
                << AppIconStyles::rawValue(style);
    }

    void artworkIsASquareSvgOfModestSize()
    {
        QFETCH(QString, raw);
        const QFileInfo file(artworkPath(raw));
        QVERIFY2(file.isFile(), qPrintable(QStringLiteral("no artwork at ") + file.filePath()));
        QVERIFY2(file.size() < 12 * 1024, qPrintable(QString::number(file.size())));

        // Qt SVG skips these without a word while other renderers draw them; the artwork has to
        // look the same everywhere and fetch nothing from outside its file.
        QFile svg(file.filePath());
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray markup = svg.readAll();
        for (const char *unsupported :
             {"<filter", "<mask", "<text", "<style", "<image", "<foreignObject", "href="})
            QVERIFY2(!markup.contains(unsupported), unsupported);

        QSvgRenderer renderer(markup);
        QVERIFY(renderer.isValid());
        QVERIFY(!renderer.animated());
        QCOMPARE(renderer.viewBoxF(), QRectF(0, 0, 256, 256));
    }

    void rendersATileWithDetailAtEverySize_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("size");
        for (AppIconStyle style : AppIconStyles::allCases()) {
            const QString raw = AppIconStyles::rawValue(style);
            for (int size : kSizes)
                QTest::addRow("%s@%d", qPrintable(raw), size) << raw << size;
        }
    }

    void rendersATileWithDetailAtEverySize()
    {
        QFETCH(QString, raw);
        QFETCH(int, size);
        QSvgRenderer renderer(artworkPath(raw));
        QVERIFY(renderer.isValid());
        const QImage image = render(renderer, size);

        // A rounded tile: most of the square is covered, but not the corners, which a tile with
        // square corners would still cover a sixteenth of the way in.
        const Coverage coverage = measure(image);
        QVERIFY2(coverage.opaqueShare > 0.6 && coverage.opaqueShare < 0.9,
                 qPrintable(QString::number(coverage.opaqueShare)));
        const int inset = size / 16;
        const int opposite = size - 1 - inset;
        for (const QPoint corner : {QPoint(inset, inset), QPoint(opposite, inset),
                                    QPoint(inset, opposite), QPoint(opposite, opposite)}) {
            const int alpha = qAlpha(image.pixel(corner));
            QVERIFY2(alpha < 128, qPrintable(QString::number(alpha)));
        }
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);

        // A motif that stands out from its ground, even at 16 px.
        QVERIFY2(coverage.colours >= 12, qPrintable(QString::number(coverage.colours)));
        const double motif = motifShare(image);
        QVERIFY2(motif >= 0.2, qPrintable(QString::number(motif)));
    }

    void stylesAreToldApartAtPanelSize()
    {
        QList<QImage> renders;
        const QList<AppIconStyle> styles = AppIconStyles::allCases();
        for (AppIconStyle style : styles) {
            QSvgRenderer renderer(artworkPath(AppIconStyles::rawValue(style)));
            QVERIFY(renderer.isValid());
            renders.append(render(renderer, 48));
        }
        for (qsizetype a = 0; a < renders.size(); ++a) {
            for (qsizetype b = a + 1; b < renders.size(); ++b) {
                const double difference = meanDifference(renders[a], renders[b]);
                QVERIFY2(difference >= 4.0,
                         qPrintable(AppIconStyles::rawValue(styles[a]) + QStringLiteral(" vs ") +
                                    AppIconStyles::rawValue(styles[b]) + QStringLiteral(": ") +
                                    QString::number(difference)));
            }
        }
    }
};

ULVANE_TEST_MAIN(TestAppIcons)
#include "test_app_icons.moc"
