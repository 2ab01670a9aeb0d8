#include "app/AboutWindow.h"

#include "panel/FormKit.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int badgeSide = 78;

// The blue rounded square with the clipboard mark.
class Badge : public QWidget
{
public:
    explicit Badge(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(badgeSide, badgeSide);
        auto *shadow = new QGraphicsDropShadowEffect(this);
        shadow->setColor(QColor(0, 0, 0, qRound(0.18 * 255)));
        shadow->setBlurRadius(16);
        shadow->setOffset(0, 3);
        setGraphicsEffect(shadow);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
        QColor faded = Brisel::blue();
        faded.setAlphaF(0.7f);
        gradient.setColorAt(0, Brisel::blue());
        gradient.setColorAt(1, faded);
        QPainterPath square;
        square.addRoundedRect(QRectF(rect()), 18, 18);
        painter.fillPath(square, gradient);
        const qreal mark = 38;
        Symbols::paint(painter, Symbol::Clipboard,
                       QRectF((width() - mark) / 2, (height() - mark) / 2, mark, mark), Qt::white);
    }
};

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    QLabel *label = FormKit::label(text, font, color, parent);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

QWidget *verticalDivider(QWidget *parent)
{
    QWidget *line = FormKit::divider(parent, Qt::Vertical);
    line->setFixedHeight(26);
    return line;
}

QString diskText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

QUrl AboutWindow::makerPage()
{
    // The maker's domain, as the application id org.brisel.Ulvane names it.
    return QUrl(QStringLiteral("https://brisel.org/"));
}

AboutWindow::AboutWindow(Store &store, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(store)
{
    setWindowTitle(QStringLiteral("About Ulvane"));
    setFixedSize(windowWidth, windowHeight);
    FormKit::setWindowColors(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 26, 24, 18);
    layout->setSpacing(0);

    layout->addWidget(new Badge(this), 0, Qt::AlignHCenter);
    layout->addSpacing(16);
    layout->addWidget(textLabel(QStringLiteral("Clipboard Manager"), Fonts::ui(18, QFont::Bold),
                                Brisel::text(), this));
    layout->addSpacing(2);
    layout->addWidget(
        textLabel(QStringLiteral("working title"), Fonts::ui(11), Brisel::faint(), this));
    layout->addSpacing(8);
    QLabel *version = textLabel(versionText(), Fonts::ui(11.5), Brisel::dim(), this);
    version->setObjectName(QStringLiteral("version"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version);
    layout->addSpacing(12);
    QLabel *tagline = textLabel(QStringLiteral("A fast, local-first clipboard manager.\n"
                                               "Everything you copy stays on this computer."),
                                Fonts::ui(12), Brisel::dim(), this);
    tagline->setObjectName(QStringLiteral("tagline"));
    tagline->setWordWrap(true);
    layout->addWidget(tagline);
    layout->addSpacing(18);
    layout->addWidget(buildFigures(), 0, Qt::AlignHCenter);
    layout->addStretch(1);

    auto *link = new QLabel(this);
    link->setObjectName(QStringLiteral("makerLink"));
    link->setFont(Fonts::ui(10.5));
    link->setAlignment(Qt::AlignHCenter);
    const QString linkText = QStringLiteral("Частина екосистеми Brisel");
    link->setTextFormat(Qt::RichText);
    link->setText(QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:none\">%3</a>")
                      .arg(makerPage().toString(QUrl::FullyEncoded).toHtmlEscaped(),
                           Brisel::blue().name(), linkText.toHtmlEscaped()));
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(makerPage().toString());
    connect(link, &QLabel::linkActivated, this,
            [](const QString &url) { QDesktopServices::openUrl(QUrl(url)); });
    QPalette linkPalette = link->palette();
    linkPalette.setColor(QPalette::WindowText, Brisel::blue());
    link->setPalette(linkPalette);
    layout->addWidget(link);
    layout->addSpacing(3);
    layout->addWidget(textLabel(QStringLiteral("Ulvane · clipboard history for the Linux desktop"),
                                Fonts::ui(10), Brisel::faint(), this));

    refreshFigures();
}

QWidget *AboutWindow::buildFigures()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);
    auto figure = [row](const QString &name, const QString &caption) {
        auto *box = new QWidget(row);
        auto *column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        QLabel *value = textLabel(QString(), Fonts::ui(14, QFont::DemiBold), Brisel::text(), box);
        value->setObjectName(name);
        column->addWidget(value);
        column->addWidget(textLabel(caption, Fonts::ui(9.5), Brisel::dim(), box));
        return std::make_pair(box, value);
    };
    auto [clipsBox, clips] = figure(QStringLiteral("clipsValue"), QStringLiteral("clips"));
    auto [diskBox, disk] = figure(QStringLiteral("diskValue"), QStringLiteral("on disk"));
    auto [networkBox, network] =
        figure(QStringLiteral("networkValue"), QStringLiteral("network calls"));
    // Nothing in the program opens a connection, so there is nothing to count.
    network->setText(QStringLiteral("0"));
    m_clips = clips;
    m_disk = disk;
    layout->addWidget(clipsBox);
    layout->addWidget(verticalDivider(row), 0, Qt::AlignVCenter);
    layout->addWidget(diskBox);
    layout->addWidget(verticalDivider(row), 0, Qt::AlignVCenter);
    layout->addWidget(networkBox);
    return row;
}

QString AboutWindow::shortVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    if (!version.isEmpty())
        return version;
    const QString built = QStringLiteral(ULVANE_VERSION);
    return built.isEmpty() ? QStringLiteral("0.1") : built;
}

QString AboutWindow::buildNumber()
{
    return QStringLiteral("1");
}

QString AboutWindow::versionText()
{
    return QStringLiteral("Version ") + shortVersion() + QStringLiteral(" (") + buildNumber() +
           u')';
}

void AboutWindow::refreshFigures()
{
    m_clips->setText(QString::number(m_store.count()));
    m_disk->setText(diskText(m_store.diskSize()));
}

void AboutWindow::showEvent(QShowEvent *event)
{
    refreshFigures();
    QWidget::showEvent(event);
}

void AboutWindow::mousePressEvent(QMouseEvent *event)
{
    // The window has little chrome; let its whole background move it.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
