#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <initializer_list>

class QCheckBox;

// The check-box groups of a configuration window: each check box enables the controls of
// its setting while it is ticked. A group is the check box followed by its members; a panel
// among the members brings along the children it has when the group is made.
class VxChkGroupsList : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    struct Group
    {
        QPointer<QCheckBox> checkBox;
        QList<QPointer<QWidget>> members;
    };

    void AddGroup(QCheckBox* checkBox, std::initializer_list<QWidget*> members);
    // Enables the visible members of the check box's first group when it is ticked and
    // disables them when it is not; hidden members keep their state.
    void GroupCheckBoxClick(QCheckBox* checkBox);
    // Ticks (or unticks) every check box that is shown and enabled and applies its group.
    void CheckAll();
    void UncheckAll();
    void Clear() { m_groups.clear(); }

    int Count() const { return int(m_groups.size()); }
    const Group& At(int index) const { return m_groups.at(index); }
    // The first group of the check box, none when it has no group.
    const Group* GroupOf(const QCheckBox* checkBox) const;

private:
    void setAll(bool checked);

    QList<Group> m_groups;
};
