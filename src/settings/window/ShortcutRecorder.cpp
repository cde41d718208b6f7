#include "settings/window/ShortcutRecorder.h"

#include "library/Spoken.h"
#include "settings/Shortcuts.h"

#include <QApplication>
#include <QKeyEvent>

ShortcutRecorder::ShortcutRecorder(ShortcutAction action, QWidget *parent)
    : QPushButton(parent)
    , model(action)
{
    // Tab reaches every key; Space starts recording the one in focus.
    setFocusPolicy(Qt::StrongFocus);
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
    // The key alone says nothing to a screen reader: the command comes first.
    setAccessibleName(Spoken::readable(Shortcuts::title(model.action())) + QStringLiteral(": ") + look.title);
    const auto css = [](const QColor &c) {
        return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alphaF());
    };
    setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: 6px;"
                                 " padding: 3px 10px; font-size: 13px; font-weight: %4; }"
                                 "QPushButton:focus { border: 2px solid %5; padding: 2px 9px; }")
                      .arg(css(look.text), css(look.background), css(look.border), look.semibold ? "600" : "500",
                           css(pal.color(QPalette::Highlight))));
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
    // The key keeps the focus, so that the keyboard goes on from where it was.
    if (!model.isRecording())
        refresh();
    if (result.report && onRecord)
        onRecord(result.combo);
    if (!result.unusable.isEmpty() && onUnusable)
        onUnusable(result.unusable);
}

void ShortcutRecorder::focusInEvent(QFocusEvent *event)
{
    QPushButton::focusInEvent(event);
    if (onFocus)
        onFocus();
}

void ShortcutRecorder::focusOutEvent(QFocusEvent *event)
{
    if (model.isRecording()) {
        model.focusLost();
        refresh();
    }
    QPushButton::focusOutEvent(event);
}
