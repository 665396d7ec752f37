#pragma once

#include "config/ConfigHost.h"
#include "config/FirmwareRegion.h"
#include "config/ui/TConfig_Form.h"

#include <QStringList>
#include <optional>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QWidget;
class TConfigButtonsFrame;

inline constexpr int kWrongKeyLenMappingCode = -2102;
inline constexpr const char* kWrongKeyLenMappingText = "Wrong mapping of CBox11aWepKeyLen!";

// Texts of the range-checked fields: a conversion error ("%s" is the text) and a range error
// followed by min + "~" + max.
inline constexpr const char* NotAnIntegerText = "'%s' is not a valid integer value";
inline constexpr const char* AvailableValueText = "Error: Available value is ";

// The window captions of the four modes.
inline constexpr const char* SingleDeviceCaption = "Device Configure";
inline constexpr const char* MultipleDevicesCaption = "Mutilple Devices Configure";
inline constexpr const char* ReadModeCaption = "Read Configurations";
inline constexpr const char* EditModeCaption = "Edit Configurations";

inline constexpr const char* Ktr4200FormName = "Config_KTR_4200";

// The question Apply asks before anything is written ("%1" the device read, "%2" how many
// devices are written), and the headings of its details.
inline constexpr const char* ApplyConfirmCaption = "Apply configuration";
inline constexpr const char* ApplyChangesText =
    "These settings differ from the configuration read from %1. Write them to %2 device(s)?";
inline constexpr const char* ApplyNoChangesText =
    "No setting differs from the configuration read from %1. Write anyway to %2 device(s)?";
inline constexpr const char* ApplyUnreadText =
    "No configuration was read from a device to compare with. Write these settings to %2 "
    "device(s)?";
inline constexpr const char* ApplyChangesHeading = "Settings (before -> after):";
inline constexpr const char* ApplyDevicesHeading = "Devices written:";
// A key's value in the question while the keys of its band are hidden.
inline constexpr const char* HiddenKeyText = "(hidden)";

// The configuration window of the KTR-4200: every setting the console can send on the
// General, 802.11a and 802.11b pages, each with the check box that selects it for writing;
// the configuration file as the View File page; the four modes in which the main window
// uses it; and reading the selected device's configuration into it.
class TConfig_KTR_4200 : public TConfig_Form
{
    Q_OBJECT

public:
    explicit TConfig_KTR_4200(ConfigHost* host, QWidget* parent = nullptr);
    ~TConfig_KTR_4200() override;

    void SetSingleDeviceMode() override;
    void SetMultipleDevicesMode() override;
    void SetReadMode() override;
    void SetEditMode() override;
    // Clears the window, reads the first selected row's configuration through the command
    // queue (event loop, progress display) and loads it. The row's Status tells the outcome.
    void RefreshFromDevice() override;

    int LoadConfigFile(const QString& fileName) override;
    void LoadConfigLines(const QStringList& lines) override;
    int SaveConfigFile(const QString& modelName, const QString& fileName) override;
    using TConfig_Form::SaveConfigFile;
    int VerifyConfigFiles(const QString& fileA, const QString& fileB) override;

    // Apply: refuses (with a message, the window staying open) a selected address and
    // netmask that no device can use; then asks, listing the settings the write changes
    // against the configuration read from the device and the devices written, with Cancel
    // offered first. Cancel keeps the window open and writes nothing.
    void accept() override;

    // The lines the selected settings make (what Apply writes to each device), with the
    // selection taken from the window as a write takes it.
    QStringList LinesToWrite(const QString& modelName);
    // The configuration last read from the device (its lines as it sent them); none before a
    // read, after a failed one and after the mode changed.
    const std::optional<QStringList>& DeviceLines() const { return m_deviceLines; }

    // Tests give the window a firmware region of its own instead of the process-wide one.
    void SetFirmwareRegion(FirmwareRegion* region);

    // Event handlers.
    void PageConfigChange(int index);
    bool EdBconIntervalExit(QLineEdit* edit);
    bool EdDtimExit(QLineEdit* edit);
    bool EdThresholdExit(QLineEdit* edit);
    void BtnAclMacAddClick(const QString& band);
    void BtnAclMacDelClick(const QString& band);
    void LBAclMacClick(const QString& band);
    void EdAclMacChange(const QString& band);
    void CBox11aWepKeyLenChange(QComboBox* box);
    void CBox11aAuthTypeChange();
    void CBox11bAuthTypeChange();
    void CBox11aWepStatusChange();
    void CBox11bWepStatusChange();
    void RefreshChannelLists();
    // The WEP key fields of a band ("11a" or "11b"); they show dots until the band's "Show
    // keys" box (ChkShow11aKeys, ChkShow11bKeys) is ticked.
    QList<QLineEdit*> KeyEdits(const QString& band) const;
    void ShowKeys(const QString& band, bool shown);

    // The named control of the window (its objectName), none when there is no such control.
    template <class T>
    T* Control(const QString& name) const
    {
        return findChild<T*>(name);
    }

    QTabWidget* PageConfig = nullptr;
    QWidget* TabComm = nullptr;
    QWidget* Tab11a = nullptr;
    QWidget* Tab11b = nullptr;
    QWidget* TabFileView = nullptr;
    QListWidget* LBoxCfgFile = nullptr;
    TConfigButtonsFrame* ConfigButtons = nullptr;

private:
    void buildGeneralPage();
    void buildBandPage(QWidget* page, const QString& band);
    void formCreate();
    void bindSettings();
    void createGroups();
    void postLoadSteps();
    // A range-checked field's exit: empty keeps the stored value, a refused value clears
    // the field and gives it the focus back.
    bool checkedExit(QLineEdit* edit, int min, int max);
    bool CheckRange(int min, int max, const QString& text);
    void setComboText(QComboBox* box, const QString& text);
    void setModeButtons(const char* caption, bool write, bool read, bool open, bool save);
    void enableIdentity();
    // The mode's caption, followed by the device the window was read from.
    void updateTitle();
    bool confirmWrite();

    FirmwareRegion* m_region;
    QString m_modeCaption;
    std::optional<QStringList> m_deviceLines;
    std::optional<ConfigDevice> m_readFrom;
    bool m_readingDevice = false;
};
