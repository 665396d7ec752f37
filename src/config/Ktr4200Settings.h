#pragma once

#include "config/ConfigBindingList.h"

#include <QList>
#include <QString>

// One setting of the KTR-4200 configuration: its key, the control that shows it in the
// configuration window and the check box whose group selects it (empty: always selected).
struct Ktr4200Setting
{
    QString key;
    QString control;
    QString checkBox;
};

// Every setting in file order (which is the binding order of the window).
const QList<Ktr4200Setting>& Ktr4200Settings();

// The check boxes of the two access control lists, written after all settings.
inline constexpr const char* kChk11aAclMac = "Chk11aAclMac";
inline constexpr const char* kChk11bAclMac = "Chk11bAclMac";

// A binding list of every KTR-4200 setting, all values empty and all enabled.
ConfigBindingList MakeKtr4200BindingList();
