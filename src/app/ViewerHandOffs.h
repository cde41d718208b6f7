#pragma once

#include "platform/Trash.h"

#include <QVector>

class ViewerWindowController;

// The viewer's commands that hand the current photo to something outside this
// program: the Trash, the editor, the open-with menu, the wallpaper and the
// file manager.
void installViewerHandOffs(ViewerWindowController *window);

// A Trash request made elsewhere (the cleanup review's) that Ctrl+Z in the
// viewer puts back once the review is left.
void keepTrashUndo(const QVector<TrashedFile> &batch);
