#include "library/NameOrder.h"

namespace {

QLocale collationLocale(const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

QCollator makeCollator(const QLocale &locale, Qt::CaseSensitivity sensitivity)
{
    QCollator collator(collationLocale(locale));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(sensitivity);
    collator.setIgnorePunctuation(false);
    return collator;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

NameOrder::NameOrder(const QLocale &locale)
    : caseless(makeCollator(locale, Qt::CaseInsensitive))
    , caseful(makeCollator(locale, Qt::CaseSensitive))
{
}

NameOrder &NameOrder::forCurrentThread()
{
    // Rebuilt when the default locale changes (tests, a language switch).
    thread_local QLocale builtFor;
    thread_local NameOrder order(builtFor);
    const QLocale now;
    if (now != builtFor) {
        builtFor = now;
        order = NameOrder(now);
    }
    return order;
}

int NameOrder::compare(const QString &a, const QString &b) const
{
    const int primary = caseless.compare(a, b);
    return primary != 0 ? sign(primary) : tieBreak(a, b);
}

NameOrder::Key NameOrder::key(const QString &name) const
{
    return Key(name, caseless.sortKey(name));
}

int NameOrder::compare(const Key &a, const Key &b) const
{
    const int primary = a.primary.compare(b.primary);
    return primary != 0 ? sign(primary) : tieBreak(a.keyName, b.keyName);
}

int NameOrder::tieBreak(const QString &a, const QString &b) const
{
    // Equal but for case or leading zeros. Case decides first (the collator's
    // own lower-before-upper); what is left (leading zeros, which the numeric
    // mode ignores altogether) falls to the raw characters.
    const int cased = caseful.compare(a, b);
    if (cased != 0)
        return sign(cased);
    return sign(QString::compare(a, b, Qt::CaseSensitive));
}

int compareFileNames(const QString &a, const QString &b)
{
    return NameOrder::forCurrentThread().compare(a, b);
}
