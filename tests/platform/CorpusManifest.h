#pragma once

// The shared corpus's manifest.tsv: what is true about each file (empty without a corpus).

#include "TestData.h"

#include <QFile>
#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>

struct CorpusEntry {
    QString path; // absolute
    QString relative;
    QString purpose;
    QMap<QString, QString> properties;

    // "size=1800x1200 (Exif ...)" -> 1800x1200; invalid when absent.
    QSize size() const
    {
        const QString text = properties.value("size").section(' ', 0, 0);
        const QStringList parts = text.split('x');
        if (parts.size() != 2)
            return {};
        return QSize(parts[0].toInt(), parts[1].toInt());
    }
    int orientation() const { return properties.value("orientation", "1").toInt(); }
    // The size as shown: stored size with width and height swapped for orientations 5-8.
    QSize displayedSize() const
    {
        const int o = orientation();
        return (o >= 5 && o <= 8) ? size().transposed() : size();
    }
};

inline QList<CorpusEntry> corpusEntries(const QString &purpose = {})
{
    QList<CorpusEntry> entries;
    QFile file(TestData::corpusDir() + QStringLiteral("/manifest.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    file.readLine(); // header
    while (!file.atEnd()) {
        const QStringList columns = QString::fromUtf8(file.readLine()).chopped(1).split('\t');
        if (columns.size() < 3)
            continue;
        CorpusEntry entry;
        entry.relative = columns[0];
        entry.path = TestData::corpusDir() + u'/' + columns[0];
        entry.purpose = columns[1];
        for (const QString &pair : columns[2].split(';', Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                entry.properties.insert(pair.left(eq), pair.mid(eq + 1));
        }
        if (purpose.isEmpty() || entry.purpose == purpose)
            entries.append(entry);
    }
    return entries;
}
