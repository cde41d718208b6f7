#include "library/Spoken.h"

#include "settings/Texts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace Spoken {

namespace {

constexpr char messageAreaProperty[] = "glantoMessageArea";
constexpr char spokenProperty[] = "glantoSpoken";
constexpr char pageTabProperty[] = "glantoPageTab";

class MessageArea : public QAccessibleWidget
{
public:
    explicit MessageArea(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return widget()->property(spokenProperty).toString();
        if (t == QAccessible::Description)
            return {};
        return QAccessibleWidget::text(t);
    }
};

// A checkable button that opens a page: read as a page tab, selected while its
// page is open, rather than as a check box that is ticked.
class PageTab : public QAccessibleWidget
{
public:
    explicit PageTab(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::PageTab)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? button()->text().replace(QLatin1String("&&"), QLatin1String("&")) : name;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = button()->isChecked();
        return s;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString &name) override
    {
        if (name == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && widget->property(messageAreaProperty).toBool())
        return new MessageArea(widget);
    if (auto *button = qobject_cast<QAbstractButton *>(object); button && button->property(pageTabProperty).toBool())
        return new PageTab(button);
    return nullptr;
}

bool isStar(QChar c)
{
    return c == QChar(0x2605) || c == QChar(0x2606);
}

} // namespace

void install()
{
    QAccessible::installFactory(factory);
}

void markMessageArea(QWidget *widget)
{
    widget->setProperty(messageAreaProperty, true);
    // Built while a screen reader listens, the widget may already have been
    // published as what its class is: it is published again, as a message area.
    if (QAccessible::isActive()) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        if (iface && iface->role() != QAccessible::Notification)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
    }
}

void markPageTab(QAbstractButton *button)
{
    button->setProperty(pageTabProperty, true);
    // Any change of state publishes the button, screen reader or not, and the
    // interface made then is kept: one made before the mark is made again.
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(button);
    if (iface && iface->role() != QAccessible::PageTab)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
    QObject::connect(button, &QAbstractButton::toggled, button, [button] {
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(button, changed);
        QAccessible::updateAccessibility(&event);
    });
}

void setName(QWidget *widget, const QString &text)
{
    widget->setProperty(spokenProperty, readable(text));
}

void say(QWidget *widget, const QString &text)
{
    setName(widget, text);
    const QString spoken = widget->property(spokenProperty).toString();
    if (!QAccessible::isActive() || spoken.isEmpty())
        return;
    QAccessibleEvent named(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    if (widget->isVisible()) {
        QAccessibleEvent shown(widget, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

QString readable(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        if (!isStar(text[i])) {
            out += text[i++];
            continue;
        }
        int filled = 0;
        int all = 0;
        for (; i < text.size() && isStar(text[i]); ++i, ++all)
            filled += text[i] == QChar(0x2605);
        out += Texts::format("a11y.stars", {QString::number(filled), QString::number(all)});
    }
    return out;
}

} // namespace Spoken
