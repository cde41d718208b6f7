#pragma once

#include "settings/Shortcuts.h"

#include <QColor>
#include <QString>

#include <optional>

class QKeyEvent;

// What a shortcut recorder in the settings list does and how it looks,
// without the widget: idle with a binding, idle without one, or recording.
class ShortcutRecorderModel
{
public:
    enum class State { idleBound, idleUnbound, recording };

    // The colours the recorder is drawn with, taken from the window's palette.
    struct Palette
    {
        QColor label;      // normal text
        QColor tertiary;   // faint text
        QColor accent;     // the selection colour
    };

    struct Appearance
    {
        QString title;
        QColor text;
        QColor background;
        QColor border;
        bool semibold = false;   // the action differs from its default
    };

    // What a key press while recording leads to.
    struct KeyResult
    {
        bool consumed = false;                  // the press belonged to the recorder
        bool report = false;                    // recording ended with an answer
        std::optional<KeyCombo> combo;          // the answer: a binding, or none = clear it
        QString unusable;                       // what a key no binding can name typed: still listening
    };

    explicit ShortcutRecorderModel(ShortcutAction action) : shortcut(action) {}

    ShortcutAction action() const { return shortcut; }
    State state() const;
    bool isRecording() const { return recording; }

    // A click starts recording.
    void startRecording() { recording = true; }
    // Losing the keyboard focus stops recording without an answer.
    void focusLost() { recording = false; }

    // A key press while recording. Esc alone cancels; Backspace or Delete
    // alone clears the binding; a bare modifier (Qt reports Ctrl, Shift, Alt
    // and Meta as presses of their own) or a key that has no stored code is
    // ignored and recording goes on; any other key ends recording with its
    // combination (Shift+Esc included: the assignment refuses it as a fixed key).
    KeyResult keyPress(const QKeyEvent &event);
    KeyResult keyPress(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0);

    Appearance appearance(const Palette &palette) const;

private:
    ShortcutAction shortcut;
    bool recording = false;
};
