#include "config/ui/TConfig_KTR_4200.h"

#include "common/AddressCheck.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/ui/ApplyLayout.h"
#include "common/ui/VxMessageBox.h"
#include "config/ChannelPlans.h"
#include "config/ConfigDiff.h"
#include "config/ConfigFile.h"
#include "config/ConfigHost.h"
#include "config/ConfigText.h"
#include "config/ConfigVerify.h"
#include "config/Ktr4200Settings.h"
#include "config/ui/TConfigButtonsFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QStringList EnableDisable = {QStringLiteral("enable"), QStringLiteral("disable")};
const QStringList TxPowerItems = {QStringLiteral("full"), QStringLiteral("half"),
                                  QStringLiteral("quarter"), QStringLiteral("eighth"),
                                  QStringLiteral("min")};
const QStringList AuthTypeItems = {QStringLiteral("open"), QStringLiteral("shared"),
                                   QStringLiteral("both"), QStringLiteral("802.1x")};
const QStringList KeyIndexItems = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                   QStringLiteral("4")};
const QStringList KeyLengthItems = {QStringLiteral("64"), QStringLiteral("128"),
                                    QStringLiteral("152"), QStringLiteral("NULL")};
const QStringList CountryItems = {
    QStringLiteral("Australia"), QStringLiteral("Canada"),  QStringLiteral("China"),
    QStringLiteral("Denmark"),   QStringLiteral("Finland"), QStringLiteral("Italy"),
    QStringLiteral("Netherlands"), QStringLiteral("Norway"), QStringLiteral("Russian"),
    QStringLiteral("Sweden"),    QStringLiteral("Taiwan"),  QStringLiteral("UK"),
    QStringLiteral("US"),        QStringLiteral("France"),  QStringLiteral("Singapore")};

const QString EmptyAclEntry = QStringLiteral("00:00:00:00:00:00");
const QString IniFileName = QStringLiteral("system.ini");
const QString FwVersionColumn = QStringLiteral("F/W Version");

// The length a key length box has set its key field up for.
const char* const AppliedKeyLength = "nwAppliedKeyLength";

// The mask of an 802.11a key whose length is "NULL": five literals that show the word and take
// no input.
const QString NullKeyMask = QStringLiteral("\\e\\m\\p\\t\\y");

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const QString& caption)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QComboBox* MakeCombo(QWidget* parent, const QString& name, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setMinimumContentsLength(8);
    return box;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int displayChars = 0)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (displayChars > 0) {
        edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(displayChars, u'0')) +
                              12);
    }
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QFrame* MakePanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    return panel;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& caption)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QGridLayout* CompactGrid(QWidget* owner)
{
    auto* grid = new QGridLayout(owner);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    return grid;
}

// The width in characters of a hex field of this many bytes.
int HexChars(int bytes)
{
    return bytes * 3 - 1;
}

} // namespace

TConfig_KTR_4200::TConfig_KTR_4200(ConfigHost* host, QWidget* parent)
    : TConfig_Form(host, parent), m_region(&ProcessFirmwareRegion())
{
    setObjectName(QString::fromLatin1(Ktr4200FormName));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    PageConfig = new QTabWidget(this);
    PageConfig->setObjectName(QStringLiteral("PageConfig"));
    PageConfig->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(PageConfig, 1);

    TabComm = new QWidget(PageConfig);
    TabComm->setObjectName(QStringLiteral("TabComm"));
    Tab11a = new QWidget(PageConfig);
    Tab11a->setObjectName(QStringLiteral("Tab11a"));
    Tab11b = new QWidget(PageConfig);
    Tab11b->setObjectName(QStringLiteral("Tab11b"));
    TabFileView = new QWidget(PageConfig);
    TabFileView->setObjectName(QStringLiteral("TabFileView"));
    PageConfig->addTab(TabComm, QStringLiteral("General"));
    PageConfig->addTab(Tab11a, QStringLiteral("IEEE802.11a"));
    PageConfig->addTab(Tab11b, QStringLiteral("IEEE802.11b"));
    PageConfig->addTab(TabFileView, QStringLiteral("View File"));

    buildGeneralPage();
    buildBandPage(Tab11a, QStringLiteral("11a"));
    buildBandPage(Tab11b, QStringLiteral("11b"));
    LBoxCfgFile = new QListWidget(TabFileView);
    LBoxCfgFile->setObjectName(QStringLiteral("LBoxCfgFile"));
    auto* viewLayout = new QVBoxLayout(TabFileView);
    viewLayout->setContentsMargins(0, 0, 0, 0);
    viewLayout->addWidget(LBoxCfgFile);
    // The file view is a tool for whoever looks into the files; the window's ini section
    // can show it.
    PageConfig->setTabVisible(PageConfig->indexOf(TabFileView), false);

    ConfigButtons = new TConfigButtonsFrame(this);
    ConfigButtons->BtnSelectAll->setText(QStringLiteral("Check All"));
    ConfigButtons->BtnUnSelectAll->setText(QStringLiteral("Clear Check"));
    for (QPushButton* button : ConfigButtons->findChildren<QPushButton*>())
        button->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(ConfigButtons, 0, Qt::AlignHCenter);

    connect(PageConfig, &QTabWidget::currentChanged, this, &TConfig_KTR_4200::PageConfigChange);
    formCreate();

    // The design is 549 x 452; the fields grow the window where the platform's fonts need
    // more room, never below the design.
    setFixedSize(sizeHint().expandedTo(QSize(549, 452)));
}

TConfig_KTR_4200::~TConfig_KTR_4200()
{
    // The base classes destroy the controls after this class is gone, and a combo box
    // being edited still emits its change signals then: they must not reach the handlers
    // of this class any more.
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
}

void TConfig_KTR_4200::buildGeneralPage()
{
    QWidget* p = TabComm;
    auto* grid = CompactGrid(p);
    int row = 0;
    grid->addWidget(MakeCheck(p, QStringLiteral("ChkDeviceName"), QStringLiteral("Device Name")),
                    row, 0);
    grid->addWidget(MakeEdit(p, QStringLiteral("EdDeviceName")), row++, 1, 1, 3);

    QGroupBox* lan = MakeGroupBox(p, QStringLiteral("GBoxLan"), QStringLiteral("LAN"));
    auto* lanGrid = CompactGrid(lan);
    lanGrid->addWidget(MakeCheck(lan, QStringLiteral("ChkIP"), QStringLiteral("IP Address")), 0, 0);
    lanGrid->addWidget(MakePanel(lan, QStringLiteral("PanelIP")), 0, 1);
    lanGrid->addWidget(MakeLabel(lan, QStringLiteral("LabelIPMask"), QStringLiteral("IP Netmask")),
                       0, 2);
    lanGrid->addWidget(MakePanel(lan, QStringLiteral("PanelMask")), 0, 3);
    lanGrid->addWidget(MakeCheck(lan, QStringLiteral("ChkGateway"), QStringLiteral("Gateway")), 1,
                       0);
    lanGrid->addWidget(MakePanel(lan, QStringLiteral("PanelGateway")), 1, 1);
    lanGrid->addWidget(
        MakeCheck(lan, QStringLiteral("ChkDhcpCliStatus"), QStringLiteral("DHCP client")), 2, 0);
    lanGrid->addWidget(MakeCombo(lan, QStringLiteral("CBoxDhcpCliStatus"), EnableDisable), 2, 1);
    lanGrid->setColumnStretch(4, 1);
    grid->addWidget(lan, row++, 0, 1, 4);

    auto* countryRow = new QHBoxLayout;
    countryRow->addWidget(MakeCheck(p, QStringLiteral("ChkCountry"), QString()));
    countryRow->addWidget(
        MakeLabel(p, QStringLiteral("CountryLabel"), QStringLiteral("Country Code")));
    countryRow->addStretch(1);
    grid->addLayout(countryRow, row, 0);
    grid->addWidget(MakeCombo(p, QStringLiteral("CBoxCountry"), CountryItems), row++, 1);
    grid->addWidget(
        MakeLabel(p, QStringLiteral("LabelRegDomain"), QStringLiteral("Regulatory Domain")), row,
        0);
    grid->addWidget(MakeEdit(p, QStringLiteral("EdRegDomain")), row++, 1);
    grid->addWidget(MakeCheck(p, QStringLiteral("Chk11a11bConnection"),
                              QStringLiteral("WLAN11a,11b Connection")),
                    row, 0);
    grid->addWidget(MakeCombo(p, QStringLiteral("CBox11a11bConnection"), EnableDisable), row++, 1);
    grid->addWidget(MakeCheck(p, QStringLiteral("ChkTelnet"), QStringLiteral("Telnet Support")),
                    row, 0);
    grid->addWidget(MakeCombo(p, QStringLiteral("CBoxTelnetOption"), EnableDisable), row++, 1);
    grid->addWidget(
        MakeCheck(p, QStringLiteral("ChkTelnetTimeout"), QStringLiteral("Telnet Timeout")), row, 0);
    grid->addWidget(MakeCombo(p, QStringLiteral("CBoxTelnetTimeout"),
                              {QStringLiteral("1"), QStringLiteral("5"), QStringLiteral("10"),
                               QStringLiteral("15"), QStringLiteral("never")}),
                    row, 1);
    grid->addWidget(MakeLabel(p, QStringLiteral("Label1"), QStringLiteral("minutes")), row++, 2);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(row, 1);
}

void TConfig_KTR_4200::buildBandPage(QWidget* p, const QString& band)
{
    const bool a = band == QLatin1String("11a");
    const auto n = [&band](const char* prefix, const char* role) {
        return QString::fromLatin1(prefix) + band + QString::fromLatin1(role);
    };
    auto* page = new QGridLayout(p);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);

    QGroupBox* wlan = MakeGroupBox(p, n("GBox", "WLan"), QStringLiteral("Wireless Settings"));
    auto* w = CompactGrid(wlan);
    int row = 0;
    const auto addRow = [&](QGridLayout* grid, QWidget* parent, const QString& check,
                            const QString& caption, QWidget* control) {
        grid->addWidget(MakeCheck(parent, check, caption), row, 0);
        grid->addWidget(control, row++, 1);
    };
    addRow(w, wlan, n("Chk", "SSid"), QStringLiteral("SSID"), MakeEdit(wlan, n("Ed", "SSid")));
    if (a)
        addRow(w, wlan, QStringLiteral("Chk11aTurboMode"), QStringLiteral("Trubo setting"),
               MakeCombo(wlan, QStringLiteral("CBox11aTurboMode"), EnableDisable));
    addRow(w, wlan, n("Chk", "Channel"), QStringLiteral("Channel"),
           MakeCombo(wlan, n("CBox", "Channel"), {}));
    addRow(w, wlan, n("Chk", "Rate"), QStringLiteral("Data Rate"),
           MakeCombo(wlan, n("CBox", "Rate"),
                     a ? QStringList{"auto", "6", "9", "12", "18", "24", "36", "48", "54"}
                       : QStringList{"auto", "1", "2", "5.5", "11", "22"}));
    addRow(w, wlan, n("Chk", "TxPower"), QStringLiteral("Tx Power"),
           MakeCombo(wlan, n("CBox", "TxPower"), TxPowerItems));
    addRow(w, wlan, n("Chk", "BconInterval"), QStringLiteral("Beacon Interval"),
           MakeEdit(wlan, n("Ed", "BconInterval")));
    addRow(w, wlan, n("Chk", "Dtim"), QStringLiteral("DTIM"), MakeEdit(wlan, n("Ed", "Dtim")));
    addRow(w, wlan, n("Chk", "FragThreshold"), QStringLiteral("Fragment Length"),
           MakeEdit(wlan, n("Ed", "FragThreshold")));
    addRow(w, wlan, n("Chk", "RtsThreshold"), QStringLiteral("RTS Length"),
           MakeEdit(wlan, n("Ed", "RtsThreshold")));
    addRow(w, wlan, n("Chk", "Unipkt_sta2sta"), QStringLiteral("Internal Station Connection"),
           MakeCombo(wlan, n("CBox", "Unipkt_sta2sta"), EnableDisable));
    addRow(w, wlan, n("Chk", "Broadpkt_ap2sta"), QStringLiteral("Broadcast from Ethernet TO WLAN"),
           MakeCombo(wlan, n("CBox", "Broadpkt_ap2sta"), EnableDisable));
    w->setRowStretch(row, 1);

    QGroupBox* acl = MakeGroupBox(p, n("GBox", "Acl"), QStringLiteral("Wireless Access Settings"));
    auto* ag = CompactGrid(acl);
    row = 0;
    addRow(ag, acl, n("Chk", "AclMode"), QStringLiteral("Access Control"),
           MakeCombo(acl, n("CBox", "AclMode"),
                     {QStringLiteral("disable"), QStringLiteral("accept"),
                      QStringLiteral("reject")}));
    ag->addWidget(MakeCheck(acl, n("Chk", "AclMac"), QStringLiteral("Access Control List")), row++,
                  0, 1, 2);
    QFrame* aclPanel = MakePanel(acl, a ? QStringLiteral("Panel11aAclMac") : QStringLiteral("Panel8"));
    auto* pg = new QGridLayout(aclPanel);
    pg->setContentsMargins(0, 0, 0, 0);
    pg->setSpacing(2);
    pg->addWidget(MakeEdit(aclPanel, n("Ed", "AclMac"), HexChars(6)), 0, 0);
    auto* add = new QPushButton(QStringLiteral("Add"), aclPanel);
    add->setObjectName(n("Btn", "AclMacAdd"));
    auto* del = new QPushButton(QStringLiteral("Del"), aclPanel);
    del->setObjectName(n("Btn", "AclMacDel"));
    // Enter in a field of the page must not press them: a dialog makes its first button
    // that presses on Enter its default one.
    add->setAutoDefault(false);
    del->setAutoDefault(false);
    pg->addWidget(add, 0, 1);
    pg->addWidget(del, 0, 2);
    auto* list = new QListWidget(aclPanel);
    list->setObjectName(n("LB", "AclMac"));
    pg->addWidget(list, 1, 0, 1, 3);
    ag->addWidget(aclPanel, row++, 0, 1, 2);

    QGroupBox* sec = MakeGroupBox(p, n("GBox", "Security"), QStringLiteral("Security Settings"));
    auto* sg = CompactGrid(sec);
    row = 0;
    sg->addWidget(MakeCheck(sec, n("Chk", "AuthType"), QStringLiteral("Authentication")), row, 0);
    sg->addWidget(MakeCombo(sec, n("CBox", "AuthType"), AuthTypeItems), row, 1);
    sg->addWidget(MakeLabel(sec, n("Label", "Wep"), QStringLiteral("WEP Status")), row, 2);
    sg->addWidget(MakeCombo(sec, n("CBox", "WepStatus"),
                            a ? QStringList{"disable", "enable"}
                              : QStringList{"disable", "64", "128", "256"}),
                  row++, 3);
    sg->addWidget(MakeCheck(sec, n("Chk", "ActKeyIdx"), QStringLiteral("Active Key Index")), row,
                  0);
    sg->addWidget(MakeCombo(sec, n("CBox", "KeyIdx"), KeyIndexItems), row++, 1);
    if (a) {
        for (int k = 1; k <= 4; ++k) {
            sg->addWidget(MakeCheck(sec, QStringLiteral("Chk11aWepKey%1").arg(k),
                                    QStringLiteral("Wep Key %1").arg(k)),
                          row, 0);
            QComboBox* length =
                MakeCombo(sec, QStringLiteral("CBox11aWepKeyLen%1").arg(k), KeyLengthItems);
            length->setProperty("tag", k);
            sg->addWidget(length, row, 1);
            sg->addWidget(MakeEdit(sec, QStringLiteral("Ed11aWepKey%1").arg(k), HexChars(16)), row++,
                          2, 1, 3);
        }
    } else {
        for (const int bits : {64, 128, 256}) {
            sg->addWidget(MakeCheck(sec, QStringLiteral("Chk11bWep%1").arg(bits),
                                    QStringLiteral("%1 Bits Wep Key").arg(bits)),
                          row, 0, Qt::AlignTop);
            QFrame* keys = MakePanel(sec, QStringLiteral("Panel%1Key").arg(bits));
            auto* kg = new QGridLayout(keys);
            kg->setContentsMargins(0, 0, 0, 0);
            kg->setSpacing(2);
            const int bytes = bits == 64 ? 5 : bits == 128 ? 13 : 29;
            const int perRow = bits == 256 ? 1 : 2;
            for (int k = 1; k <= 4; ++k)
                kg->addWidget(MakeEdit(keys, QStringLiteral("Ed11bWep%1Key%2").arg(bits).arg(k),
                                       HexChars(bytes)),
                              (k - 1) / perRow, (k - 1) % perRow);
            sg->addWidget(keys, row++, 1, 1, 4);
        }
    }
    // Not a selection box of a setting: it only uncovers the keys of this page.
    sg->addWidget(MakeCheck(sec, n("ChkShow", "Keys"), QStringLiteral("Show keys")), row++, 0);
    sg->setColumnStretch(4, 1);

    page->addWidget(wlan, 0, 0);
    page->addWidget(acl, 0, 1);
    page->addWidget(sec, 1, 0, 1, 2);
    page->setRowStretch(2, 1);
}

void TConfig_KTR_4200::formCreate()
{
    m_channelTable = &KtrChannelTable();
    const QDir data(DataFolder());
    ApplyLayout(this, data.filePath(IniFileName), QString::fromLatin1(Ktr4200FormName),
                data.filePath(QStringLiteral("bmp")));
    bindSettings();

    // The access control list fields are not bound: the lists are written from the list
    // boxes.
    for (const QString& band : {QStringLiteral("11a"), QStringLiteral("11b")}) {
        ConstraintManager().SetupHexEdit(Control<QLineEdit>(QStringLiteral("Ed") + band + "AclMac"),
                                         u':', 6);
        connect(Control<QPushButton>(QStringLiteral("Btn") + band + "AclMacAdd"),
                &QPushButton::clicked, this, [this, band] { BtnAclMacAddClick(band); });
        connect(Control<QPushButton>(QStringLiteral("Btn") + band + "AclMacDel"),
                &QPushButton::clicked, this, [this, band] { BtnAclMacDelClick(band); });
        connect(Control<QListWidget>(QStringLiteral("LB") + band + "AclMac"),
                &QListWidget::itemClicked, this, [this, band] { LBAclMacClick(band); });
        connect(Control<QLineEdit>(QStringLiteral("Ed") + band + "AclMac"),
                &QLineEdit::textChanged, this, [this, band] { EdAclMacChange(band); });
    }
    // The keys are secrets: someone beside the screen must not read them off the window.
    for (const QString& band : {QStringLiteral("11a"), QStringLiteral("11b")}) {
        ShowKeys(band, false);
        connect(Control<QCheckBox>(QStringLiteral("ChkShow") + band + "Keys"), &QCheckBox::toggled,
                this, [this, band](bool shown) { ShowKeys(band, shown); });
    }
    for (int k = 1; k <= 4; ++k) {
        QComboBox* length = Control<QComboBox>(QStringLiteral("CBox11aWepKeyLen%1").arg(k));
        // Picking the length the key already has changes nothing: the key typed stays.
        connect(length, &QComboBox::textActivated, this, [this, length](const QString& text) {
            if (text != length->property(AppliedKeyLength).toString())
                CBox11aWepKeyLenChange(length);
        });
    }
    // The user's changes of a box: picking an item, or typing into it.
    const auto onUserChange = [this](const char* name, auto handler) {
        QComboBox* box = Control<QComboBox>(QString::fromLatin1(name));
        connect(box, &QComboBox::textActivated, this, handler);
        connect(box->lineEdit(), &QLineEdit::textEdited, this, handler);
    };
    onUserChange("CBox11aAuthType", [this] { CBox11aAuthTypeChange(); });
    onUserChange("CBox11bAuthType", [this] { CBox11bAuthTypeChange(); });
    onUserChange("CBox11aWepStatus", [this] { CBox11aWepStatusChange(); });
    onUserChange("CBox11bWepStatus", [this] { CBox11bWepStatusChange(); });
    onUserChange("CBoxCountry", [this] { RefreshChannelLists(); });
    onUserChange("CBox11aTurboMode", [this] { RefreshChannelLists(); });
    connect(Control<QLineEdit>(QStringLiteral("EdRegDomain")), &QLineEdit::textEdited, this,
            &TConfig_KTR_4200::RefreshChannelLists);

    createGroups();
    CheckGroups().CheckAll();
    // The address and netmask are not selected by default: one file may go to many devices.
    auto* chkIP = Control<QCheckBox>(QStringLiteral("ChkIP"));
    if (chkIP->isEnabled()) {
        chkIP->setChecked(false);
        CheckGroups().GroupCheckBoxClick(chkIP);
    }
    RefreshChannelLists();
}

void TConfig_KTR_4200::bindSettings()
{
    for (const char* name : {"Ed11aBconInterval", "Ed11bBconInterval"}) {
        QLineEdit* edit = Control<QLineEdit>(QString::fromLatin1(name));
        SetExitHandler(edit, [this, edit] { return EdBconIntervalExit(edit); });
    }
    for (const char* name : {"Ed11aDtim", "Ed11bDtim"}) {
        QLineEdit* edit = Control<QLineEdit>(QString::fromLatin1(name));
        SetExitHandler(edit, [this, edit] { return EdDtimExit(edit); });
    }
    for (const char* name : {"Ed11aFragThreshold", "Ed11aRtsThreshold", "Ed11bFragThreshold",
                             "Ed11bRtsThreshold"}) {
        QLineEdit* edit = Control<QLineEdit>(QString::fromLatin1(name));
        SetExitHandler(edit, [this, edit] { return EdThresholdExit(edit); });
    }

    // In file order: the binding order is the order of the written file.
    for (const Ktr4200Setting& setting : Ktr4200Settings()) {
        QWidget* control = findChild<QWidget*>(setting.control);
        if (!control)
            throw VxError(kUnknownControlClassCode, QString::fromLatin1(kUnknownControlClassText));
        const QString key = setting.key + QLatin1Char('=');
        if (auto* box = qobject_cast<QComboBox*>(control)) {
            BindComboBox(key, box);
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            const QString& c = setting.control;
            if (c.startsWith(QLatin1String("Ed11aWepKey")))
                BindHexEdit(key, edit, u' ', 0); // no input until a length is chosen
            else if (c.startsWith(QLatin1String("Ed11bWep64")))
                BindHexEdit(key, edit, u' ', 5);
            else if (c.startsWith(QLatin1String("Ed11bWep128")))
                BindHexEdit(key, edit, u' ', 13);
            else if (c.startsWith(QLatin1String("Ed11bWep256")))
                BindHexEdit(key, edit, u' ', 29);
            else if (c == QLatin1String("EdDeviceName"))
                BindEdit(key, edit, 40);
            else if (c == QLatin1String("EdRegDomain"))
                BindEdit(key, edit, 5);
            else if (c.endsWith(QLatin1String("SSid")))
                BindEdit(key, edit, 33);
            else if (c.endsWith(QLatin1String("Dtim")))
                BindEdit(key, edit, 3);
            else
                BindEdit(key, edit, 4); // beacon interval and thresholds
        } else if (auto* panel = qobject_cast<QFrame*>(control)) {
            BindIPPanel(key, panel);
        }
    }
}

void TConfig_KTR_4200::createGroups()
{
    VxChkGroupsList& g = CheckGroups();
    const auto chk = [this](const QString& name) { return Control<QCheckBox>(name); };
    const auto w = [this](const QString& name) { return findChild<QWidget*>(name); };
    g.AddGroup(chk("ChkDeviceName"), {w("EdDeviceName")});
    g.AddGroup(chk("ChkIP"), {w("PanelIP"), w("PanelMask")});
    g.AddGroup(chk("ChkGateway"), {w("PanelGateway")});
    g.AddGroup(chk("ChkDhcpCliStatus"), {w("CBoxDhcpCliStatus")});
    g.AddGroup(chk("Chk11a11bConnection"), {w("CBox11a11bConnection")});
    g.AddGroup(chk("ChkTelnet"), {w("CBoxTelnetOption")});
    g.AddGroup(chk("ChkTelnetTimeout"), {w("CBoxTelnetTimeout")});
    for (const QString& b : {QStringLiteral("11a"), QStringLiteral("11b")}) {
        g.AddGroup(chk("Chk" + b + "SSid"), {w("Ed" + b + "SSid")});
        g.AddGroup(chk("Chk" + b + "Channel"), {w("CBox" + b + "Channel")});
        if (b == QLatin1String("11a"))
            g.AddGroup(chk("Chk11aTurboMode"), {w("CBox11aTurboMode")});
        g.AddGroup(chk("Chk" + b + "Rate"), {w("CBox" + b + "Rate")});
        g.AddGroup(chk("Chk" + b + "TxPower"), {w("CBox" + b + "TxPower")});
        g.AddGroup(chk("Chk" + b + "BconInterval"), {w("Ed" + b + "BconInterval")});
        g.AddGroup(chk("Chk" + b + "Dtim"), {w("Ed" + b + "Dtim")});
        g.AddGroup(chk("Chk" + b + "FragThreshold"), {w("Ed" + b + "FragThreshold")});
        g.AddGroup(chk("Chk" + b + "RtsThreshold"), {w("Ed" + b + "RtsThreshold")});
        g.AddGroup(chk("Chk" + b + "Unipkt_sta2sta"), {w("CBox" + b + "Unipkt_sta2sta")});
        g.AddGroup(chk("Chk" + b + "Broadpkt_ap2sta"), {w("CBox" + b + "Broadpkt_ap2sta")});
        g.AddGroup(chk("Chk" + b + "AclMode"), {w("CBox" + b + "AclMode")});
        g.AddGroup(chk("Chk" + b + "AclMac"), {w("Ed" + b + "AclMac"), w("LB" + b + "AclMac"),
                                                w("Btn" + b + "AclMacAdd"),
                                                w("Btn" + b + "AclMacDel")});
        g.AddGroup(chk("Chk" + b + "AuthType"),
                   {w("CBox" + b + "AuthType"), w("CBox" + b + "WepStatus")});
        g.AddGroup(chk("Chk" + b + "ActKeyIdx"), {w("CBox" + b + "KeyIdx")});
        if (b == QLatin1String("11a")) {
            for (int k = 1; k <= 4; ++k)
                g.AddGroup(chk(QStringLiteral("Chk11aWepKey%1").arg(k)),
                           {w(QStringLiteral("CBox11aWepKeyLen%1").arg(k)),
                            w(QStringLiteral("Ed11aWepKey%1").arg(k))});
        } else {
            for (const int bits : {64, 128, 256}) {
                const auto key = [&](int k) {
                    return w(QStringLiteral("Ed11bWep%1Key%2").arg(bits).arg(k));
                };
                g.AddGroup(chk(QStringLiteral("Chk11bWep%1").arg(bits)),
                           {key(1), key(2), key(3), key(4)});
            }
        }
    }
}

QList<QLineEdit*> TConfig_KTR_4200::KeyEdits(const QString& band) const
{
    QList<QLineEdit*> keys;
    for (int k = 1; k <= 4; ++k) {
        if (band == QLatin1String("11a"))
            keys.append(Control<QLineEdit>(QStringLiteral("Ed11aWepKey%1").arg(k)));
        else
            for (const int bits : {64, 128, 256})
                keys.append(Control<QLineEdit>(QStringLiteral("Ed11bWep%1Key%2").arg(bits).arg(k)));
    }
    return keys;
}

void TConfig_KTR_4200::ShowKeys(const QString& band, bool shown)
{
    for (QLineEdit* key : KeyEdits(band))
        key->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
}

void TConfig_KTR_4200::SetFirmwareRegion(FirmwareRegion* region)
{
    m_region = region ? region : &ProcessFirmwareRegion();
}

// ---- modes

void TConfig_KTR_4200::setModeButtons(const char* caption, bool write, bool read, bool open,
                                      bool save)
{
    // A new mode is a new use of the window: what an earlier read left is no longer what the
    // selected device holds.
    m_modeCaption = QString::fromLatin1(caption);
    m_deviceLines.reset();
    m_readFrom.reset();
    updateTitle();
    ConfigButtons->BtnWriteConfig->setVisible(write);
    ConfigButtons->BtnReadConfig->setVisible(read);
    ConfigButtons->BtnOpenConfig->setVisible(open);
    ConfigButtons->BtnSaveConfig->setVisible(save);
}

void TConfig_KTR_4200::enableIdentity()
{
    Control<QCheckBox>(QStringLiteral("ChkDeviceName"))->setEnabled(true);
    Control<QCheckBox>(QStringLiteral("ChkIP"))->setEnabled(true);
    Control<QLabel>(QStringLiteral("LabelIPMask"))->setEnabled(true);
}

void TConfig_KTR_4200::updateTitle()
{
    if (!m_readFrom) {
        setWindowTitle(m_modeCaption);
        return;
    }
    setWindowTitle(m_modeCaption + QStringLiteral(" \u2014 ") +
                   DeviceIdentityText(m_readFrom->name, m_readFrom->mac, m_readFrom->address));
}

void TConfig_KTR_4200::SetSingleDeviceMode()
{
    setModeButtons(SingleDeviceCaption, true, true, true, true);
    enableIdentity();
}

void TConfig_KTR_4200::SetMultipleDevicesMode()
{
    setModeButtons(MultipleDevicesCaption, true, false, true, true);
    // One file for several devices: never their name or address.
    for (const char* name : {"ChkDeviceName", "ChkIP"}) {
        auto* box = Control<QCheckBox>(QString::fromLatin1(name));
        box->setEnabled(true);
        box->setChecked(false);
        CheckGroups().GroupCheckBoxClick(box);
        box->setEnabled(false);
    }
    Control<QLabel>(QStringLiteral("LabelIPMask"))->setEnabled(false);
}

void TConfig_KTR_4200::SetReadMode()
{
    setModeButtons(ReadModeCaption, false, true, false, true);
    enableIdentity();
}

void TConfig_KTR_4200::SetEditMode()
{
    setModeButtons(EditModeCaption, false, false, true, true);
    enableIdentity();
}

void TConfig_KTR_4200::accept()
{
    // A selected address and netmask are sent to the device as they stand (and move a single
    // device there first): a pair no device can use is refused while it can still be mended.
    if (Control<QFrame>(QStringLiteral("PanelIP"))->isEnabledTo(this)) {
        const QString address = StoredValue(QStringLiteral("ip"));
        const QString mask = StoredValue(QStringLiteral("mask"));
        if (!address.isEmpty() && !mask.isEmpty()) {
            if (const QString problem = CheckAddressAndNetmask(address, mask); !problem.isEmpty()) {
                VxMessageBox(this, problem, QStringLiteral("Error"), QMessageBox::Ok,
                             QMessageBox::Critical);
                return;
            }
        }
    }
    if (!confirmWrite())
        return;
    TConfig_Form::accept();
}

bool TConfig_KTR_4200::confirmWrite()
{
    ConfigHost* host = Host();
    const QList<ConfigDevice> devices = host ? host->SelectedDevices() : QList<ConfigDevice>();
    // Without devices Apply writes nothing, so there is nothing to confirm.
    if (devices.isEmpty())
        return true;
    const QList<ConfigDifference> changes =
        ChangesOfWrite(m_deviceLines.value_or(QStringList()), LinesToWrite(QString()));
    const QString readFrom =
        m_readFrom ? DeviceIdentityText(m_readFrom->name, m_readFrom->mac, m_readFrom->address)
                   : QString();
    const char* question = !m_deviceLines      ? ApplyUnreadText
                           : changes.isEmpty() ? ApplyNoChangesText
                                               : ApplyChangesText;
    const QString text = QString::fromLatin1(question)
                             .replace(QLatin1String("%1"), readFrom)
                             .replace(QLatin1String("%2"), QString::number(devices.size()));
    QStringList details;
    if (!changes.isEmpty()) {
        details.append(QString::fromLatin1(ApplyChangesHeading));
        for (ConfigDifference d : changes) {
            // A key stays a secret while its page hides the keys.
            const bool key = d.name.contains(QLatin1String("_wep"), Qt::CaseInsensitive) &&
                             d.name.contains(QLatin1String("key"), Qt::CaseInsensitive);
            const QString band = d.name.mid(3, 3).toLower(); // "80211a..." -> "11a"
            auto* shown = Control<QCheckBox>(QStringLiteral("ChkShow") + band + "Keys");
            if (key && !(shown && shown->isChecked())) {
                for (QString* value : {&d.a, &d.b})
                    if (!value->isEmpty())
                        *value = QString::fromLatin1(HiddenKeyText);
            }
            details.append(QStringLiteral("  ") + EscapeUntrusted(DescribeConfigDifference(d)));
        }
        details.append(QString());
    }
    details.append(QString::fromLatin1(ApplyDevicesHeading));
    for (const ConfigDevice& device : devices)
        details.append(QStringLiteral("  ") +
                       DeviceIdentityText(device.name, device.mac, device.address));
    return VxMessageBoxDetailed(this, text, details.join(QLatin1Char('\n')),
                                QString::fromLatin1(ApplyConfirmCaption),
                                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Question,
                                QMessageBox::Cancel) == QMessageBox::Ok;
}

// ---- reading a device

void TConfig_KTR_4200::RefreshFromDevice()
{
    ConfigHost* host = Host();
    // Without a selected row there is nothing to read; the window keeps what it shows.
    if (!host || !host->SelectedDeviceFirmware())
        return;

    PageConfig->setEnabled(false);
    ConfigButtons->BtnReadConfig->setEnabled(false);
    ConfigButtons->BtnWriteConfig->setEnabled(false);
    struct Reenable
    {
        TConfig_KTR_4200* w;
        ~Reenable()
        {
            w->PageConfig->setEnabled(true);
            w->ConfigButtons->BtnReadConfig->setEnabled(true);
            w->ConfigButtons->BtnWriteConfig->setEnabled(true);
        }
    } reenable{this};

    // Cleared first: a read that fails leaves nothing of the previous device behind.
    LoadConfigFile(QString());
    m_deviceLines.reset();
    m_readFrom.reset();
    updateTitle();
    // The load command fills this window; what it loads is the device's configuration.
    m_readingDevice = true;
    struct EndReading
    {
        bool& reading;
        ~EndReading() { reading = false; }
    } endReading{m_readingDevice};
    host->ReadSelectedDevice(*this);
    if (m_deviceLines) {
        m_readFrom = host->SelectedDevices().value(0);
        updateTitle();
    }
}

// ---- files

int TConfig_KTR_4200::LoadConfigFile(const QString& fileName)
{
    QStringList lines;
    const bool readOk = ReadConfigLines(fileName, lines);
    if (m_readingDevice && readOk)
        m_deviceLines = lines;
    LoadConfigLines(lines);
    return readOk ? 0 : -1;
}

void TConfig_KTR_4200::LoadConfigLines(const QStringList& fileLines)
{
    QListWidget* acl11a = Control<QListWidget>(QStringLiteral("LB11aAclMac"));
    QListWidget* acl11b = Control<QListWidget>(QStringLiteral("LB11bAclMac"));
    LBoxCfgFile->clear();
    acl11a->clear();
    acl11b->clear();

    ConfigLoadObserver observer;
    observer.keyLengthChosen = [this](int keyNumber, const QString& choice) {
        QComboBox* length = Control<QComboBox>(QStringLiteral("CBox11aWepKeyLen%1").arg(keyNumber));
        setComboText(length, choice);
        CBox11aWepKeyLenChange(length);
    };
    observer.valueLoaded = [this](const QString& key, const QString&) {
        ShowBoundValue(BoundControl(key));
    };
    QStringList lines;
    ConfigFile::LoadLines(Settings(), fileLines, &lines, observer);
    LBoxCfgFile->addItems(lines);
    acl11a->addItems(Settings().acl11a.entries);
    acl11b->addItems(Settings().acl11b.entries);
    postLoadSteps();
}

QStringList TConfig_KTR_4200::LinesToWrite(const QString& modelName)
{
    RunPendingExits();
    CollectSelection();
    ConfigSettings& settings = Settings();
    const auto fromList = [this](const char* name, ConfigAclList& acl) {
        QListWidget* list = Control<QListWidget>(QString::fromLatin1(name));
        acl.entries.clear();
        for (int i = 0; i < list->count(); ++i)
            acl.entries.append(list->item(i)->text());
        acl.enabled = list->isEnabledTo(this);
    };
    fromList("LB11aAclMac", settings.acl11a);
    fromList("LB11bAclMac", settings.acl11b);
    return ConfigFile::BuildLines(settings, modelName);
}

int TConfig_KTR_4200::SaveConfigFile(const QString& modelName, const QString& fileName)
{
    const QStringList lines = LinesToWrite(modelName);
    const int result = WriteConfigLines(fileName, lines) ? 0 : -1;
    LBoxCfgFile->clear();
    LBoxCfgFile->addItems(lines);
    return result;
}

int TConfig_KTR_4200::VerifyConfigFiles(const QString& fileA, const QString& fileB)
{
    ConfigHost* host = Host();
    ConfigLogSink log;
    if (host)
        log = [host](const QString& line) { host->ConfigLog(line); };
    return ::VerifyConfigFiles(fileA, fileB, log, host && host->ConfigDeveloperMode());
}

void TConfig_KTR_4200::postLoadSteps()
{
    std::optional<QString> firmware;
    if (ConfigHost* host = Host())
        firmware = host->SelectedDeviceFirmware();
    QComboBox* country = Control<QComboBox>(QStringLiteral("CBoxCountry"));
    RegionView view{country->currentText(),
                    !Control<QWidget>(QStringLiteral("Chk11aTurboMode"))->isHidden()};
    ApplyFirmwareRegion(firmware, *m_region, view);
    if (firmware) {
        Control<QWidget>(QStringLiteral("Chk11aTurboMode"))->setVisible(view.turboShown);
        Control<QWidget>(QStringLiteral("CBox11aTurboMode"))->setVisible(view.turboShown);
        // Shown, not stored: the stored country changes when the user leaves the box.
        if (view.countryText != country->currentText())
            setComboText(country, view.countryText);
    }
    RefreshChannelLists();
}

// ---- handlers

void TConfig_KTR_4200::setComboText(QComboBox* box, const QString& text)
{
    const int index = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    box->setCurrentIndex(index);
    if (box->isEditable())
        box->setEditText(text);
}

void TConfig_KTR_4200::PageConfigChange(int index)
{
    if (PageConfig->widget(index) != TabFileView)
        return;
    LBoxCfgFile->clear();
    LBoxCfgFile->addItems(BindingList().Lines());
}

bool TConfig_KTR_4200::CheckRange(int min, int max, const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) {
        VxMessageBox(this, QString::fromLatin1(NotAnIntegerText).replace(QLatin1String("%s"), text),
                     QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return false;
    }
    if (value < min || value > max) {
        VxMessageBox(this,
                     QString::fromLatin1(AvailableValueText) + QString::number(min) +
                         QLatin1Char('~') + QString::number(max),
                     QStringLiteral("Warning"), QMessageBox::Ok, QMessageBox::Warning);
        return false;
    }
    return true;
}

bool TConfig_KTR_4200::checkedExit(QLineEdit* edit, int min, int max)
{
    // An emptied field keeps the stored value: a write still sends it.
    if (edit->text().trimmed().isEmpty())
        return true;
    if (!CheckRange(min, max, edit->text())) {
        edit->clear();
        edit->setFocus(Qt::OtherFocusReason);
        return false;
    }
    ExitControl(edit);
    return true;
}

bool TConfig_KTR_4200::EdBconIntervalExit(QLineEdit* edit)
{
    return checkedExit(edit, 20, 1000);
}

bool TConfig_KTR_4200::EdDtimExit(QLineEdit* edit)
{
    return checkedExit(edit, 1, 255);
}

bool TConfig_KTR_4200::EdThresholdExit(QLineEdit* edit)
{
    return checkedExit(edit, 256, 2346);
}

void TConfig_KTR_4200::BtnAclMacAddClick(const QString& band)
{
    const QString text = Control<QLineEdit>("Ed" + band + "AclMac")->displayText();
    QListWidget* list = Control<QListWidget>("LB" + band + "AclMac");
    if (text == EmptyAclEntry)
        return;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return;
    list->addItem(text);
    list->setCurrentRow(list->count() - 1);
}

void TConfig_KTR_4200::BtnAclMacDelClick(const QString& band)
{
    QLineEdit* edit = Control<QLineEdit>("Ed" + band + "AclMac");
    QListWidget* list = Control<QListWidget>("LB" + band + "AclMac");
    const QString text = edit->displayText();
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) {
            delete list->takeItem(i);
            edit->clear();
            return;
        }
    }
}

void TConfig_KTR_4200::LBAclMacClick(const QString& band)
{
    QListWidget* list = Control<QListWidget>("LB" + band + "AclMac");
    if (QListWidgetItem* item = list->currentItem(); item && item->isSelected())
        Control<QLineEdit>("Ed" + band + "AclMac")->setText(item->text());
}

void TConfig_KTR_4200::EdAclMacChange(const QString& band)
{
    const QString text = Control<QLineEdit>("Ed" + band + "AclMac")->displayText();
    QListWidget* list = Control<QListWidget>("LB" + band + "AclMac");
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) {
            list->setCurrentRow(i);
            return;
        }
    }
    list->setCurrentRow(-1);
}

void TConfig_KTR_4200::CBox11aWepKeyLenChange(QComboBox* box)
{
    const int tag = box->property("tag").toInt();
    if (tag < 1 || tag > 4)
        throw VxError(kWrongKeyLenMappingCode, QString::fromLatin1(kWrongKeyLenMappingText));
    QLineEdit* key = Control<QLineEdit>(QStringLiteral("Ed11aWepKey%1").arg(tag));
    const QString length = box->currentText();
    if (length == QLatin1String("64")) {
        ConstraintManager().SetupHexEdit(key, u' ', 5);
    } else if (length == QLatin1String("128")) {
        ConstraintManager().SetupHexEdit(key, u' ', 13);
    } else if (length == QLatin1String("152")) {
        ConstraintManager().SetupHexEdit(key, u' ', 16);
    } else if (length == QLatin1String("NULL")) {
        key->clear();
        key->setInputMask(NullKeyMask);
    } else {
        ConstraintManager().SetupHexEdit(key, u' ', 0);
    }
    box->setProperty(AppliedKeyLength, length);
    // A key starts from zeros after its length changes; the stored value follows at once.
    ExitControl(key);
}

void TConfig_KTR_4200::CBox11aAuthTypeChange()
{
    QComboBox* status = Control<QComboBox>(QStringLiteral("CBox11aWepStatus"));
    if (Control<QComboBox>(QStringLiteral("CBox11aAuthType"))->currentText() ==
            QLatin1String("shared") &&
        status->currentText() == QLatin1String("disable")) {
        setComboText(status, QStringLiteral("enable"));
        ExitControl(status);
    }
}

void TConfig_KTR_4200::CBox11bAuthTypeChange()
{
    QComboBox* status = Control<QComboBox>(QStringLiteral("CBox11bWepStatus"));
    if (Control<QComboBox>(QStringLiteral("CBox11bAuthType"))->currentText() ==
            QLatin1String("shared") &&
        status->currentText() == QLatin1String("disable")) {
        setComboText(status, QStringLiteral("64"));
        ExitControl(status);
    }
}

void TConfig_KTR_4200::CBox11aWepStatusChange()
{
    QComboBox* auth = Control<QComboBox>(QStringLiteral("CBox11aAuthType"));
    if (Control<QComboBox>(QStringLiteral("CBox11aWepStatus"))->currentText() ==
            QLatin1String("disable") &&
        auth->currentText() == QLatin1String("shared")) {
        setComboText(auth, QStringLiteral("open"));
        ExitControl(auth);
    }
}

void TConfig_KTR_4200::CBox11bWepStatusChange()
{
    QComboBox* auth = Control<QComboBox>(QStringLiteral("CBox11bAuthType"));
    if (Control<QComboBox>(QStringLiteral("CBox11bWepStatus"))->currentText() ==
            QLatin1String("disable") &&
        auth->currentText() == QLatin1String("shared")) {
        setComboText(auth, QStringLiteral("open"));
        ExitControl(auth);
    }
}

void TConfig_KTR_4200::RefreshChannelLists()
{
    const ChannelLists lists =
        MakeChannelLists(Control<QComboBox>(QStringLiteral("CBoxCountry"))->currentText(),
                         Control<QComboBox>(QStringLiteral("CBox11aTurboMode"))->currentText(),
                         Control<QLineEdit>(QStringLiteral("EdRegDomain"))->text());
    // New items, the same text: a channel the new plan lacks stays shown (and stored).
    const auto replace = [this](const char* name, const QStringList& items) {
        QComboBox* box = Control<QComboBox>(QString::fromLatin1(name));
        const QString text = box->currentText();
        const QSignalBlocker block(box);
        box->clear();
        box->addItems(items);
        setComboText(box, text);
    };
    replace("CBox11aChannel", lists.channels11a);
    replace("CBox11bChannel", lists.channels11b);
}
