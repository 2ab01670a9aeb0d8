#include "app/settings/DataPage.h"

#include "app/settings/SettingsDialogs.h"
#include "exchange/ExportImport.h"
#include "panel/FormKit.h"
#include "panel/Theme.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QThreadPool>
#include <QVBoxLayout>

namespace {
const QColor destructive(0xFF, 0x62, 0x5C);
} // namespace

DataPage::DataPage(Store &store, SettingsDialogs &dialogs, QWidget *parent)
    : SettingsPage(parent), m_store(store), m_dialogs(&dialogs)
{
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(16);

    auto *figures = new FormKit::Section(content());
    auto value = [figures](const QString &name, const QString &text = QString()) {
        QLabel *label = FormKit::label(text, Fonts::ui(13), Brisel::dim(), figures);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    m_clipsStored = value(QStringLiteral("clipsStored"));
    m_diskUsage = value(QStringLiteral("diskUsage"));
    figures->addRow(QStringLiteral("Clips stored"), m_clipsStored);
    figures->addRow(QStringLiteral("Disk usage"), m_diskUsage);
    figures->addRow(QStringLiteral("Network access"),
                    value(QStringLiteral("networkAccess"), QStringLiteral("None — fully local")));
    layout->addWidget(figures);

    auto *transfer = new FormKit::Section(content());
    m_importCopyLess = addButton(transfer, QStringLiteral("importCopyLess"),
                                 QStringLiteral("Import from CopyLess 2…"), Brisel::blue());
    connect(m_importCopyLess, &QPushButton::clicked, this, &DataPage::importCopyLess);
    connect(addButton(transfer, QStringLiteral("exportHistory"), QStringLiteral("Export history…"),
                      Brisel::blue()),
            &QPushButton::clicked, this, &DataPage::exportHistory);
    connect(addButton(transfer, QStringLiteral("importHistory"), QStringLiteral("Import history…"),
                      Brisel::blue()),
            &QPushButton::clicked, this, &DataPage::importHistory);
    layout->addWidget(transfer);

    auto *clearing = new FormKit::Section(content());
    connect(addButton(clearing, QStringLiteral("clearHistory"),
                      QStringLiteral("Clear history (keep favorites)"), destructive),
            &QPushButton::clicked, this, [this] { confirmClear(true); });
    connect(addButton(clearing, QStringLiteral("clearEverything"),
                      QStringLiteral("Clear everything"), destructive),
            &QPushButton::clicked, this, [this] { confirmClear(false); });
    layout->addWidget(clearing);
    layout->addStretch(1);
}

QPushButton *DataPage::addButton(FormKit::Section *section, const QString &name,
                                 const QString &text, const QColor &color)
{
    QPushButton *button = FormKit::rowButton(name, text, color, section);
    section->addWidget(button, 0);
    return button;
}

void DataPage::refresh()
{
    m_clipsStored->setText(QString::number(m_store.count()));
    m_diskUsage->setText(
        QLocale().formattedDataSize(m_store.diskSize(), 1, QLocale::DataSizeSIFormat));
}

void DataPage::exportHistory()
{
    const QString path =
        m_dialogs->chooseExportFile(window(), QStringLiteral("clipboard-export.json"));
    if (path.isEmpty())
        return;
    const std::optional<QByteArray> document = ExportImport::exportAll(m_store);
    if (!document) {
        m_dialogs->inform(window(), QStringLiteral("The history could not be exported."));
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*document) != document->size() ||
        !file.commit()) {
        m_dialogs->inform(window(),
                          QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    }
}

void DataPage::importHistory()
{
    const QString path = m_dialogs->chooseImportFile(window());
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_dialogs->inform(window(),
                          QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray data = file.readAll();
    const ExportImport::ImportResult result = ExportImport::importData(data, m_store);
    refresh();
    m_dialogs->inform(window(), QStringLiteral("Imported %1 clips (%2 duplicates skipped).")
                                    .arg(result.imported)
                                    .arg(result.skipped));
}

void DataPage::importCopyLess()
{
    // One import at a time: a second would only count the first one's clips as duplicates.
    if (!m_importCopyLess->isEnabled())
        return;
    m_importCopyLess->setEnabled(false);
    CopyLessJob job = m_copyLessJob;
    if (!job) {
        job = [&store = m_store] {
            return CopyLessImporter::run(store, CopyLessImporter::containerStore(), nullptr);
        };
    }
    QPointer<DataPage> page(this);
    QThreadPool::globalInstance()->start([job = std::move(job), page] {
        const std::optional<CopyLessImporter::Result> result = job();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [page, result] {
                if (page)
                    page->finishCopyLessImport(result);
            },
            Qt::QueuedConnection);
    });
}

void DataPage::finishCopyLessImport(const std::optional<CopyLessImporter::Result> &result)
{
    m_importCopyLess->setEnabled(true);
    refresh();
    if (result) {
        m_dialogs->inform(window(), QStringLiteral("Imported %1 clips (%2 duplicates skipped).")
                                        .arg(result->imported)
                                        .arg(result->skipped));
    } else {
        m_dialogs->inform(window(), QStringLiteral("CopyLess 2 store not found."));
    }
    Q_EMIT copyLessImportFinished();
}

void DataPage::confirmClear(bool keepPinned)
{
    const QString message = keepPinned ? QStringLiteral("Clear history?")
                                       : QStringLiteral("Clear EVERYTHING including favorites?");
    if (!m_dialogs->confirm(window(), message, QStringLiteral("This cannot be undone.")))
        return;
    m_store.clearHistory(keepPinned);
    refresh();
}
