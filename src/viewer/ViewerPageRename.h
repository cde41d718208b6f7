#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QLineEdit;
class ViewerPage;

// A question answered with one line of text, over the window it belongs to:
// a bold message, an explanation, the text field (which has the focus with its
// text selected), and the accepting button (the default) beside Cancel.
class TextFieldAlert : public QDialog
{
    Q_OBJECT
public:
    TextFieldAlert(QWidget *parent, const QString &message, const QString &informative, const QString &text,
                   const QString &placeholder, const QString &acceptTitle);

    QLineEdit *field() const { return m_field; }
    QString informativeText() const;

private:
    QLineEdit *m_field;
    QLabel *informative;
};

// Connects renaming to the viewer page: the rename and batch-rename commands,
// their alerts, and what follows a rename (the folder's entries, the caches,
// the display and the message). The file work itself is Rename's.
//
// Each alert captures what it is about when it opens (the photo, or the
// folder's photos in their order), so a slideshow tick or a step to another
// photo while it is open never changes which file is renamed.
class ViewerPageRename : public QObject
{
    Q_OBJECT
public:
    explicit ViewerPageRename(ViewerPage *page);

    // The rename command: asks for the current photo's new name.
    void renameCurrent();
    // The batch-rename command: asks for the prefix of every photo of the folder.
    void batchRename();

    // The alert open now, if any (tests type into it).
    TextFieldAlert *openAlert() const { return alert; }

    // Whether another file operation is running; neither command starts then.
    // By default the page's rotation save, export or conversion.
    std::function<bool()> isProcessing;

private:
    void finishRename(const QString &path, int folderGeneration, const QString &entered);
    void finishBatch(const QStringList &photos, const QString &current, int folderGeneration, const QString &entered);
    // An alert is open already, or another file operation runs (which is said).
    bool busy();

    ViewerPage *page;
    QPointer<TextFieldAlert> alert;
};
