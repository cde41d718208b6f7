#include "update/UpdateAlert.h"

#include "settings/Texts.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace UpdateAlert {

void showUnopenedLink(QWidget *parent, const QUrl &link)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);
    box->setIcon(QMessageBox::Warning);
    box->setText(Texts::text("update.noBrowser"));
    box->setInformativeText(link.toString());
    box->setStandardButtons(QMessageBox::Ok);
    // The address is there to be copied into a browser by hand.
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    box->open();
}

QMessageBox *make(QWidget *parent, const UpdateChecker::Result &result, std::function<bool(const QUrl &)> openLink)
{
    using Kind = UpdateChecker::Result::Kind;
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // Applies to the informative text too: the version and the failure reason
    // come from the network and must never be read as markup.
    box->setTextFormat(Qt::PlainText);
    switch (result.kind) {
    case Kind::newer: {
        box->setIcon(QMessageBox::Information);
        box->setText(Texts::format("update.available", {result.release.version}));
        box->setInformativeText(Texts::format("update.availableInfo", {UpdateChecker::runningVersion()}));
        QPushButton *download = box->addButton(Texts::text("update.download"), QMessageBox::AcceptRole);
        box->addButton(Texts::text("update.later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        const QUrl link = result.release.download;
        QPointer<QWidget> owner(parent);
        QObject::connect(download, &QPushButton::clicked, box, [link, openLink, owner] {
            if (openLink && !openLink(link))
                showUnopenedLink(owner.data(), link);
        });
        break;
    }
    case Kind::upToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(Texts::format("update.upToDate", {result.text}));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(Texts::text(result.answered ? "update.unreadable" : "update.failed"));
        box->setInformativeText(result.text);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    // QMessageBox gives the informative text a label of its own that guesses
    // the format from the text; a reason such as "<img src=...>" must not be
    // rendered.
    // Qt sizes the box to its text; a reason in Chinese (no spaces to break at)
    // would then wrap after a few characters. A spacer across the bottom row
    // gives the box a floor and leaves the labels to Qt's own layout.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
        const int floor = box->fontMetrics().averageCharWidth() * 56;
        grid->addItem(new QSpacerItem(floor, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    return box;
}

void checkNow(QWidget *parent)
{
    // One check at a time: pressing again while the website is slow would
    // stack one alert per press.
    static bool asking = false;
    if (asking)
        return;
    asking = true;
    QPointer<QWidget> guard(parent);
    // The request belongs to the application, so that closing the settings
    // window does not silently drop the answer.
    UpdateChecker::check(QCoreApplication::instance(), [guard](const UpdateChecker::Result &result) {
        asking = false;
        make(guard.data(), result)->open();
    });
}

} // namespace UpdateAlert
