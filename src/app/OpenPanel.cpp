#include "app/OpenPanel.h"

#include "platform/SupportedFiles.h"
#include "settings/Texts.h"
#include "viewer/FileDialogSize.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

namespace {

// Qt's file dialog chooses either files or folders. This one opens a file, and
// takes a selected folder as the choice instead of stepping into it; stepping
// in is still a double click away.
class FileOrFolderDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    QString chosenPath;

    void accept() override
    {
        const QStringList selected = selectedFiles();
        if (selected.size() == 1) {
            const QFileInfo info(selected.first());
            if (info.exists()) {
                chosenPath = QDir::cleanPath(info.absoluteFilePath());
                QDialog::accept();
                return;
            }
        }
        // A typed name that does not exist: the dialog says so itself.
        QFileDialog::accept();
    }
};

} // namespace

void showOpenPanel(QWidget *window, const QString &startFolder,
                   std::function<void(const QString &path)> onChosen)
{
    auto *dialog = new FileOrFolderDialog(window, Texts::text("panel.openMessage"));
    // The desktop's own dialog can be neither a sheet nor a file-or-folder chooser.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // The photos first, without the folder's other files; folders always show.
    QStringList patterns;
    for (const QString &extension : supportedImageExtensions())
        patterns << QStringLiteral("*.") + extension;
    std::sort(patterns.begin(), patterns.end());
    dialog->setNameFilters({Texts::format("panel.filterImages", {patterns.join(u' ')}), Texts::text("panel.filterAll")});
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("openPanel"));
    fitFileDialog(dialog, window);
    if (!startFolder.isEmpty() && QFileInfo(startFolder).isDir())
        dialog->setDirectory(startFolder);
    else
        dialog->setDirectory(QDir::homePath());

    QObject::connect(dialog, &QDialog::finished, dialog,
                     [dialog, onChosen = std::move(onChosen)](int result) {
                         if (onChosen)
                             onChosen(result == QDialog::Accepted ? dialog->chosenPath : QString());
                     });
    dialog->open();
}
