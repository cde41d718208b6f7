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

    // "ui.emptyHint" at first; "ui.noImages" / "ui.noMore" after a folder had none.
    // The owner places the view again for the new text's width.
    void setHint(const QString &hint);
    QString hint() const;
    QPushButton *openButton() const { return button; }

private:
    QLabel *title;
    QLabel *hintLabel;
    QPushButton *button;
};
