#pragma once

#include <QFrame>
#include <QString>
#include <functional>

class QFileDialog;
class QPushButton;
class TConfig_Form;

// The button row at the bottom of a configuration window: tick or untick every setting,
// read the device again, apply, open and save configuration files, leave. It knows its
// window only as a TConfig_Form. The Open and Save dialogs share their folder and file:
// after a file was opened, Save proposes it, and the other way round.
class TConfigButtonsFrame : public QFrame
{
    Q_OBJECT

public:
    explicit TConfigButtonsFrame(TConfig_Form* owner);

    void BtnSelectAllClick();
    void BtnUnSelectAllClick();
    void BtnReadConfigClick();
    void BtnWriteConfigClick();
    void BtnOpenConfigClick();
    void BtnSaveConfigClick();
    void BtnExitClick();

    QPushButton* BtnSelectAll = nullptr;
    QPushButton* BtnUnSelectAll = nullptr;
    QPushButton* BtnReadConfig = nullptr;
    QPushButton* BtnWriteConfig = nullptr;
    QPushButton* BtnOpenConfig = nullptr;
    QPushButton* BtnSaveConfig = nullptr;
    QPushButton* BtnExit = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;

    // The dialogs' state between runs (their initial folder and file name).
    const QString& OpenInitialDir() const { return m_openDir; }
    const QString& OpenFileName() const { return m_openFile; }
    const QString& SaveInitialDir() const { return m_saveDir; }
    const QString& SaveFileName() const { return m_saveFile; }

    // Runs a file dialog and returns the chosen file, empty when it was cancelled; tests
    // replace it.
    std::function<QString(QFileDialog*)> runFileDialog;

private:
    QString runDialog(QFileDialog* dialog, const QString& folder, const QString& file);

    TConfig_Form* m_owner;
    QString m_openDir;
    QString m_openFile;
    QString m_saveDir;
    QString m_saveFile;
};

inline constexpr const char* OpenDialogTitle = "Open configurations file";
inline constexpr const char* SaveDialogTitle = "Save configurations file";
