#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures, drawn at run time so that no file has to travel with the program.
QIcon ProgramIcon();
// Toolbar pictures, 32 × 32, in the toolbar's order: Discover, Set IP, Configure, Upgrade,
// System, About.
QIcon ToolbarIcon(int index);
// The tall picture of the logo panel.
QPixmap LogoPicture(int width, int height);
