#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class ViewerPage;

// glanto_viewer_bench FOLDER (also accepts "--bench FOLDER"): the viewer's
// memory and latency benchmark, a build of the program with this added. It opens the
// first JPEG of FOLDER in the window's viewer, then measures launch to pixels,
// the next prefetched photo, key-repeat browsing, 1:1 zoom against a plain
// libjpeg-turbo decode and the memory after 500 photos; it prints one line per
// figure on standard output and ends the process.

// The folder after "--bench", when the switch is on the line with one.
std::optional<QString> benchFolder(const QStringList &arguments);

// The photo the benchmark opens first (absent when FOLDER holds no JPEG).
std::optional<QString> benchFirstPhoto(const QString &folder);

// Starts the benchmark on the viewer (returns at once; the process ends when done).
void startBench(ViewerPage *viewer, const QString &folder);
