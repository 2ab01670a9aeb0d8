#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class Store;

// The About window: the product's badge, name and version, and three figures that make the
// local-first promise visible (clips stored, disk used, network calls made: always 0). The
// figures are read each time the window is shown. Closing only hides it; the owner keeps it
// and brings it back where it was.
class AboutWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int windowWidth = 380;
    static constexpr int windowHeight = 360;

    explicit AboutWindow(Store &store, QWidget *parent = nullptr);

    // Where the footer link leads: the maker's web page, opened in the user's browser.
    static QUrl makerPage();

    // The application's version ("0.1.0"), and the build number, "1" when there is none.
    static QString shortVersion();
    static QString buildNumber();
    // "Version 0.1.0 (1)"
    static QString versionText();

    // Reads the store's figures again.
    void refreshFigures();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QWidget *buildFigures();

    Store &m_store;
    QLabel *m_clips = nullptr;
    QLabel *m_disk = nullptr;
};
