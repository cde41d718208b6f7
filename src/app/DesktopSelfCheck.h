#pragma once

#include <QStringList>

class GlobalHotkey;
class QWidget;

// The self-check runs of the desktop pieces: "--settingstest", "--updatetest",
// "--defaulttest" and "--hotkeytest". Each drives the real user interface
// through a short scenario, prints one line per step on standard output
// ("settingstest: ...", ending with "ok" or "FAILED") and ends the program
// with status 0 or 1. Preferences a scenario changes are put back; the
// default-viewer run only reads the system's state and never changes it.

// Starts the scenario named on the command line after a short delay and
// returns true, or returns false when none of the four switches is there.
// window is the viewer window (the banner's host, the toggle's target);
// hotkey is the application's global hotkey.
bool startDesktopSelfCheck(const QStringList &arguments, QWidget *window, GlobalHotkey *hotkey);
