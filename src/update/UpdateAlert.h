#pragma once

#include "update/UpdateChecker.h"

#include <functional>

class QMessageBox;
class QObject;
class QWidget;

// The answer to the "check for updates" command, as an alert on the window.
namespace UpdateAlert {

// The alert for a result: newer (download / later), up to date, or failed with
// its reason. Every text from the network is shown as plain text. The caller
// opens it (window-modal); it deletes itself when closed. Pressing download
// hands the link to openLink.
QMessageBox *make(QWidget *parent, const UpdateChecker::Result &result,
                  std::function<bool(const QUrl &)> openLink = UpdateChecker::openLink);

// The download page could not be opened (no web browser): its address, to
// be copied by hand.
void showUnopenedLink(QWidget *parent, const QUrl &link);

// The menu command: checks now and shows the alert on parent (or on its own
// when parent is gone by then).
void checkNow(QWidget *parent);

} // namespace UpdateAlert
