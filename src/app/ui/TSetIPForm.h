#pragma once

#include <QDialog>

class QFrame;
class QLabel;
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

    void BtnOKClick();

    QFrame* PanelIPBegin() const { return m_panelIP; }
    QFrame* PanelMask() const { return m_panelMask; }

private:
    VxEditConstraint* m_constraints;
    QLabel* m_labelIP;
    QFrame* m_panelIP;
    QFrame* m_panelMask;
    int m_deviceCount = 1;
};

inline constexpr const char* WrongIPText = "Wrong IP address, or Net Mask!";
