#pragma once

#include <QDialog>

class AppCore;
class QComboBox;
class QLineEdit;
class QListWidget;
class VxEditConstraint;

// The System setting dialog: the access password, the managed module and the timing
// parameters of every batch operation, saved to [System] of system.ini.
class TSystemForm : public QDialog
{
    Q_OBJECT

public:
    TSystemForm(AppCore& core, const QString& shownModule, QWidget* owner);
    ~TSystemForm() override;

    // Fills the fields from the settings in use; called every time the dialog is shown.
    void FormShow();
    void BtnParamDefaultClick();
    // Saves and closes with OK; on an error shows it and stays open.
    void BtnParamOKClick();

    QLineEdit* Field(const char* name) const;
    QComboBox* ModuleBox() const { return m_module; }
    // The machine's interfaces to tick for discovery (NimpInterface); each item holds the
    // interface's name in Qt::UserRole.
    QListWidget* InterfaceList() const { return m_interfaces; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void save();
    void fillInterfaces();
    QStringList tickedInterfaces() const;

    AppCore& m_core;
    VxEditConstraint* m_constraints;
    QLineEdit* m_password;
    QComboBox* m_module;
    QListWidget* m_interfaces;
};
