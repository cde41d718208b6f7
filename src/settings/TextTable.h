#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <utility>

// One language's texts by dotted key.
using TextTable = QHash<QByteArray, QString>;

// The pieces behind Texts::text and Texts::format, kept apart so that they can be
// checked on tables and templates of their own.
namespace Texts {

// Reads a table file: the header line "key<TAB>text", then one "key<TAB>text" line
// per text, where "\n", "\t" and "\\" inside a text stand for a line feed, a tab and
// a backslash. Empty lines are skipped. A line without a tab, an empty key or a
// repeated key is left out (the first occurrence wins) and described in problems.
TextTable parseTable(const QByteArray &tsv, QStringList *problems = nullptr);

// Fills the printf-style placeholders of a template with ready-made strings:
// %@, %d, %ld, %lu, %.1f, %+.1f ... take the next argument, %2$@ the second one,
// %% is a percent sign. A "%" that starts no placeholder ("100%") stays as it is;
// a placeholder without an argument becomes empty; surplus arguments are ignored.
// A group "{one|other}" picks its first word when the argument of the placeholder
// before it is "1" and its second otherwise, so that a translation can say
// "1 photo" and "2 photos".
QString fill(const QString &templ, const QStringList &args);

// The placeholders of a text, one "position:conversion" entry each ("1:@", "2:.1f"),
// sorted by position: a translation must have the same list as the built-in text.
QStringList placeholders(const QString &text);

// The table to show: the first preferred language ("zh_CN", "en-GB", "de") whose
// language part is "zh" (the built-in table) or in available; otherwise "en" when
// available, else "zh".
QString chooseLanguage(const QStringList &preferred, const QStringList &available);

} // namespace Texts

// Built-in texts plus one translation: a key the translation lacks falls back to
// the built-in text, a key neither has reads as the key itself.
class TextCatalog
{
public:
    TextCatalog() = default;
    TextCatalog(TextTable builtIn, TextTable translation)
        : m_builtIn(std::move(builtIn)), m_translation(std::move(translation)) {}

    QString text(const char *key) const;
    bool hasBuiltIn(const char *key) const;

private:
    TextTable m_builtIn;
    TextTable m_translation;
};
