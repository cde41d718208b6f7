#pragma once

#include <QString>

class QWidget;

// The "--shot" self-check: once the window has had time to lay out and paint,
// save a picture of it as PNG to path and end the process (status 0 when the
// file was written, 1 otherwise, with the reason on standard error).
void scheduleWindowShot(QWidget *window, const QString &path);

// Renders window into a PNG at path; an error message, or empty on success.
QString saveWindowShot(QWidget *window, const QString &path);
