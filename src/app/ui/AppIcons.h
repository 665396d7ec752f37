#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's pictures, drawn at run time so that no file has to travel with the program.
QIcon ProgramIcon();
// The program's icon drawn at one size (the package's icons in the desktop's sizes).
QImage ProgramIconImage(int size);
// Toolbar pictures, 32 × 32, in the toolbar's order: Discover, Set IP, Configure, Upgrade,
// System, About.
QIcon ToolbarIcon(int index);
// The tall picture of the logo panel.
QPixmap LogoPicture(int width, int height);
