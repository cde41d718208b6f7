#pragma once

#include <QString>

#include <functional>

class QWidget;

// The Open panel: a sheet on window (window-modal, so the rest of the desktop
// stays usable) that chooses one file or one folder. onChosen gets the absolute
// path of the choice, or an empty string when the panel was cancelled. Returns
// at once.
void showOpenPanel(QWidget *window, const QString &startFolder,
                   std::function<void(const QString &path)> onChosen);
