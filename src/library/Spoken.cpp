#include "library/Spoken.h"

#include "settings/Texts.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace Spoken {

namespace {

constexpr char messageAreaProperty[] = "glantoMessageArea";
constexpr char spokenProperty[] = "glantoSpoken";

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

QAccessibleInterface *factory(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && widget->property(messageAreaProperty).toBool())
        return new MessageArea(widget);
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
