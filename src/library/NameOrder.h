#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>

// The order of file names in the desktop's file browser: letters compare
// without regard to case and by the rules of the user's language (accents,
// Chinese by pinyin), and every run of digits compares by its numeric value,
// so 2.jpg comes before 10.jpg and img2, IMG3, img10 stay in that order. Digit
// runs of any length compare correctly; digits of other scripts count too.
//
// Names that differ only in case or in leading zeros ("01" and "1") still get
// a fixed order, so that sorting is deterministic: case decides next, then the
// raw characters. Only identical names compare equal.
//
// A NameOrder is not thread-safe (the collator initialises itself lazily);
// forCurrentThread() gives each thread its own.
class NameOrder
{
public:
    // The C/POSIX locale has no collation worth the name (and no numeric
    // mode), so it is served with the root order of English.
    explicit NameOrder(const QLocale &locale = QLocale());

    // The order of the default locale (QLocale()), one instance per thread.
    static NameOrder &forCurrentThread();

    // Negative when a comes first, positive when b does, 0 only when a == b.
    int compare(const QString &a, const QString &b) const;
    bool lessThan(const QString &a, const QString &b) const { return compare(a, b) < 0; }

    // A precomputed key, for sorting many names: one key per name, then
    // compare(Key, Key). Keys belong to the NameOrder that made them.
    class Key
    {
    public:
        const QString &name() const { return keyName; }

    private:
        friend class NameOrder;
        Key(const QString &name, QCollatorSortKey primary) : keyName(name), primary(std::move(primary)) {}
        QString keyName;
        QCollatorSortKey primary;
    };

    Key key(const QString &name) const;
    int compare(const Key &a, const Key &b) const;

    QLocale locale() const { return caseless.locale(); }

private:
    int tieBreak(const QString &a, const QString &b) const;

    mutable QCollator caseless;   // numeric, case-insensitive: the order users see
    mutable QCollator caseful;    // numeric, case-sensitive: only for ties
};

// Convenience for one comparison in the default locale.
int compareFileNames(const QString &a, const QString &b);
