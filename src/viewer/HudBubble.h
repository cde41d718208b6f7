#pragma once

#include <QWidget>

class QLabel;
class QTimer;

// The message bubble over the photo: a short confirmation shown for a given
// number of seconds. A new message replaces the old one at once and gets its
// own full duration; requests to hide it while a message shows are ignored.
// A message wider than the bubble wraps, up to three lines, and only what
// three lines cannot hold is shortened in the middle.
class HudBubble : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maximumWidth = 420;

    explicit HudBubble(QWidget *parent = nullptr);

    void flash(const QString &message, double seconds);
    void hideUnlessFlashing();
    bool isFlashing() const { return flashing; }
    QString message() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void fitToText();

    QLabel *label;
    QTimer *flashItem;
    QString fullText;
    bool flashing = false;
};
