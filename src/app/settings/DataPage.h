#pragma once

#include "app/settings/SettingsPage.h"
#include "exchange/CopyLessImporter.h"

#include <functional>
#include <optional>

namespace FormKit {
class Section;
}
class QLabel;
class QPushButton;
class SettingsDialogs;
class Store;

// The store's figures, export and import of the history, the CopyLess 2 import, and clearing.
class DataPage : public SettingsPage
{
    Q_OBJECT

public:
    // Runs on a pool thread. Absent result: its store was not found.
    using CopyLessJob = std::function<std::optional<CopyLessImporter::Result>()>;

    // `dialogs` must outlive the page.
    DataPage(Store &store, SettingsDialogs &dialogs, QWidget *parent = nullptr);

    // Without a job of its own the page imports into its store with no text recognition queued.
    void setCopyLessJob(CopyLessJob job) { m_copyLessJob = std::move(job); }
    void setDialogs(SettingsDialogs &dialogs) { m_dialogs = &dialogs; }

    void refresh() override;

    // The buttons' actions.
    void exportHistory();
    void importHistory();
    void importCopyLess();
    void confirmClear(bool keepPinned);

Q_SIGNALS:
    // After a CopyLess 2 import finished and its result was reported.
    void copyLessImportFinished();

private:
    QPushButton *addButton(FormKit::Section *section, const QString &name, const QString &text,
                           const QColor &color);
    void finishCopyLessImport(const std::optional<CopyLessImporter::Result> &result);

    Store &m_store;
    SettingsDialogs *m_dialogs;
    CopyLessJob m_copyLessJob;
    QLabel *m_clipsStored;
    QLabel *m_diskUsage;
    QPushButton *m_importCopyLess;
};
