#include "app/ui/TSystemForm.h"

#include "app/AppCore.h"
#include "common/VxCipher.h"
#include "common/VxError.h"
#include "common/VxIni.h"
#include "common/VxNetInterface.h"
#include "common/ui/ApplyLayout.h"
#include "common/ui/VxEditConstraint.h"
#include "common/ui/VxMessageBox.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QStyle>

namespace {

const QString SystemCaption = QStringLiteral("System setting");
const QString LayoutSection = QStringLiteral("System Form");
const QString InterfacesLabel = QStringLiteral("Discovery Interfaces");
const QString InterfacesHint =
    QStringLiteral("Interfaces to discover devices on; none ticked: every interface that is up");
const QString InterfaceDown = QStringLiteral("(down)");
const QString InterfaceWithoutAddress = QStringLiteral("(no IPv4 address)");
const QString InterfaceNotFound = QStringLiteral("(not found)");
const QString InterfaceLoopback = QStringLiteral("(loopback)");
constexpr int InterfaceRowsShown = 4;

// One time or count field, in the dialog's top-to-bottom order.
struct TimeField
{
    const char* name;
    const char* label;
    const char* hint;
    const char* constraint;
    int defaultValue;
    const char* key;
    int AppSettings::*value; // centiseconds, or a count (DiscoveryRetry, ParallelTransfers)
};

const TimeField TimeFields[] = {
    {"EdNimpSetTimeout", "Setting Timeout (s)", "Nimp set timeout ( IP setting timeout... )", "%i{n1x10}", 5,
     "NimpSetTimeout", &AppSettings::nimpSetTimeout},
    {"EdRebootTime", "Reboot Time (s)", "Device reboot time", "%i{n5x180}", 20, "RebootTime", &AppSettings::rebootTime},
    {"EdConfigUploadTime", "Configuration Upload Time (s)", "Transmission time for reading configuration", "%i{n5x300}",
     30, "ConfigUploadTime", &AppSettings::configUploadTime},
    {"EdConfigDownloadTime", "Configuration Download Time (s)", "Transmisson time for setting configuration",
     "%i{n5x300}", 30, "ConfigDownloadTime", &AppSettings::configDownloadTime},
    {"EdConfigFlashUpdateTime", "Configuration Flash Update Time (s)", "Update time for setting configuration",
     "%i{n5x300}", 60, "ConfigFlashUpdateTime", &AppSettings::configFlashUpdateTime},
    {"EdFactoryResetTime", "Factory Reset Time (s)", "Device factory reset time", "%i{n5x300}", 30, "FactoryResetTime",
     &AppSettings::factoryResetTime},
    {"EdFWDownloadTime", "F/W Download Time (s)", "Transmission time for firmware upgrade", "%i{n5x300}", 60,
     "FWDownloadTime", &AppSettings::fwDownloadTime},
    {"EdFWFlashUpdateTime", "F/W Flash Update Time (s)", "Update time for firmware upgrade", "%i{n5x300}", 60,
     "FWFlashUpdateTime", &AppSettings::fwFlashUpdateTime},
    {"EdTimingTolerance", "Timing Tolerance (s) ", "Nodewarden internal timing tolerance", "%i{n1x10}", 5,
     "TimingTolerance", &AppSettings::timingTolerance},
    {"EdDiscoveryTimeout", "Discovery Timeout (s) ", "Nodewarden internal timing tolerance", "%i{n3x30}", 5,
     "DiscoveryTimeout", &AppSettings::discoveryTimeout},
    {"EdDiscoveryRetry", "Discovery Packets Number", "Nodewarden internal timing tolerance", "%i{n1x3}", 1,
     "DiscoveryRetry", &AppSettings::discoveryRetry},
    {"EdParallelTransfers", "Parallel Transfers", "Devices that transfer files at the same time", "%i{n1x256}", 256,
     "ParallelTransfers", &AppSettings::parallelTransfers},
};
constexpr int DiscoveryRetryIndex = 10;
constexpr int ParallelTransfersIndex = 11;

// The fields that hold a count rather than seconds.
bool isCount(size_t index)
{
    return int(index) == DiscoveryRetryIndex || int(index) == ParallelTransfersIndex;
}
constexpr int FirstDiscoveryIndex = 9;

QString general(double value)
{
    return QString::asprintf("%.15g", value);
}

// The field's text as a whole number, the way the settings are stored.
int integerOf(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        throw VxError(0, QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

} // namespace

TSystemForm::TSystemForm(AppCore& core, const QString& shownModule, QWidget* owner) : QDialog(owner), m_core(core)
{
    setObjectName(QStringLiteral("SystemForm"));
    setWindowTitle(SystemCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto* grid = new QGridLayout;
    int row = 0;
    const auto addRow = [&](const char* labelText, QWidget* field, const char* labelName) {
        auto* label = new QLabel(QString::fromLatin1(labelText), this);
        label->setObjectName(QString::fromLatin1(labelName));
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };

    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("EdNimpPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setToolTip(QStringLiteral("Password to access devices"));
    addRow("Access Password", m_password, "Label1");

    m_module = new QComboBox(this);
    m_module->setObjectName(QStringLiteral("CBoxModule"));
    m_module->setEditable(true);
    m_module->setToolTip(QStringLiteral("Module type to be managed "));
    addRow("Module", m_module, "Label2");

    QList<QLineEdit*> fields;
    for (size_t i = 0; i < std::size(TimeFields); ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(TimeFields[i].name));
        edit->setToolTip(QString::fromLatin1(TimeFields[i].hint));
        edit->setAlignment(Qt::AlignRight);
        addRow(TimeFields[i].label, edit, QByteArray("Label" + QByteArray::number(int(i) + 3)).constData());
        fields.append(edit);
    }

    m_interfaces = new QListWidget(this);
    m_interfaces->setObjectName(QStringLiteral("LBNimpInterface"));
    m_interfaces->setToolTip(InterfacesHint);
    m_interfaces->setSelectionMode(QAbstractItemView::NoSelection);
    {
        auto* label = new QLabel(InterfacesLabel, this);
        label->setObjectName(QStringLiteral("Label14"));
        label->setBuddy(m_interfaces);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(label, row, 0);
        grid->addWidget(m_interfaces, row, 1);
        ++row;
    }

    auto* defaults = new QPushButton(QStringLiteral("Default"), this);
    defaults->setObjectName(QStringLiteral("BtnParamDefault"));
    defaults->setToolTip(QStringLiteral("Set parameters to default values"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BtnParamOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("BtnParamCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(defaults);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Tab order: the password, the operation times, the buttons, then the module and the
    // discovery fields.
    QWidget* previous = m_password;
    for (int i = 0; i < FirstDiscoveryIndex; ++i) {
        setTabOrder(previous, fields[i]);
        previous = fields[i];
    }
    for (QWidget* w :
         {static_cast<QWidget*>(defaults), static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel),
          static_cast<QWidget*>(m_module), static_cast<QWidget*>(fields[FirstDiscoveryIndex]),
          static_cast<QWidget*>(fields[DiscoveryRetryIndex]),
          static_cast<QWidget*>(fields[ParallelTransfersIndex]), static_cast<QWidget*>(m_interfaces)}) {
        setTabOrder(previous, w);
        previous = w;
    }

    connect(defaults, &QPushButton::clicked, this, &TSystemForm::BtnParamDefaultClick);
    connect(ok, &QPushButton::clicked, this, &TSystemForm::BtnParamOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // Nothing typed here takes effect before OK: Cancel leaves the settings in use as they
    // were, the access password included (a password typed by mistake would otherwise fail
    // the next operation on every device).

    // The module list comes only from the saved layout ("CBoxModule.Captions").
    ApplyLayout(this, m_core.SettingsPath(), LayoutSection, QDir(m_core.DataFolder()).filePath(QStringLiteral("bmp")));
    m_module->setEditText(shownModule);

    m_constraints = new VxEditConstraint(this, true);
    for (size_t i = 0; i < std::size(TimeFields); ++i)
        m_constraints->Add(QString::fromLatin1(TimeFields[i].constraint), fields[int(i)]);
}

TSystemForm::~TSystemForm() = default;

QLineEdit* TSystemForm::Field(const char* name) const
{
    return findChild<QLineEdit*>(QString::fromLatin1(name));
}

void TSystemForm::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TSystemForm::FormShow()
{
    const AppSettings& s = m_core.Settings();
    for (size_t i = 0; i < std::size(TimeFields); ++i) {
        const int value = s.*(TimeFields[i].value);
        Field(TimeFields[i].name)->setText(isCount(i) ? QString::number(value) : general(value / 100.0));
    }
    m_password->setText(s.accessPassword);
    // What was typed and cancelled last time is not offered again.
    m_module->setEditText(s.module);
    fillInterfaces();
}

void TSystemForm::fillInterfaces()
{
    // The machine's interfaces as they are now, ticked as the settings name them. A named one
    // that is missing (an adapter unplugged) stays in the list, ticked, so that OK does not
    // quietly drop it.
    m_interfaces->clear();
    const QStringList chosen = m_core.Settings().nimpInterfaces;
    QStringList listed;
    const auto add = [this, &chosen, &listed](const QString& name, const QString& detail) {
        auto* item = new QListWidgetItem(name + QStringLiteral("  ") + detail, m_interfaces);
        item->setData(Qt::UserRole, name);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(chosen.contains(name) ? Qt::Checked : Qt::Unchecked);
        listed.append(name);
    };
    // Every interface of the machine, so that the list shows what there is to choose from
    // (the loopback one serves a fleet on this machine).
    for (const VxLocalInterface& l : LocalInterfaces()) {
        QStringList addresses;
        for (const QNetworkAddressEntry& entry : l.ipv4)
            addresses.append(entry.ip().toString() + QLatin1Char('/') +
                             QString::number(entry.prefixLength()));
        QString detail =
            addresses.isEmpty() ? InterfaceWithoutAddress : addresses.join(QStringLiteral(", "));
        if (l.loopback)
            detail += QLatin1Char(' ') + InterfaceLoopback;
        if (!l.up)
            detail += QLatin1Char(' ') + InterfaceDown;
        add(l.name, detail);
    }
    for (const QString& name : chosen)
        if (!listed.contains(name))
            add(name, InterfaceNotFound);
    // Tall enough for the rows it has (up to a few, then it scrolls) and wide enough for the
    // longest; an empty list still shows a row, not a sliver.
    const int rows = std::clamp(m_interfaces->count(), 1, InterfaceRowsShown);
    const int rowHeight =
        std::max(m_interfaces->sizeHintForRow(0), m_interfaces->fontMetrics().height() + 4);
    m_interfaces->setFixedHeight(rowHeight * rows + 2 * m_interfaces->frameWidth());
    const int scrollBar = m_interfaces->count() > InterfaceRowsShown
                              ? m_interfaces->style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                              : 0;
    m_interfaces->setMinimumWidth(std::max(0, m_interfaces->sizeHintForColumn(0)) + scrollBar +
                                  2 * m_interfaces->frameWidth());
}

QStringList TSystemForm::tickedInterfaces() const
{
    QStringList names;
    for (int i = 0; i < m_interfaces->count(); ++i)
        if (m_interfaces->item(i)->checkState() == Qt::Checked)
            names.append(m_interfaces->item(i)->data(Qt::UserRole).toString());
    return names;
}

void TSystemForm::BtnParamDefaultClick()
{
    for (const TimeField& f : TimeFields)
        Field(f.name)->setText(QString::number(f.defaultValue));
}

void TSystemForm::BtnParamOKClick()
{
    if (!m_constraints->RunPendingExits())
        return;
    try {
        save();
    } catch (const VxError& e) {
        VxMessageBox(this, e.message(), QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return;
    }
    accept();
}

void TSystemForm::save()
{
    // Every field is read before the first key is written: a field that is not a number must
    // not leave the file half saved.
    int values[std::size(TimeFields)];
    for (size_t i = 0; i < std::size(TimeFields); ++i)
        values[i] = integerOf(Field(TimeFields[i].name)->text());

    VxIni ini(m_core.SettingsPath());
    const QString section = QString::fromLatin1(SettingsSection);
    const auto write = [&](size_t i) {
        ini.WriteString(section, QString::fromLatin1(TimeFields[i].key), general(double(values[i])));
    };
    for (size_t i = 0; i < 5; ++i)
        write(i);
    ini.WriteString(section, QStringLiteral("NimpWirelessAP"), EncryptText(m_password->text()));
    for (size_t i = 5; i < std::size(TimeFields); ++i)
        write(i);
    const QString module = m_module->currentText();
    if (!module.isEmpty())
        ini.WriteString(section, QStringLiteral("Module"), module);
    // Written only when the choice changed: a system.ini without the key keeps having none.
    const QStringList ticked = tickedInterfaces();
    const QStringList current = m_core.Settings().nimpInterfaces;
    if (QSet<QString>(ticked.cbegin(), ticked.cend()) !=
        QSet<QString>(current.cbegin(), current.cend()))
        ini.WriteString(section, QStringLiteral("NimpInterface"), ticked.join(QLatin1Char(',')));
    m_core.LoadSettings();
}
