#pragma once

#include "config/ChannelPlans.h"
#include "config/ConfigBindingList.h"
#include "config/ConfigTarget.h"
#include "config/ui/VxChkGroupsList.h"
#include "config/ui/VxEditConstraintExt.h"

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <functional>

class ConfigHost;
class QComboBox;
class QFrame;
class QLineEdit;

inline constexpr int kUnknownControlClassCode = -2101;
inline constexpr const char* kUnknownControlClassText = "Unknown Control class!";

// The base of the configuration windows. It pairs every setting key with the control that
// shows it and the value last taken from that control (the stored value), moves values
// between the two, keeps the check-box groups that select settings for writing, and lists
// the operations through which the main window drives a model's window.
//
// Stored values change only when the user leaves a control (ExitControl) and when a file is
// loaded; changing a control from code leaves the stored value alone until ExitControl runs.
class TConfig_Form : public QDialog, public ConfigTarget
{
    Q_OBJECT

public:
    // core gives the device list, the command queue, the settings and the data folder; it may
    // be none for a window that only works on files.
    explicit TConfig_Form(ConfigHost* host, QWidget* parent = nullptr);
    ~TConfig_Form() override;

    // The first window whose name is exactly name (letter case counts); none when there is no
    // such window.
    static TConfig_Form* FindConfigForm(const QString& name);

    virtual void SetSingleDeviceMode() = 0;
    virtual void SetMultipleDevicesMode() = 0;
    virtual void SetReadMode() = 0;
    virtual void SetEditMode() = 0;
    // Reads the selected device's configuration into the window (runs the event loop).
    virtual void RefreshFromDevice() = 0;
    // ConfigTarget: LoadConfigFile, SaveConfigFile (model name or none), VerifyConfigFiles.
    // LoadConfigFile from lines already read; every setting gets a value, as from a file.
    virtual void LoadConfigLines(const QStringList& lines) = 0;
    // Open: loads a file the user chose once ReadUserConfigFile has accepted it. A file it
    // refuses is named in an "Error" box and leaves the window as it was. False then.
    bool OpenConfigFile(const QString& fileName);

    // Stores the value the control shows; raises kUnknownControlClassCode for a control
    // class that cannot be bound. A control that is not bound is ignored.
    void ExitControl(QWidget* sender);
    // Puts the stored value of the control's setting on screen.
    void ShowBoundValue(QWidget* control);
    // Runs the exit handlers of controls the user has just left; false when one refused its
    // value. A button that needs the values just typed calls it first.
    bool RunPendingExits();

    ConfigHost* Host() const { return m_host; }
    VxChkGroupsList& CheckGroups() { return *m_checkGroups; }
    VxEditConstraintExt& ConstraintManager() { return *m_constraintManager; }
    const ConfigBindingList& BindingList() const { return m_settings.bindings; }
    QString StoredValue(const QString& key) const { return m_settings.bindings.Value(key); }
    QWidget* BoundControl(const QString& key) const;
    const ChannelPlanTable* ChannelTable() const { return m_channelTable; }

    // The data folder's "Config": where the Open and Save dialogs start.
    QString ConfigFolder() const;
    QString DataFolder() const;

    // Exit, Esc and the window's close button alike: the commands still queued are dropped
    // and the window closes with cancel.
    void reject() override;

    // How the window is shown modally; tests replace it.
    std::function<int(QDialog*)> execModal;
    int ShowModal();

protected:
    void BindEdit(const QString& key, QLineEdit* edit, int maxLength);
    void BindHexEdit(const QString& key, QLineEdit* edit, QChar separator, int byteCount);
    void BindComboBox(const QString& key, QComboBox* box);
    void BindIPPanel(const QString& key, QFrame* panel);
    // A control whose own exit handler runs instead of ExitControl (and calls it itself when
    // it accepts the value); the handler returns false when it refused the value.
    void SetExitHandler(QWidget* control, std::function<bool()> handler);

    // Copies whether each bound control is enabled into the binding list, so that a write
    // takes only the selected settings.
    void CollectSelection();
    ConfigSettings& Settings() { return m_settings; }

    bool eventFilter(QObject* watched, QEvent* event) override;

    const ChannelPlanTable* m_channelTable = nullptr;

private:
    qsizetype indexOfControl(const QWidget* control) const;
    void bind(const QString& key, QWidget* control);
    void watchFocus(QWidget* watched, QWidget* control);
    void queueExit(QWidget* control);

    ConfigHost* m_host;
    VxEditConstraintExt* m_constraintManager;
    VxChkGroupsList* m_checkGroups;
    ConfigSettings m_settings;
    QList<QPointer<QWidget>> m_controls; // parallel to m_settings.bindings
    QHash<QWidget*, std::function<bool()>> m_exitHandlers;
    QHash<QObject*, QWidget*> m_focusOwners; // focus-taking widget -> bound control
    QList<QPointer<QWidget>> m_pendingExits;
    bool m_runningExits = false;
};
