#include "panel/PreviewPane.h"

#include "panel/AppIconCache.h"
#include "panel/FormKit.h"
#include "panel/Theme.h"
#include "paste/Transforms.h"
#include "store/Store.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
constexpr int imageWidth = PreviewPane::paneWidth - 2 * 12;

QPixmap roundedImage(const QImage &image)
{
    // Fit the pane's width, never enlarge past the image's own size.
    const QSize target = image.width() > imageWidth
                             ? image.size().scaled(imageWidth, 1 << 20, Qt::KeepAspectRatio)
                             : image.size();
    const qreal ratio = 2.0;
    QPixmap pixmap(target * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(target)), 6, 6);
    painter.setClipPath(shape);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(target)), image);
    return pixmap;
}
} // namespace

PreviewPane::PreviewPane(Store &store, AppIconCache &icons, QWidget *parent)
    : QWidget(parent), m_store(store), m_icons(icons)
{
    setFixedWidth(paneWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    m_appIcon = new QLabel(this);
    m_appIcon->setFixedSize(18, 18);
    m_appIcon->setScaledContents(true);
    auto *names = new QVBoxLayout;
    names->setSpacing(1);
    // Plain text: the name comes from the other application's window, which may carry markup.
    m_appName = FormKit::label(QString(), Fonts::ui(12, QFont::DemiBold), Brisel::text(), this);
    m_time = FormKit::label(QString(), Fonts::ui(10.5), Brisel::dim(), this);
    names->addWidget(m_appName);
    names->addWidget(m_time);
    header->addWidget(m_appIcon, 0, Qt::AlignVCenter);
    header->addLayout(names, 1);
    layout->addLayout(header);
    layout->addWidget(FormKit::divider(this));

    m_body = new QStackedWidget(this);
    m_text = new QPlainTextEdit(m_body);
    m_text->setReadOnly(true);
    m_text->setFrameShape(QFrame::NoFrame);
    m_text->setFocusPolicy(Qt::ClickFocus);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; color: %1; }")
                              .arg(Brisel::text().name()));
    m_text->document()->setDocumentMargin(0);
    m_body->addWidget(m_text);

    m_imageScroll = new QScrollArea(m_body);
    m_imageScroll->setFrameShape(QFrame::NoFrame);
    m_imageScroll->setWidgetResizable(true);
    m_imageScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_imageScroll->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget "
                                                "{ background: transparent; }"));
    auto *imageBox = new QWidget;
    auto *imageLayout = new QVBoxLayout(imageBox);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    imageLayout->setSpacing(6);
    m_image = new QLabel(imageBox);
    m_image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ocrCaption =
        FormKit::label(QStringLiteral("OCR"), Fonts::ui(10, QFont::Bold), Brisel::dim(), imageBox);
    m_ocrText = FormKit::label(QString(), Fonts::ui(11), Brisel::text(), imageBox);
    m_ocrText->setWordWrap(true);
    m_ocrText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    imageLayout->addWidget(m_image);
    imageLayout->addWidget(m_ocrCaption);
    imageLayout->addWidget(m_ocrText);
    imageLayout->addStretch(1);
    m_imageScroll->setWidget(imageBox);
    m_body->addWidget(m_imageScroll);
    layout->addWidget(m_body, 1);

    layout->addWidget(FormKit::divider(this));
    m_stats = FormKit::label(QString(), Fonts::mono(10), Brisel::faint(), this);
    layout->addWidget(m_stats);
}

void PreviewPane::setClip(const Clip &clip)
{
    m_clip = clip;
    m_appIcon->setPixmap(m_icons.icon(clip.appId));
    m_appName->setText(clip.appName.isEmpty() ? QStringLiteral("Unknown app") : clip.appName);
    const QDateTime created = QDateTime::fromMSecsSinceEpoch(qint64(clip.created * 1000.0));
    const QLocale locale;
    // Some locales' short time still carries seconds; a clip's time never needs them.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QStringLiteral(":ss"));
    m_time->setText(locale.toString(created.date(), QStringLiteral("MMM d, yyyy")) +
                    QStringLiteral(" at ") + locale.toString(created.time(), timeFormat));

    // Read once: a long text is costly to load and the body and the statistics both need it.
    const std::optional<QString> text = m_store.plainText(clip.id);
    const std::optional<QImage> image =
        clip.kind == ClipKind::Image ? m_store.image(clip.id) : std::nullopt;
    if (image && !image->isNull()) {
        m_image->setPixmap(roundedImage(*image));
        m_ocrCaption->setVisible(!clip.ocr.isEmpty());
        m_ocrText->setVisible(!clip.ocr.isEmpty());
        m_ocrText->setText(clip.ocr);
        m_body->setCurrentWidget(m_imageScroll);
    } else {
        m_image->clear();
        m_text->setFont(clip.kind == ClipKind::Code ? Fonts::mono(12) : Fonts::ui(12));
        m_text->setPlainText(text.value_or(clip.excerpt));
        m_body->setCurrentWidget(m_text);
    }

    if (text)
        m_stats->setText(Transforms::stats(*text));
    else
        m_stats->setText(QLocale().formattedDataSize(clip.byteSize, 1, QLocale::DataSizeSIFormat));
}

QString PreviewPane::appLabelText() const
{
    return m_appName->text();
}

QString PreviewPane::bodyText() const
{
    return showsImage() ? m_ocrText->text() : m_text->toPlainText();
}

QString PreviewPane::statsText() const
{
    return m_stats->text();
}

bool PreviewPane::showsImage() const
{
    return m_body->currentWidget() == m_imageScroll;
}
