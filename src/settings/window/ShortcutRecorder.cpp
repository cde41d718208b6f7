#include "settings/window/ShortcutRecorder.h"

#include <QApplication>
#include <QKeyEvent>

ShortcutRecorder::ShortcutRecorder(ShortcutAction action, QWidget *parent)
    : QPushButton(parent)
    , model(action)
{
    setFocusPolicy(Qt::ClickFocus);
    setMinimumWidth(130);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, [this] {
        model.startRecording();
        setFocus(Qt::MouseFocusReason);
        refresh();
    });
    refresh();
}

void ShortcutRecorder::refresh()
{
    // The colours come from the surroundings: this button's own palette already
    // carries the colour its last style sheet set, dimmed while it was empty.
    const QPalette pal = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    QColor tertiary = pal.color(QPalette::WindowText);
    tertiary.setAlphaF(0.35f);
    const ShortcutRecorderModel::Appearance look =
        model.appearance({pal.color(QPalette::WindowText), tertiary, pal.color(QPalette::Highlight)});
    setText(look.title);
    const auto css = [](const QColor &c) {
        return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
    };
    setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: 6px;"
                                 " padding: 3px 10px; font-size: 13px; font-weight: %4; }")
                      .arg(css(look.text), css(look.background), css(look.border), look.semibold ? "600" : "500"));
}

bool ShortcutRecorder::event(QEvent *event)
{
    // While recording, every key is ours: menu shortcuts (ShortcutOverride)
    // and focus keys (Tab) would otherwise take the press first.
    if (model.isRecording()) {
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            handleKey(static_cast<QKeyEvent *>(event));
            return true;
        }
    }
    return QPushButton::event(event);
}

void ShortcutRecorder::keyPressEvent(QKeyEvent *event)
{
    if (model.isRecording())
        handleKey(event);
    else
        QPushButton::keyPressEvent(event);
}

void ShortcutRecorder::handleKey(QKeyEvent *event)
{
    const ShortcutRecorderModel::KeyResult result = model.keyPress(*event);
    event->accept();
    if (!model.isRecording()) {
        clearFocus();
        refresh();
    }
    if (result.report && onRecord)
        onRecord(result.combo);
}

void ShortcutRecorder::focusOutEvent(QFocusEvent *event)
{
    if (model.isRecording()) {
        model.focusLost();
        refresh();
    }
    QPushButton::focusOutEvent(event);
}
