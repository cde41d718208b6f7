#pragma once

#include "viewer/FloatingToolbar.h"

// One of the two large arrows at the sides of the photo: 44 x 56 with its own
// panel background, corner radius 11, a 20-pixel chevron.
class NavigationArrow : public OverlaySymbolButton
{
    Q_OBJECT
public:
    static constexpr double cornerRadius = 11;
    static constexpr int symbolSize = 20;

    // forward: the next-photo arrow on the right; else the previous one.
    NavigationArrow(bool forward, QWidget *parent = nullptr);

    // Clicked; the viewer moves by -1 or +1.
    std::function<void()> onActivate;

    bool isForward() const { return m_forward; }
    void refreshTooltip(const BindingLookup &lookup);

private:
    bool m_forward;
};
