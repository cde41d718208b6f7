#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The program's user-visible texts, looked up by dotted key ("msg.renamedCount").
// The built-in table holds the Chinese texts; a translation table is chosen from
// the user's locale and a key it lacks falls back to the built-in text.
namespace Texts {

// The text for key in the current language; the key itself when no table has it.
QString text(const char *key);

// The text with printf-style placeholders (%@, %d, %ld, %.1f, %1$@ ...) filled in order.
QString format(const char *key, const QStringList &args);

// A byte count as file sizes are shown everywhere in the program: decimal
// units with one decimal, none when it is 0 ("4.2 MB", "4 MB", "512 bytes").
QString byteCount(qint64 bytes);

// Chooses the translation table ("en", "zh", ...); empty = from the system locale.
void setLanguage(const QString &language);

// The language of the table in use ("zh", "en", ...).
QString language();

// Whether the built-in table has the key (for tests and checks).
bool hasKey(const char *key);

} // namespace Texts
