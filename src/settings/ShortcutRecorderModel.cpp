#include "settings/ShortcutRecorderModel.h"

#include "settings/Texts.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace {

bool isModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Meta: case Qt::Key_Alt: case Qt::Key_AltGr:
    case Qt::Key_CapsLock: case Qt::Key_NumLock: case Qt::Key_ScrollLock: case Qt::Key_Super_L:
    case Qt::Key_Super_R: case Qt::Key_Hyper_L: case Qt::Key_Hyper_R: case Qt::Key_Mode_switch:
    case Qt::Key_unknown: case 0:
        return true;
    default:
        return false;
    }
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

ShortcutRecorderModel::State ShortcutRecorderModel::state() const
{
    if (recording)
        return State::recording;
    return Shortcuts::combo(shortcut) ? State::idleBound : State::idleUnbound;
}

ShortcutRecorderModel::KeyResult ShortcutRecorderModel::keyPress(const QKeyEvent &event)
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::ShortcutOverride)
        return {};
    KeyResult result = keyPress(event.key(), event.modifiers(), Shortcuts::physicalKey(event));
    // The key is named by what it typed ("ß"), where that is a character.
    const QString typed = event.text().trimmed();
    if (!result.unusable.isEmpty() && !typed.isEmpty() && typed.at(0).isPrint())
        result.unusable = typed;
    return result;
}

ShortcutRecorderModel::KeyResult ShortcutRecorderModel::keyPress(int qtKey, Qt::KeyboardModifiers modifiers,
                                                                 quint32 scanCode)
{
    KeyResult result;
    if (!recording)
        return result;
    result.consumed = true;
    if (isModifierKey(qtKey))
        return result;
    const quint32 mods = Shortcuts::modsForQtModifiers(modifiers) & KeyMods::mask;
    if (mods == 0 && (qtKey == Qt::Key_Backspace || qtKey == Qt::Key_Delete)) {
        recording = false;
        result.report = true;   // combo stays none: clear the binding
        return result;
    }
    if (mods == 0 && qtKey == Qt::Key_Escape) {
        recording = false;      // cancel: no answer
        return result;
    }
    const std::optional<KeyCombo> combo = Shortcuts::comboForKey(qtKey, modifiers, scanCode);
    if (!combo) {               // no stored code for this key: keep listening
        result.unusable = QKeySequence(qtKey).toString(QKeySequence::NativeText);
        return result;
    }
    recording = false;
    result.report = true;
    result.combo = KeyCombo{combo->keyCode, combo->mods & KeyMods::mask, combo->chars.toLower()};
    return result;
}

ShortcutRecorderModel::Appearance ShortcutRecorderModel::appearance(const Palette &palette) const
{
    Appearance look;
    const bool customized = Shortcuts::isCustomized(shortcut);
    look.semibold = customized;
    switch (state()) {
    case State::recording:
        look.title = Texts::text("sc.recording");
        look.text = Qt::white;
        look.background = withAlpha(palette.accent, 0.55);
        look.border = palette.accent;
        break;
    case State::idleBound:
        look.title = Shortcuts::displayString(*Shortcuts::combo(shortcut));
        look.text = palette.label;
        look.background = withAlpha(Qt::white, 0.09);
        look.border = withAlpha(palette.label, customized ? 0.45 : 0.12);
        break;
    case State::idleUnbound:
        look.title = Texts::text("sc.none");
        look.text = palette.tertiary;
        look.background = withAlpha(Qt::white, 0.04);
        look.border = withAlpha(Qt::white, 0.08);
        break;
    }
    return look;
}
