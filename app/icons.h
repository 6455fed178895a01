// The program's own icons, drawn in code so the window looks the same on
// every desktop, with or without an icon theme.
#pragma once

#include <QIcon>
#include <QImage>

namespace icons {

QIcon AddFolder();
QIcon AddFiles();
QIcon Delete();
QIcon Clear();
QIcon Convert();
QIcon Pause();
QIcon Stop();
QIcon Settings();
QIcon Eject();
QIcon CloseTray();

// Row states of the file list.
QIcon RowInProgress();
QIcon RowDone();
QIcon RowFailed();
// Not converted: its output exists.
QIcon RowSkipped();

// The program: a sound wave passing through an arrow.
QIcon Program();
// The same drawing as an image of any size (the desktop's icon files).
QImage ProgramImage(int size);

}  // namespace icons
