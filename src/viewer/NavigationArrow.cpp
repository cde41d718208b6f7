#include "viewer/NavigationArrow.h"

#include "settings/Texts.h"
#include "viewer/OverlayLayout.h"

NavigationArrow::NavigationArrow(bool forward, QWidget *parent)
    : OverlaySymbolButton(forward ? OverlaySymbol::chevronRight : OverlaySymbol::chevronLeft,
                          OverlayLayout::arrowSize, cornerRadius, symbolSize, parent)
    , m_forward(forward)
{
    setPanelBackground(true);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (onActivate)
            onActivate();
    });
    setAccessibleName(stripTrailingKey(Texts::text(buttonInfo(m_forward ? OverlayButton::next : OverlayButton::previous).tipKey)));
    refreshTooltip(shortcutBindingLookup());
}

void NavigationArrow::refreshTooltip(const BindingLookup &lookup)
{
    setToolTip(buttonTooltip(m_forward ? OverlayButton::next : OverlayButton::previous, lookup));
}
