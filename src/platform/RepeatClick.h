#pragma once

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStyleHints>

// One click per double-click interval, for a button whose click changes what
// it then shows under the pointer (a bin, a "Move to Trash (N)"): the second
// click of a double-click would act on something nobody had seen yet.
class RepeatClick
{
public:
    // True for a click to take; false for one within the interval of the last taken.
    bool take()
    {
        if (last.isValid() && last.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval())
            return false;
        last.start();
        return true;
    }

private:
    QElapsedTimer last;
};
