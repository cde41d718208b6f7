#include "viewer/ViewerPageRename.h"

#include "fileops/Rename.h"
#include "settings/Texts.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageExport.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ZoomableImageView.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr double messageSeconds = 2.0;
// Long enough to read which photos stayed and why.
constexpr double failureSeconds = 4.0;
constexpr int fieldHeight = 24;
constexpr int alertWidth = 380;

} // namespace

TextFieldAlert::TextFieldAlert(QWidget *parent, const QString &message, const QString &informativeText,
                               const QString &text, const QString &placeholder, const QString &acceptTitle)
    : QDialog(parent)
{
    setWindowTitle(message);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(8);

    auto *title = new QLabel(message, this);
    title->setTextFormat(Qt::PlainText);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    informative = new QLabel(informativeText, this);
    informative->setTextFormat(Qt::PlainText);
    informative->setWordWrap(true);
    layout->addWidget(informative);

    m_field = new QLineEdit(text, this);
    m_field->setPlaceholderText(placeholder);
    // A screen reader names the field after what it takes, then reads the
    // explanation above it.
    m_field->setAccessibleName(placeholder.isEmpty() ? message : placeholder);
    m_field->setAccessibleDescription(informativeText);
    // At least as tall as the field needs for the desktop's font: a larger font
    // in a field of the usual height would cut the underscores off a name.
    m_field->setFixedHeight(std::max(fieldHeight, m_field->sizeHint().height()));
    layout->addSpacing(4);
    layout->addWidget(m_field);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *accept = buttons->addButton(acceptTitle, QDialogButtonBox::AcceptRole);
    buttons->addButton(Texts::text("alert.cancel"), QDialogButtonBox::RejectRole);
    accept->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addSpacing(6);
    layout->addWidget(buttons);

    setFixedWidth(alertWidth);
    m_field->selectAll();
    m_field->setFocus(Qt::OtherFocusReason);
}

QString TextFieldAlert::informativeText() const
{
    return informative->text();
}

ViewerPageRename::ViewerPageRename(ViewerPage *page)
    : QObject(page)
    , page(page)
{
    QPointer<ViewerPage> guard(page);
    // A rotation being saved, an export or a conversion (which reads the folder's
    // photos by name).
    isProcessing = [guard] {
        return guard
               && ((guard->edits() && guard->edits()->edits.isProcessing())
                   || (guard->exports() && guard->exports()->isProcessing()));
    };
    page->commands.on(CommandId::renameCurrent, [this](int) { renameCurrent(); },
                      page->menuRule(CommandId::renameCurrent));
    page->commands.on(CommandId::batchRename, [this](int) { batchRename(); }, page->menuRule(CommandId::batchRename));
    // The view's own rename key, for a view driven without the window's key routing.
    page->imageView()->onRename = [this] { renameCurrent(); };
}

bool ViewerPageRename::busy()
{
    if (alert)
        return true;
    if (!isProcessing || !isProcessing())
        return false;
    page->flash(Texts::text("msg.fileOpBusy"), messageSeconds);
    return true;
}

void ViewerPageRename::renameCurrent()
{
    // The photo the person sees: while the next one is still on its way there
    // is nothing to rename.
    const std::optional<QString> current = page->currentPhotoPath();
    if (!current || busy() || !page->currentFileIsShownOne())
        return;
    const QString path = *current;
    const int folderGeneration = page->controller()->folderGeneration;
    const Rename::NameParts parts = Rename::splitName(QFileInfo(path).fileName());
    const QString informative = parts.extension.isEmpty()
                                    ? Texts::text("alert.renameNoExt")
                                    : Texts::format("alert.renameKeepExt", {parts.extension});

    alert = new TextFieldAlert(page->window(), Texts::text("alert.rename"), informative, parts.base, QString(),
                               Texts::text("alert.renameButton"));
    QPointer<TextFieldAlert> dialog = alert;
    connect(alert, &QDialog::finished, this, [this, dialog, path, folderGeneration](int answer) {
        // The alert is answered: the next command may ask again at once.
        alert.clear();
        const QString entered = dialog ? dialog->field()->text() : QString();
        page->imageView()->setFocus(Qt::OtherFocusReason);
        if (answer == QDialog::Accepted)
            finishRename(path, folderGeneration, entered);
    });
    alert->open();
}

void ViewerPageRename::finishRename(const QString &path, int folderGeneration, const QString &entered)
{
    const Rename::Result result = Rename::renamePhoto(path, entered);
    switch (result.status) {
    case Rename::Result::Status::unchanged:
        return;
    case Rename::Result::Status::empty:
        page->flash(Texts::text("msg.prefixEmpty"), messageSeconds);
        return;
    case Rename::Result::Status::hidden:
        page->flash(Texts::text("msg.renameHidden"), messageSeconds);
        return;
    case Rename::Result::Status::failed:
        page->flash(Texts::format("msg.renameFailed", {result.reason}), messageSeconds);
        return;
    case Rename::Result::Status::renamed:
        break;
    }
    page->edits()->edits.filesMoved(result.moved);
    page->controller()->photoRenamed(path, result.newPath, folderGeneration);
    page->flash(Texts::format("msg.renamedTo", {QFileInfo(result.newPath).fileName()}), messageSeconds);
}

void ViewerPageRename::batchRename()
{
    const FolderModel &folder = page->controller()->folderModel();
    const std::optional<ImageItem> current = folder.current();
    if (!current || busy())
        return;
    QStringList photos;
    for (const ImageItem &item : folder.photoItems())
        photos << item.url;
    if (photos.isEmpty())
        return;
    const QString currentPath = current->url;
    const int folderGeneration = page->controller()->folderGeneration;
    const QString folderName = QFileInfo(QFileInfo(currentPath).absolutePath()).fileName();

    alert = new TextFieldAlert(page->window(), Texts::text("br.title"),
                               Texts::format("br.info", {QString::number(photos.size())}), folderName,
                               Texts::text("br.field"), Texts::text("br.button"));
    QPointer<TextFieldAlert> dialog = alert;
    connect(alert, &QDialog::finished, this, [this, dialog, photos, currentPath, folderGeneration](int answer) {
        // The alert is answered: the next command may ask again at once.
        alert.clear();
        const QString entered = dialog ? dialog->field()->text() : QString();
        page->imageView()->setFocus(Qt::OtherFocusReason);
        if (answer == QDialog::Accepted)
            finishBatch(photos, currentPath, folderGeneration, entered);
    });
    alert->open();
}

void ViewerPageRename::finishBatch(const QStringList &photos, const QString &current, int folderGeneration,
                                   const QString &entered)
{
    const Rename::BatchResult result = Rename::batchRename(photos, entered);
    if (result.status == Rename::BatchResult::Status::empty) {
        page->flash(Texts::text("msg.prefixEmpty"), messageSeconds);
        return;
    }
    if (result.status == Rename::BatchResult::Status::hidden) {
        page->flash(Texts::text("msg.renameHidden"), messageSeconds);
        return;
    }

    ViewerViewController *c = page->controller();
    page->edits()->edits.filesMoved(result.moved);
    // A name may have changed hands within the batch: nothing cached under
    // either end of a move is shown again.
    for (auto it = result.moved.cbegin(); it != result.moved.cend(); ++it) {
        c->imageLoader().invalidate(it.key());
        c->imageLoader().invalidate(it.value());
    }
    // The folder is read again, with the photo that was current selected under
    // its new name (or the first photo when it is gone).
    if (c->folderGeneration == folderGeneration) {
        const QString renamed = result.moved.value(current, current);
        page->open(QFileInfo::exists(renamed) ? renamed : QFileInfo(renamed).absolutePath());
    }
    // Every photo already had the name it was to get: nothing moved, nothing failed.
    QString message = result.renamed == 0 && result.failed == 0
                          ? Texts::text("msg.renameAllNamed")
                          : Texts::format("msg.renamedCount", {QString::number(result.renamed)});
    if (result.failed > 0) {
        const QString failure = Texts::format("msg.renameSomeFailed", {QString::number(result.failed), result.firstReason});
        message = result.renamed > 0 ? message + QStringLiteral("  ·  ") + failure : failure;
    }
    page->flash(message, result.failed > 0 ? failureSeconds : messageSeconds);
}
