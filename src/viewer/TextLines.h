#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <QVector>

// How the overlays break a text into lines, as plain functions of the text, the
// font and the width in pixels, so the breaks are checked without a window. Lines
// break between words where they can and inside a word where they must.

// One line of a text: where it starts in the text and how many characters it takes,
// the spaces it ends with included.
struct LineSpan {
    int start = 0;
    int length = 0;
};
QVector<LineSpan> lineSpans(const QString &text, const QFont &font, int width);

// A text laid out in at most two lines of width pixels, the second line shortened
// with an ellipsis when the text is longer.
QString twoLineText(const QString &text, const QFont &font, int width);

// The message bubble's lines: one when the message fits, else up to maxLines of even
// length (the narrowest width that needs no more lines), and only what maxLines cannot
// hold shortened in the middle. Line breaks in the message count as spaces.
QStringList messageLines(const QString &message, const QFont &font, int width, int maxLines);
