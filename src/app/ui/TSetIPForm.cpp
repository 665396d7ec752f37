#include "app/ui/TSetIPForm.h"

#include "app/DeviceListModel.h"
#include "common/AddressCheck.h"
#include "common/TextHelpers.h"
#include "common/ui/VxEditConstraint.h"
#include "common/ui/VxIPAddressPanel.h"
#include "common/ui/VxMessageBox.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace {
const QString SingleCaption = QStringLiteral("IP Setting");
const QString MultipleCaption = QStringLiteral("Multiple IP Setting");
const QString SingleLabel = QStringLiteral("IP Address");
const QString MultipleLabel = QStringLiteral("First IP");
} // namespace

TSetIPForm::TSetIPForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("SetIPForm"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_constraints = new VxEditConstraint(this, true);

    m_labelIP = new QLabel(SingleLabel, this);
    m_labelIP->setObjectName(QStringLiteral("LabelIPAddress"));
    m_panelIP = new QFrame(this);
    m_panelIP->setObjectName(QStringLiteral("PanelIPBegin"));
    auto* labelMask = new QLabel(QStringLiteral("IP Netmask"), this);
    labelMask->setObjectName(QStringLiteral("LabelMask"));
    m_panelMask = new QFrame(this);
    m_panelMask->setObjectName(QStringLiteral("PanelMask"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BtnOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("BtnCancel"));

    SetupIPAddressPanel(*m_constraints, m_panelIP);
    SetupIPAddressPanel(*m_constraints, m_panelMask);
    // Tab goes through the address, then the netmask, then the buttons.
    setTabOrder(m_panelIP->findChildren<QLineEdit*>().last(), m_panelMask->findChildren<QLineEdit*>().first());
    setTabOrder(m_panelMask->findChildren<QLineEdit*>().last(), ok);
    setTabOrder(ok, cancel);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_labelIP, 0, 0);
    grid->addWidget(m_panelIP, 0, 1);
    grid->addWidget(labelMask, 1, 0);
    grid->addWidget(m_panelMask, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    m_preview = new QTreeWidget(this);
    m_preview->setObjectName(QStringLiteral("PreviewList"));
    m_preview->setHeaderLabels({QStringLiteral("Mac Address"), QStringLiteral("Device Name"),
                                QStringLiteral("Now"), QStringLiteral("New"),
                                QStringLiteral("Look twice")});
    m_preview->setRootIsDecorated(false);
    m_preview->setMinimumSize(560, 120);
    m_preview->hide();
    grid->addWidget(m_preview, 2, 0, 1, 2);
    for (QLineEdit* octet : m_panelIP->findChildren<QLineEdit*>())
        connect(octet, &QLineEdit::textChanged, this, &TSetIPForm::refreshPreview);
    grid->addLayout(buttons, 3, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &TSetIPForm::BtnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    SetSingleMode();
}

TSetIPForm::~TSetIPForm() = default;

void TSetIPForm::SetSingleMode()
{
    m_deviceCount = 1;
    setWindowTitle(SingleCaption);
    m_labelIP->setText(SingleLabel);
}

void TSetIPForm::SetMultipleMode(int deviceCount)
{
    m_deviceCount = std::max(deviceCount, 1);
    setWindowTitle(MultipleCaption);
    m_labelIP->setText(MultipleLabel);
}

namespace {
// Octets typed with leading zeros ("010") are given as plain numbers: "000.0.0.0" is the
// refused all-zero address, and a device must not read "010" as another number.
QString canonical(const QString& dotted)
{
    QStringList parts = dotted.split(QLatin1Char('.'));
    for (QString& p : parts) {
        bool ok = false;
        const uint n = p.toUInt(&ok);
        if (ok)
            p = QString::number(n);
    }
    return parts.join(QLatin1Char('.'));
}
} // namespace

QString TSetIPForm::IPAddress() const
{
    return canonical(PanelCaption(m_panelIP));
}

QString TSetIPForm::Netmask() const
{
    return canonical(PanelCaption(m_panelMask));
}

void TSetIPForm::SetAddresses(const QString& address, const QString& netmask)
{
    if (ParseDottedIPv4(address))
        SetIPAddressPanelText(m_panelIP, address);
    if (ParseDottedIPv4(netmask))
        SetIPAddressPanelText(m_panelMask, netmask);
    refreshPreview();
}

void TSetIPForm::SetPreview(PlanSource plan)
{
    m_plan = std::move(plan);
    m_preview->setVisible(bool(m_plan));
    refreshPreview();
}

void TSetIPForm::refreshPreview()
{
    if (!m_plan || !m_preview)
        return;
    m_preview->clear();
    const QString first = IPAddress();
    if (!ParseDottedIPv4(first))
        return;
    for (const SetIpPlanEntry& e : m_plan(first)) {
        auto* item = new QTreeWidgetItem(
            m_preview, {EscapeUntrusted(e.row->macText), EscapeUntrusted(e.row->deviceName),
                        EscapeUntrusted(e.from), e.to, e.warnings.join(QStringLiteral("; "))});
        if (!e.warnings.isEmpty())
            for (int c = 0; c < item->columnCount(); ++c)
                item->setForeground(c, QColor(0xB0, 0x30, 0x00));
    }
    for (int c = 0; c < m_preview->columnCount() - 1; ++c)
        m_preview->resizeColumnToContents(c);
}

QStringList TSetIPForm::PreviewLines() const
{
    QStringList lines;
    for (int i = 0; i < m_preview->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < m_preview->columnCount(); ++c)
            cells.append(m_preview->topLevelItem(i)->text(c));
        lines.append(cells.join(QStringLiteral(" | ")));
    }
    return lines;
}

void TSetIPForm::BtnOKClick()
{
    // The octet the user is still in (OK by Enter) counts as left, and an octet left by the
    // click itself is checked before the values are read.
    if (auto* octet = qobject_cast<QLineEdit*>(focusWidget()); octet && m_constraints->Find(octet))
        if (!IPOctetExit(*m_constraints, octet))
            return;
    if (!m_constraints->RunPendingExits())
        return;

    const QString ip = IPAddress();
    const QString mask = Netmask();
    if (ip.isEmpty() || mask.isEmpty() || ip == QLatin1String("0.0.0.0") || ip == QLatin1String("255.255.255.255")) {
        VxMessageBox(this, QString::fromLatin1(WrongIPText), QStringLiteral("Error"), QMessageBox::Ok,
                     QMessageBox::Critical);
        return;
    }
    // A netmask that is no netmask, or an address no device can use under it, would move
    // the devices out of reach.
    if (const QString problem = CheckAddressRun(ip, mask, m_deviceCount); !problem.isEmpty()) {
        VxMessageBox(this, problem, QStringLiteral("Error"), QMessageBox::Ok,
                     QMessageBox::Critical);
        return;
    }
    accept();
}
