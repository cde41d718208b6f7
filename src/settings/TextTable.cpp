#include "settings/TextTable.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace Texts {

namespace {

QString unescape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text[++i];
        if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'\\')
            out += u'\\';
        else
            out += c, out += next; // not an escape: keep both characters
    }
    return out;
}

// One parsed placeholder: where it starts and ends in the template, its explicit
// position (0 = the next argument) and its conversion without "%" and position ("@", ".1f").
struct Placeholder
{
    qsizetype begin = 0;
    qsizetype end = 0;
    int position = 0;
    QString conversion;
};

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Reads a placeholder at text[at] == '%'; nothing when the percent sign starts none
// (or is the "%%" escape, which the callers handle first).
std::optional<Placeholder> readPlaceholder(QStringView text, qsizetype at)
{
    Placeholder p;
    p.begin = at;
    qsizetype i = at + 1;
    const qsizetype n = text.size();

    // Explicit position: digits followed by '$'.
    qsizetype j = i;
    while (j < n && isDigit(text[j]))
        ++j;
    if (j > i && j < n && text[j] == u'$') {
        p.position = text.sliced(i, j - i).toInt();
        if (p.position <= 0)
            return std::nullopt;
        i = j + 1;
    }
    const qsizetype conversionBegin = i;
    // Flags (a space is not taken as a flag: "100% 之间" is text, not a placeholder).
    while (i < n && QStringView(u"-+0#'").contains(text[i]))
        ++i;
    while (i < n && isDigit(text[i]))
        ++i;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    // Length modifiers.
    while (i < n && QStringView(u"hlqLzjt").contains(text[i]))
        ++i;
    if (i >= n || !QStringView(u"@dDiuUxXoOfFeEgGcCsSaAp").contains(text[i]))
        return std::nullopt;
    ++i;
    p.end = i;
    p.conversion = text.sliced(conversionBegin, i - conversionBegin).toString();
    return p;
}

// A "{one|other}" group at text[at] == '{': the two words and the index after '}'.
struct PluralGroup
{
    QString one;
    QString other;
    qsizetype end = 0;
};

std::optional<PluralGroup> readPluralGroup(QStringView text, qsizetype at)
{
    const qsizetype close = text.indexOf(u'}', at + 1);
    if (close < 0)
        return std::nullopt;
    const QStringView inner = text.sliced(at + 1, close - at - 1);
    const qsizetype bar = inner.indexOf(u'|');
    if (bar < 0 || inner.indexOf(u'|', bar + 1) >= 0 || inner.contains(u'{'))
        return std::nullopt;
    return PluralGroup{inner.first(bar).toString(), inner.sliced(bar + 1).toString(), close + 1};
}

} // namespace

TextTable parseTable(const QByteArray &tsv, QStringList *problems)
{
    TextTable table;
    const auto complain = [problems](const QString &what) {
        if (problems)
            problems->append(what);
    };
    const QList<QByteArray> lines = tsv.split('\n');
    if (lines.isEmpty() || lines.first().trimmed() != "key\ttext")
        complain(QStringLiteral("line 1: the header \"key<TAB>text\" is missing"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0) {
            complain(QStringLiteral("line %1: no key and tab").arg(i + 1));
            continue;
        }
        const QByteArray key = line.first(tab);
        if (table.contains(key)) {
            complain(QStringLiteral("line %1: %2 appears twice").arg(i + 1).arg(QString::fromUtf8(key)));
            continue;
        }
        table.insert(key, unescape(QString::fromUtf8(line.sliced(tab + 1))));
    }
    return table;
}

QString fill(const QString &templ, const QStringList &args)
{
    QString out;
    out.reserve(templ.size() + 16 * args.size());
    int nextArg = 0;
    std::optional<QString> lastArg; // the argument of the latest placeholder, for plural groups
    const QStringView text(templ);
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        if (c == u'%') {
            if (i + 1 < text.size() && text[i + 1] == u'%') {
                out += u'%';
                i += 2;
                continue;
            }
            if (const auto p = readPlaceholder(text, i)) {
                const int index = p->position > 0 ? p->position - 1 : nextArg++;
                lastArg = index < args.size() ? args[index] : QString();
                out += *lastArg;
                i = p->end;
                continue;
            }
        } else if (c == u'{' && lastArg) {
            if (const auto group = readPluralGroup(text, i)) {
                out += *lastArg == u"1" ? group->one : group->other;
                i = group->end;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

QStringList placeholders(const QString &text)
{
    QList<std::pair<int, QString>> found;
    int nextArg = 0;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'%') {
            i += 2;
            continue;
        }
        if (text[i] == u'%') {
            if (const auto p = readPlaceholder(text, i)) {
                found.append({p->position > 0 ? p->position : ++nextArg, p->conversion});
                i = p->end;
                continue;
            }
        }
        ++i;
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList out;
    for (const auto &[position, conversion] : found)
        out.append(QStringLiteral("%1:%2").arg(position).arg(conversion));
    return out;
}

QString chooseLanguage(const QStringList &preferred, const QStringList &available)
{
    for (const QString &name : preferred) {
        // "zh_CN.UTF-8", "en-GB", "de" -> "zh", "en", "de"
        const QString language = name.section(u'.', 0, 0).section(u'_', 0, 0).section(u'-', 0, 0).toLower();
        if (language == u"zh")
            return QStringLiteral("zh");
        if (!language.isEmpty() && available.contains(language))
            return language;
    }
    return available.contains(QStringLiteral("en")) ? QStringLiteral("en") : QStringLiteral("zh");
}

} // namespace Texts

QString TextCatalog::text(const char *key) const
{
    const QByteArray k = QByteArray::fromRawData(key, qsizetype(std::strlen(key)));
    if (const auto it = m_translation.constFind(k); it != m_translation.cend())
        return *it;
    if (const auto it = m_builtIn.constFind(k); it != m_builtIn.cend())
        return *it;
    return QString::fromUtf8(key);
}

bool TextCatalog::hasBuiltIn(const char *key) const
{
    return m_builtIn.contains(QByteArray::fromRawData(key, qsizetype(std::strlen(key))));
}
