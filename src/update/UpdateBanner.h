#pragma once

#include "update/UpdateChecker.h"

#include <QFrame>

#include <functional>

class QLabel;
class QPushButton;
class QToolButton;

// The unobtrusive note at the top of the viewer that a newer version exists:
// the message, a download button and a skip button. At most one per host
// widget; it stays until one of its buttons is pressed or the host goes.
class UpdateBanner : public QFrame
{
    Q_OBJECT
public:
    // Shows the banner for release at the top of host, centred, unless one is
    // already there (then that one is returned unchanged).
    static UpdateBanner *showIn(QWidget *host, const UpdateChecker::Release &release);
    // The banner shown in host, if any.
    static UpdateBanner *find(QWidget *host);

    // Opens the download link (the browser, safe links only); replaceable for tests.
    std::function<bool(const QUrl &)> openLink = UpdateChecker::openLink;
    // Called after the banner was dismissed by either button.
    std::function<void()> onDismiss;

    // The two buttons' actions.
    void download();
    void skipVersion();

    const UpdateChecker::Release &release() const { return shown; }
    QLabel *messageLabel() const { return message; }
    QPushButton *downloadButton() const { return downloadBtn; }
    QToolButton *skipButton() const { return skipBtn; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    UpdateBanner(QWidget *host, const UpdateChecker::Release &release);
    void place();
    void dismiss();

    UpdateChecker::Release shown;
    QLabel *message = nullptr;
    QPushButton *downloadBtn = nullptr;
    QToolButton *skipBtn = nullptr;
};
