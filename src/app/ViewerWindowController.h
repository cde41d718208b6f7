#pragma once

#include "viewer/ViewerViewController.h"

#include <QMainWindow>
#include <QSize>

// The window's content controller: the one thing the window creates inside
// itself and forwards open requests to. It must be a QWidget with
// open(const QString &) and openFolderPanel().
using ContentController = ViewerViewController;

// The one main window: dark, black behind the photo, remembered size, centred.
class ViewerWindowController : public QMainWindow
{
    Q_OBJECT
public:
    // The toolkit-level record of the window frame (not a preference).
    static constexpr const char *frameAutosaveName = "SorvaneMainWindow";
    static constexpr QSize initialSize{1280, 860};
    static constexpr QSize minimumContentSize{640, 420};

    explicit ViewerWindowController(QWidget *parent = nullptr);

    // Shows the window, brings it in front of other applications and gives it focus.
    void showWindow();

    // Forwarded to the content controller; dropped when it is not there.
    void open(const QString &path);
    void openFolderPanel();

    ContentController *contentController() const;

    // Stores the window's frame under frameAutosaveName.
    void saveFrame() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void restoreFrame();
};
