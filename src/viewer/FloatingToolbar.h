#pragma once

#include "platform/RepeatClick.h"
#include "viewer/OverlayStyle.h"
#include "viewer/OverlayTooltips.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <map>

class QLabel;

// A round-cornered symbol button of the overlays: a background of the label
// colour at 9 % while the pointer is over it and 18 % while pressed, never the
// keyboard focus.
class OverlaySymbolButton : public QAbstractButton
{
    Q_OBJECT
public:
    OverlaySymbolButton(OverlaySymbol symbol, QSize size, double radius, int symbolSize, QWidget *parent = nullptr);

    void setSymbol(OverlaySymbol symbol, int symbolSize);
    void setSymbolColor(const QColor &color);
    OverlaySymbol symbol() const { return m_symbol; }
    // Whether the drawn background is there (for tests): 0, 9 or 18 percent.
    int shadePercent() const;
    // Whether the panel behind the button is drawn by the button itself (arrows).
    void setPanelBackground(bool on) { m_panel = on; update(); }

    QSize sizeHint() const override { return m_size; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void renderSymbol();

    OverlaySymbol m_symbol;
    QSize m_size;
    double m_radius;
    int m_symbolSize;
    QColor m_color;
    QPixmap m_pixmap;
    bool m_hovered = false;
    bool m_panel = false;
};

// The floating toolbar: twelve buttons in five groups separated by thin lines,
// and the rating stars shown when the badge over the photo is switched off. It
// only reports which button was clicked; the viewer decides what that does.
class FloatingToolbar : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize buttonSize{36, 32};
    static constexpr int buttonRadius = 7;
    static constexpr int symbolSize = 15;
    static constexpr int slideshowSymbolSize = 13;
    static constexpr int cornerRadius = 13;
    static constexpr int spacing = 3;
    static constexpr int insetH = 10;
    static constexpr int insetV = 7;

    explicit FloatingToolbar(QWidget *parent = nullptr);

    std::function<void(OverlayButton)> onTrigger;

    // The play symbol, or the stop symbol while a slideshow is on.
    void setSlideshowOn(bool on);
    // The toolbar's stars ("★★★☆☆"); hidden when visible is false.
    void setStars(const QString &stars, bool visible);
    // Rebuilds every tooltip from the bindings (run at start and whenever the key
    // bindings change).
    void refreshTooltips(const BindingLookup &lookup);

    OverlaySymbolButton *button(OverlayButton which) const;
    QLabel *starsLabel() const { return m_stars; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::map<OverlayButton, OverlaySymbolButton *> m_buttons;
    QLabel *m_stars = nullptr;
    RepeatClick trashClick;
};
