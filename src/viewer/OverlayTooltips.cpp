#include "viewer/OverlayTooltips.h"

#include "settings/TextTable.h"
#include "settings/Texts.h"

#include <QRegularExpression>

namespace {

constexpr OverlayButtonInfo kButtons[] = {
    {OverlayButton::zoomIn, 1, "tip.zoomIn", ShortcutAction::zoomIn},
    {OverlayButton::zoomOut, 1, "tip.zoomOut", ShortcutAction::zoomOut},
    {OverlayButton::fit, 1, "tip.fit", std::nullopt},
    {OverlayButton::actualSize, 1, "tip.actual", ShortcutAction::actualSize},
    {OverlayButton::rotateCCW, 2, "tip.rotateCCW", ShortcutAction::rotateCCW},
    {OverlayButton::rotateCW, 2, "tip.rotateCW", ShortcutAction::rotateCW},
    {OverlayButton::slideshow, 3, "tip.slideshow", ShortcutAction::slideshow},
    {OverlayButton::info, 4, "tip.info", ShortcutAction::info},
    {OverlayButton::filmstrip, 4, "tip.strip", ShortcutAction::filmstrip},
    {OverlayButton::exportAs, 5, "tip.export", ShortcutAction::exportAs},
    {OverlayButton::rename, 5, "tip.rename", ShortcutAction::rename},
    {OverlayButton::trash, 5, "tip.trash", ShortcutAction::trash},
    {OverlayButton::previous, 0, "tip.prev", ShortcutAction::prev},
    {OverlayButton::next, 0, "tip.next", ShortcutAction::next},
};

} // namespace

std::span<const OverlayButtonInfo> toolbarButtons()
{
    return std::span<const OverlayButtonInfo>(kButtons, 12);
}

const OverlayButtonInfo &buttonInfo(OverlayButton button)
{
    return kButtons[int(button)];
}

QString stripTrailingKey(const QString &text)
{
    static const QRegularExpression trailing(QStringLiteral("\\s*[（(][^（()）]*[)）]\\s*$"));
    QString stripped = text;
    stripped.remove(trailing);
    return stripped;
}

QString tooltipText(const QString &defaultText, const std::optional<QString> &binding, const QString &formatTemplate)
{
    const QString stripped = stripTrailingKey(defaultText);
    if (!binding || binding->isEmpty())
        return stripped;
    return Texts::fill(formatTemplate, {stripped, *binding});
}

QString buttonTooltip(OverlayButton button, const BindingLookup &lookup)
{
    const OverlayButtonInfo &info = buttonInfo(button);
    const QString text = Texts::text(info.tipKey);
    if (!info.action)
        return text;
    return tooltipText(text, lookup ? lookup(button) : std::nullopt, Texts::text("tip.format"));
}

BindingLookup shortcutBindingLookup()
{
    return [](OverlayButton button) -> std::optional<QString> {
        const std::optional<ShortcutAction> action = buttonInfo(button).action;
        if (!action)
            return std::nullopt;
        const std::optional<KeyCombo> combo = Shortcuts::combo(*action);
        if (!combo)
            return std::nullopt;
        return Shortcuts::displayString(*combo);
    };
}
