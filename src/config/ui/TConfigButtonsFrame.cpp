#include "config/ui/TConfigButtonsFrame.h"

#include "common/ui/FileDialogFilter.h"
#include "config/ui/TConfig_Form.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left,
                        int width)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 3, width, 23);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

QFileDialog* MakeFileDialog(QWidget* parent, const char* name, const char* title,
                            QFileDialog::AcceptMode mode)
{
    auto* dialog = new QFileDialog(parent, QString::fromLatin1(title));
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setNameFilter(QString::fromLatin1(AllFilesFilter));
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
    // A saved configuration replaces the file without a question; no extension is added.
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setDefaultSuffix(QString());
    return dialog;
}

} // namespace

TConfigButtonsFrame::TConfigButtonsFrame(TConfig_Form* owner) : QFrame(owner), m_owner(owner)
{
    setObjectName(QStringLiteral("ConfigButtons"));
    setFixedSize(554, 28);
    BtnSelectAll = MakeButton(this, "BtnSelectAll", "SelectAll", 8, 71);
    BtnUnSelectAll = MakeButton(this, "BtnUnSelectAll", "UnSelectAll", 82, 71);
    BtnReadConfig = MakeButton(this, "BtnReadConfig", "Refresh", 225, 60);
    BtnWriteConfig = MakeButton(this, "BtnWriteConfig", "Apply", 290, 60);
    BtnOpenConfig = MakeButton(this, "BtnOpenConfig", "Open", 355, 60);
    BtnSaveConfig = MakeButton(this, "BtnSaveConfig", "Save", 420, 60);
    BtnExit = MakeButton(this, "BtnExit", "Exit", 485, 60);
    OpenDialog = MakeFileDialog(this, "OpenDialog", OpenDialogTitle, QFileDialog::AcceptOpen);
    SaveDialog = MakeFileDialog(this, "SaveDialog", SaveDialogTitle, QFileDialog::AcceptSave);

    connect(BtnSelectAll, &QPushButton::clicked, this, &TConfigButtonsFrame::BtnSelectAllClick);
    connect(BtnUnSelectAll, &QPushButton::clicked, this,
            &TConfigButtonsFrame::BtnUnSelectAllClick);
    connect(BtnReadConfig, &QPushButton::clicked, this, &TConfigButtonsFrame::BtnReadConfigClick);
    connect(BtnWriteConfig, &QPushButton::clicked, this,
            &TConfigButtonsFrame::BtnWriteConfigClick);
    connect(BtnOpenConfig, &QPushButton::clicked, this, &TConfigButtonsFrame::BtnOpenConfigClick);
    connect(BtnSaveConfig, &QPushButton::clicked, this, &TConfigButtonsFrame::BtnSaveConfigClick);
    connect(BtnExit, &QPushButton::clicked, this, &TConfigButtonsFrame::BtnExitClick);
}

void TConfigButtonsFrame::BtnSelectAllClick()
{
    m_owner->CheckGroups().CheckAll();
}

void TConfigButtonsFrame::BtnUnSelectAllClick()
{
    m_owner->CheckGroups().UncheckAll();
}

void TConfigButtonsFrame::BtnReadConfigClick()
{
    m_owner->RefreshFromDevice();
}

void TConfigButtonsFrame::BtnWriteConfigClick()
{
    // The value of the field the user has just left must be checked and stored before the
    // window closes; a refused one keeps the window open on that field.
    if (m_owner->RunPendingExits())
        m_owner->accept();
}

QString TConfigButtonsFrame::runDialog(QFileDialog* dialog, const QString& folder,
                                       const QString& file)
{
    dialog->setDirectory(folder);
    if (!file.isEmpty())
        dialog->selectFile(file);
    if (runFileDialog)
        return runFileDialog(dialog);
    if (dialog->exec() != QDialog::Accepted)
        return QString();
    return dialog->selectedFiles().value(0);
}

void TConfigButtonsFrame::BtnOpenConfigClick()
{
    if (m_openDir.isEmpty())
        m_openDir = m_owner->ConfigFolder();
    const QString chosen = runDialog(OpenDialog, m_openDir, m_openFile);
    if (chosen.isEmpty())
        return;
    m_openDir = QFileInfo(chosen).absolutePath();
    m_openFile = chosen;
    m_saveDir = m_openDir;
    m_saveFile = chosen;
    m_owner->OpenConfigFile(chosen);
}

void TConfigButtonsFrame::BtnSaveConfigClick()
{
    if (m_saveDir.isEmpty())
        m_saveDir = m_owner->ConfigFolder();
    const QString chosen = runDialog(SaveDialog, m_saveDir, m_saveFile);
    if (chosen.isEmpty())
        return;
    m_saveDir = QFileInfo(chosen).absolutePath();
    m_saveFile = chosen;
    m_openDir = m_saveDir;
    m_openFile = chosen;
    m_owner->SaveConfigFile(QString(), chosen);
}

void TConfigButtonsFrame::BtnExitClick()
{
    // The window's cancel empties the command queue (Esc takes the same way).
    m_owner->reject();
}
