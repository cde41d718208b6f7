#pragma once

#include <QString>

class QAbstractButton;
class QWidget;

// What a screen reader says. Qt publishes widgets over AT-SPI by their class;
// a short message that replaces itself in a label (the bubble over the photo,
// the review's status line, the shortcut clash note) would otherwise never be
// spoken, since a label's text change is not announced.
namespace Spoken {

// Installs the accessibility factory that publishes message widgets as
// notifications. Called once at start-up, before the first window exists.
void install();

// Marks widget as a message area: it is published as a notification, named by
// what was last said in it.
void markMessageArea(QWidget *widget);

// Marks a checkable button that opens a page of a window: it is published as
// a page tab, selected while checked.
void markPageTab(QAbstractButton *button);

// Names widget (marked above) text without saying it: what a screen reader
// reads there when the user goes to it.
void setName(QWidget *widget, const QString &text);

// Says text through widget (marked above): the name changes to text and the
// widget is announced as shown again, which screen readers speak even while
// the keyboard focus is elsewhere. Star runs ("★★★★☆") are read as their count.
void say(QWidget *widget, const QString &text);

// text with every run of rating stars replaced by its count in words
// ("★★★★☆" gives "4 of 5 stars").
QString readable(const QString &text);

} // namespace Spoken
