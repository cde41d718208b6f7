#pragma once

class QFileDialog;
class QWidget;

// Gives one of the program's own (non-native) file dialogs room for camera
// file names with their sizes, kinds and dates, where Qt's default size cuts
// the detail columns short: a size that fits the window's screen, and detail
// columns at the width of what they hold, the name taking the rest.
void fitFileDialog(QFileDialog *dialog, const QWidget *window);
