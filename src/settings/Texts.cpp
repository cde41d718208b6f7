#include "settings/Texts.h"

#include "settings/TextTable.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QSet>

#include <atomic>
#include <cmath>
#include <cstring>
#include <map>

namespace {

const QString kTableDir = QStringLiteral(":/texts");
const QString kBuiltInLanguage = QStringLiteral("zh");

TextTable readTable(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Texts: cannot read" << path;
        return {};
    }
    QStringList problems;
    TextTable table = Texts::parseTable(file.readAll(), &problems);
    for (const QString &problem : std::as_const(problems))
        qWarning().noquote() << "Texts:" << path << problem;
    return table;
}

// One catalog per table shipped in the resources, built once on first use and kept
// for the process. Adding a translation is adding "<language>.tsv" to the resources.
const std::map<QString, TextCatalog> &catalogs()
{
    static const std::map<QString, TextCatalog> all = [] {
        std::map<QString, TextCatalog> result;
        const TextTable builtIn = readTable(kTableDir + QLatin1Char('/') + kBuiltInLanguage + QLatin1String(".tsv"));
        result.emplace(kBuiltInLanguage, TextCatalog(builtIn, {}));
        const QStringList files = QDir(kTableDir).entryList({QStringLiteral("*.tsv")}, QDir::Files);
        for (const QString &file : files) {
            const QString language = file.chopped(4);
            if (language != kBuiltInLanguage)
                result.emplace(language, TextCatalog(builtIn, readTable(kTableDir + QLatin1Char('/') + file)));
        }
        return result;
    }();
    return all;
}

// GLANTO_LANG ("en", "zh_CN", or a list "de:en" like LANGUAGE) overrides the locale.
QStringList preferredLanguages()
{
    const QString forced = qEnvironmentVariable("GLANTO_LANG");
    if (!forced.isEmpty())
        return forced.split(u':', Qt::SkipEmptyParts);
    return QLocale::system().uiLanguages();
}

const TextCatalog *catalogFor(const QString &language)
{
    const auto &all = catalogs();
    QStringList available;
    for (const auto &entry : all)
        available.append(entry.first);
    const QStringList preferred = language.isEmpty() ? preferredLanguages() : QStringList{language};
    // chooseLanguage answers the built-in language or one of the available ones.
    return &all.at(Texts::chooseLanguage(preferred, available));
}

// The catalog in use; chosen from the locale on first use unless setLanguage came first.
std::atomic<const TextCatalog *> currentCatalog{nullptr};

const TextCatalog &current()
{
    const TextCatalog *catalog = currentCatalog.load(std::memory_order_acquire);
    if (catalog)
        return *catalog;
    const TextCatalog *chosen = catalogFor({});
    // Another thread may have chosen first (or setLanguage may have run): keep its choice.
    if (currentCatalog.compare_exchange_strong(catalog, chosen, std::memory_order_acq_rel))
        return *chosen;
    return *catalog;
}

// A missing key is a programming error; say so once per key instead of on every paint.
void warnMissing(const char *key)
{
    static QMutex mutex;
    static QSet<QByteArray> warned;
    QMutexLocker locker(&mutex);
    const QByteArray k(key);
    if (warned.contains(k))
        return;
    warned.insert(k);
    qWarning("Texts: no text for the key \"%s\"", key);
}

} // namespace

namespace Texts {

QString text(const char *key)
{
    const TextCatalog &catalog = current();
    if (!catalog.hasBuiltIn(key))
        warnMissing(key);
    return catalog.text(key);
}

QString format(const char *key, const QStringList &args)
{
    return fill(text(key), args);
}

void setLanguage(const QString &language)
{
    currentCatalog.store(catalogFor(language), std::memory_order_release);
}

QString language()
{
    const TextCatalog *inUse = &current();
    for (const auto &[name, catalog] : catalogs()) {
        if (&catalog == inUse)
            return name;
    }
    return kBuiltInLanguage;
}

bool hasKey(const char *key)
{
    return catalogs().at(kBuiltInLanguage).hasBuiltIn(key);
}

QString byteCount(qint64 bytes)
{
    if (bytes < 1000)
        return format("unit.bytes", {QString::number(bytes)});
    static const char *units[] = {"KB", "MB", "GB", "TB", "PB"};
    double value = double(bytes) / 1000.0;
    int unit = 0;
    // Step up a unit when one decimal would round to 1000 of the current one.
    while (unit < 4 && std::round(value * 10) / 10 >= 1000) {
        value /= 1000.0;
        ++unit;
    }
    QString number = QString::number(value, 'f', 1);
    if (number.endsWith(QLatin1String(".0")))
        number.chop(2);
    // A no-break space: a wrapped message never leaves the number without its unit.
    return number + QChar(0x00A0) + QLatin1String(units[unit]);
}

} // namespace Texts
