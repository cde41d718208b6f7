#include "viewer/FloatingToolbar.h"

#include "library/Spoken.h"
#include "settings/Texts.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace {

OverlaySymbol symbolFor(OverlayButton button)
{
    switch (button) {
    case OverlayButton::zoomIn: return OverlaySymbol::zoomIn;
    case OverlayButton::zoomOut: return OverlaySymbol::zoomOut;
    case OverlayButton::fit: return OverlaySymbol::fit;
    case OverlayButton::actualSize: return OverlaySymbol::actualSize;
    case OverlayButton::rotateCCW: return OverlaySymbol::rotateLeft;
    case OverlayButton::rotateCW: return OverlaySymbol::rotateRight;
    case OverlayButton::slideshow: return OverlaySymbol::play;
    case OverlayButton::info: return OverlaySymbol::info;
    case OverlayButton::filmstrip: return OverlaySymbol::filmstrip;
    case OverlayButton::exportAs: return OverlaySymbol::exportCopy;
    case OverlayButton::rename: return OverlaySymbol::rename;
    case OverlayButton::trash: return OverlaySymbol::trash;
    case OverlayButton::previous: return OverlaySymbol::chevronLeft;
    case OverlayButton::next: return OverlaySymbol::chevronRight;
    }
    return OverlaySymbol::info;
}

// The thin line between two groups.
class GroupSeparator : public QWidget
{
public:
    explicit GroupSeparator(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(7, FloatingToolbar::buttonSize.height());
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRectF(width() / 2.0 - 0.5, 7, 1, height() - 14), OverlayStyle::separatorColor());
    }
};

} // namespace

OverlaySymbolButton::OverlaySymbolButton(OverlaySymbol symbol, QSize size, double radius, int symbolSize,
                                         QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_size(size)
    , m_radius(radius)
    , m_symbolSize(symbolSize)
    , m_color(OverlayStyle::labelColor())
{
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(size);
    setCursor(Qt::ArrowCursor);
    renderSymbol();
}

void OverlaySymbolButton::setSymbol(OverlaySymbol symbol, int symbolSize)
{
    if (symbol == m_symbol && symbolSize == m_symbolSize)
        return;
    m_symbol = symbol;
    m_symbolSize = symbolSize;
    renderSymbol();
    update();
}

void OverlaySymbolButton::setSymbolColor(const QColor &color)
{
    m_color = color;
    renderSymbol();
    update();
}

int OverlaySymbolButton::shadePercent() const
{
    if (!isEnabled())
        return 0;
    if (isDown())
        return 18;
    return m_hovered ? 9 : 0;
}

void OverlaySymbolButton::renderSymbol()
{
    // Drawn once per symbol and screen scale, not on every paint: showing the
    // toolbar must not wait for icon lookups.
    m_pixmap = OverlaySymbols::pixmap(m_symbol, m_symbolSize, m_color, devicePixelRatioF());
}

void OverlaySymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_panel)
        OverlayStyle::paintPanel(painter, rect(), m_radius);
    if (const int shade = shadePercent()) {
        QColor fill = OverlayStyle::labelColor();
        fill.setAlphaF(shade / 100.0f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        painter.fillPath(path, fill);
    }
    if (!qFuzzyCompare(m_pixmap.devicePixelRatio(), devicePixelRatioF()))
        renderSymbol();
    const QSizeF logical = m_pixmap.deviceIndependentSize();
    // A command that cannot run now (no photo) shows a faint symbol.
    painter.setOpacity(isEnabled() ? 1.0 : 0.35);
    painter.drawPixmap(QPointF((width() - logical.width()) / 2, (height() - logical.height()) / 2), m_pixmap);
}

void OverlaySymbolButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void OverlaySymbolButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void OverlaySymbolButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

FloatingToolbar::FloatingToolbar(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(insetH, insetV, insetH, insetV);
    layout->setSpacing(spacing);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    int group = 0;
    for (const OverlayButtonInfo &info : toolbarButtons()) {
        if (group != 0 && info.group != group)
            layout->addWidget(new GroupSeparator(this));
        group = info.group;
        auto *button = new OverlaySymbolButton(symbolFor(info.button), buttonSize, buttonRadius, symbolSize, this);
        if (info.button == OverlayButton::trash)
            button->setSymbolColor(OverlayStyle::destructiveColor());
        // A symbol has no text: a screen reader names the button by its command.
        button->setAccessibleName(stripTrailingKey(Texts::text(info.tipKey)));
        const OverlayButton which = info.button;
        connect(button, &QAbstractButton::clicked, this, [this, which] {
            // The second click of a double-click on the bin would take the photo
            // the first one brought up, unseen.
            if (which == OverlayButton::trash && !trashClick.take())
                return;
            if (onTrigger)
                onTrigger(which);
        });
        m_buttons[which] = button;
        layout->addWidget(button);
    }
    m_stars = new QLabel(this);
    m_stars->setTextFormat(Qt::PlainText);
    m_stars->setFont(OverlayStyle::font(13, QFont::Medium));
    QPalette pal = m_stars->palette();
    pal.setColor(QPalette::WindowText, OverlayStyle::badgeColor());
    m_stars->setPalette(pal);
    m_stars->setContentsMargins(4, 0, 4, 0);
    m_stars->hide();
    layout->addWidget(m_stars);
    setSlideshowOn(false);
    refreshTooltips(shortcutBindingLookup());
}

OverlaySymbolButton *FloatingToolbar::button(OverlayButton which) const
{
    const auto found = m_buttons.find(which);
    return found == m_buttons.end() ? nullptr : found->second;
}

void FloatingToolbar::setSlideshowOn(bool on)
{
    m_buttons.at(OverlayButton::slideshow)->setSymbol(on ? OverlaySymbol::stop : OverlaySymbol::play,
                                                      on ? slideshowSymbolSize : symbolSize);
}

void FloatingToolbar::setStars(const QString &stars, bool visible)
{
    m_stars->setText(stars);
    m_stars->setAccessibleName(Spoken::readable(stars));
    m_stars->setVisible(visible);
}

void FloatingToolbar::refreshTooltips(const BindingLookup &lookup)
{
    for (const auto &[which, button] : m_buttons)
        button->setToolTip(buttonTooltip(which, lookup));
}

void FloatingToolbar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    OverlayStyle::paintPanel(painter, rect(), cornerRadius);
}
