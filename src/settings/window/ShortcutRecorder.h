#pragma once

#include "settings/ShortcutRecorderModel.h"

#include <QPushButton>

#include <functional>
#include <optional>

// The key field on the right of each row of the shortcut list: shows the
// binding, and after a click (or Space while it has the focus) records the
// next key combination.
class ShortcutRecorder : public QPushButton
{
    Q_OBJECT
public:
    explicit ShortcutRecorder(ShortcutAction action, QWidget *parent = nullptr);

    ShortcutAction shortcut() const { return model.action(); }
    bool isRecording() const { return model.isRecording(); }
    const ShortcutRecorderModel &state() const { return model; }

    // Called when recording ends with an answer: a combination, or none to
    // clear the binding. Not called when recording is cancelled.
    std::function<void(const std::optional<KeyCombo> &)> onRecord;
    // Called when the field takes the focus (a click, or Tab from the keyboard).
    std::function<void()> onFocus;
    // A key was pressed that no shortcut can name (a letter a US keyboard does
    // not have, AltGr with a key): what it typed. Recording goes on.
    std::function<void(const QString &typed)> onUnusable;

    // Redraws from the current binding.
    void refresh();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void handleKey(QKeyEvent *event);

    ShortcutRecorderModel model;
};
