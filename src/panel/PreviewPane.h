#pragma once

#include "core/Clip.h"

#include <QWidget>

class AppIconCache;
class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QStackedWidget;
class Store;

// The clip beside the list, in full: its application and time, the whole text (or the image
// with its recognised text), and a line of statistics.
class PreviewPane : public QWidget
{
    Q_OBJECT

public:
    static constexpr int paneWidth = 280;

    PreviewPane(Store &store, AppIconCache &icons, QWidget *parent = nullptr);

    void setClip(const Clip &clip);
    const Clip &clip() const { return m_clip; }

    // What the pane shows, for tests and screen readers.
    QString appLabelText() const;
    QString bodyText() const;
    QString statsText() const;
    bool showsImage() const;

private:
    Store &m_store;
    AppIconCache &m_icons;
    Clip m_clip;

    QLabel *m_appIcon;
    QLabel *m_appName;
    QLabel *m_time;
    QStackedWidget *m_body;
    QPlainTextEdit *m_text;
    QScrollArea *m_imageScroll;
    QLabel *m_image;
    QLabel *m_ocrCaption;
    QLabel *m_ocrText;
    QLabel *m_stats;
};
