#include "config/ui/VxChkGroupsList.h"

#include <QCheckBox>
#include <QFrame>

void VxChkGroupsList::AddGroup(QCheckBox* checkBox, std::initializer_list<QWidget*> members)
{
    Group group;
    group.checkBox = checkBox;
    for (QWidget* member : members) {
        group.members.append(member);
        // Only a plain panel brings its children: a group box or an edit (which is a frame
        // too) is a control of its own.
        if (member && QByteArray(member->metaObject()->className()) == "QFrame") {
            for (QWidget* child : member->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                group.members.append(child);
        }
    }
    m_groups.append(group);
    connect(checkBox, &QCheckBox::clicked, this, [this, checkBox] { GroupCheckBoxClick(checkBox); });
}

const VxChkGroupsList::Group* VxChkGroupsList::GroupOf(const QCheckBox* checkBox) const
{
    for (const Group& group : m_groups)
        if (group.checkBox == checkBox)
            return &group;
    return nullptr;
}

void VxChkGroupsList::GroupCheckBoxClick(QCheckBox* checkBox)
{
    const Group* group = GroupOf(checkBox);
    if (!group)
        return;
    const bool on = checkBox->isChecked();
    // "Visible" is the control's own visibility: a control on a page that is not the
    // current one is still a visible member of its group.
    for (const QPointer<QWidget>& member : group->members)
        if (member && !member->isHidden())
            member->setEnabled(on);
}

void VxChkGroupsList::setAll(bool checked)
{
    for (const Group& group : std::as_const(m_groups)) {
        QCheckBox* box = group.checkBox;
        if (!box || box->isHidden() || !box->isEnabledTo(box->window()))
            continue;
        box->setChecked(checked);
        GroupCheckBoxClick(box);
    }
}

void VxChkGroupsList::CheckAll()
{
    setAll(true);
}

void VxChkGroupsList::UncheckAll()
{
    setAll(false);
}
