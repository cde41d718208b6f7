#pragma once

#include "settings/Shortcuts.h"

#include <QString>

#include <functional>
#include <optional>
#include <span>

// The toolbar's and arrows' buttons, in the toolbar's order.
enum class OverlayButton {
    zoomIn,
    zoomOut,
    fit,
    actualSize,
    rotateCCW,
    rotateCW,
    slideshow,
    info,
    filmstrip,
    exportAs,
    rename,
    trash,
    previous,
    next,
};

// One button: its group in the toolbar (1 to 5; 0 for the arrows), the tooltip's
// text key, and the bindable action whose key the tooltip names (none: the text
// stays as written, as for fit's "0 / double-click").
struct OverlayButtonInfo
{
    OverlayButton button;
    int group;
    const char *tipKey;
    std::optional<ShortcutAction> action;
};

// The twelve toolbar buttons, left to right.
std::span<const OverlayButtonInfo> toolbarButtons();
const OverlayButtonInfo &buttonInfo(OverlayButton button);

// The default text without its trailing bracketed key: "向右旋转 90°（R）" gives
// "向右旋转 90°", "Rotate Right 90° (R)" gives "Rotate Right 90°".
QString stripTrailingKey(const QString &text);

// The tooltip for a default text and the current binding's display form: the
// stripped text filled into formatTemplate ("%1$@（%2$@）") when bound, the
// stripped text alone when not.
QString tooltipText(const QString &defaultText, const std::optional<QString> &binding, const QString &formatTemplate);

// The display form of a button's current binding; none when unbound.
using BindingLookup = std::function<std::optional<QString>(OverlayButton)>;

// The tooltip of a button in the current language with lookup's binding. A button
// without a bindable action keeps its text as written.
QString buttonTooltip(OverlayButton button, const BindingLookup &lookup);

// A lookup over the shortcut model's current bindings.
BindingLookup shortcutBindingLookup();
