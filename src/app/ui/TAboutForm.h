#pragma once

#include "common/ProgramVersion.h"

#include <QDialog>

// The about box: the program's icon, name, version and notice.
class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* owner);
};

inline constexpr const char* ProgramName = "Varnix SkyRay Multiple Nodewarden";
inline constexpr const char* ProgramVersionText = "Version " NW_VERSION_TEXT;
