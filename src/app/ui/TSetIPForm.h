#pragma once

#include "app/SetIpPlan.h"

#include <QDialog>
#include <functional>

class QFrame;
class QLabel;
class QTreeWidget;
class VxEditConstraint;

// Asks for the IP address and netmask that Set IP gives to the selected devices: for one
// device its new address, for several the first of a run of consecutive addresses. It only
// collects and checks the two addresses.
class TSetIPForm : public QDialog
{
    Q_OBJECT

public:
    explicit TSetIPForm(QWidget* owner);
    ~TSetIPForm() override;

    void SetSingleMode();
    // deviceCount: how many devices get the run of addresses; each address of the run is
    // checked against the netmask on OK.
    void SetMultipleMode(int deviceCount = 1);

    // The dotted texts, valid after the dialog closed with OK.
    QString IPAddress() const;
    QString Netmask() const;
    // Fills both fields (the first selected device's address and netmask, say).
    void SetAddresses(const QString& address, const QString& netmask);

    // Shows the run below the fields, device by device, as the first address is typed: the
    // plan for a first address.
    using PlanSource = std::function<QList<SetIpPlanEntry>(const QString& first)>;
    void SetPreview(PlanSource plan);
    // The preview's rows as shown ("MAC | name | current | new | warnings").
    QStringList PreviewLines() const;

    void BtnOKClick();

    QFrame* PanelIPBegin() const { return m_panelIP; }
    QFrame* PanelMask() const { return m_panelMask; }

private:
    VxEditConstraint* m_constraints;
    QLabel* m_labelIP;
    QFrame* m_panelIP;
    QFrame* m_panelMask;
    int m_deviceCount = 1;
    QTreeWidget* m_preview = nullptr;
    PlanSource m_plan;
    void refreshPreview();
};

inline constexpr const char* WrongIPText = "Wrong IP address, or Net Mask!";
