#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// What the viewer shows without photos: the program's name, a hint, and a large
// button that opens a folder.
class EmptyStateView : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyStateView(QWidget *parent = nullptr);

    // The open button; the viewer shows the Open panel.
    std::function<void()> onOpen;
    // The button that opens a folder below with photos (see setFolderBelow).
    std::function<void(const QString &folder)> onOpenBelow;

    // "ui.emptyHint" at first; "ui.noImages" / "ui.noMore" after a folder had none.
    // The owner places the view again for the new text's width.
    void setHint(const QString &hint);
    QString hint() const;
    QPushButton *openButton() const { return button; }

    // Offers folder, shown by its path relative to shownFrom, as a second
    // button; an empty folder takes the offer back. A new hint takes it back too.
    void setFolderBelow(const QString &folder, const QString &shownFrom);
    QPushButton *openBelowButton() const { return belowButton; }

private:
    QLabel *title;
    QLabel *hintLabel;
    QPushButton *button;
    QPushButton *belowButton;
    QString folderBelow;
};
