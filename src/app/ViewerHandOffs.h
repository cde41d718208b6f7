#pragma once

class ViewerWindowController;

// The viewer's commands that hand the current photo to something outside this
// program: the Trash, the editor, the open-with menu, the wallpaper and the
// file manager.
void installViewerHandOffs(ViewerWindowController *window);
