#include "app/settings/SettingsDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString jsonFilter = QStringLiteral("JSON files (*.json);;All files (*)");
} // namespace

bool SettingsDialogs::confirm(QWidget *parent, const QString &message, const QString &detail)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Settings"), message,
                    QMessageBox::NoButton, parent);
    box.setInformativeText(detail);
    QPushButton *clear = box.addButton(QStringLiteral("Clear"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(clear);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == clear;
}

void SettingsDialogs::inform(QWidget *parent, const QString &message)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Settings"), message, QMessageBox::Ok,
                    parent);
    box.exec();
}

QString SettingsDialogs::chooseExportFile(QWidget *parent, const QString &suggestedName)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export History"),
                                        QDir::homePath() + u'/' + suggestedName, jsonFilter,
                                        nullptr, QFileDialog::DontUseNativeDialog);
}

QString SettingsDialogs::chooseImportFile(QWidget *parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Import History"), QDir::homePath(),
                                        jsonFilter, nullptr, QFileDialog::DontUseNativeDialog);
}
