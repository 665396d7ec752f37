#include "config/ui/TConfig_Form.h"

#include "common/VxError.h"
#include "common/ui/VxIPAddressPanel.h"
#include "common/ui/VxMessageBox.h"
#include "config/ConfigHost.h"
#include "config/UserConfigFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QFrame>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

namespace {

// Marks a line edit bound as a masked (hex) field: its value is the display text.
const char* const MaskedEditProperty = "nwMaskedEdit";

QList<TConfig_Form*>& Registry()
{
    static QList<TConfig_Form*> forms;
    return forms;
}

enum class ControlClass
{
    Edit,
    MaskedEdit,
    ComboBox,
    Panel,
    Unknown
};

// Bound controls are told apart by their exact class, as the file logic relies on: a
// subclass of an edit is not an edit here.
ControlClass ClassOf(const QWidget* control)
{
    const QByteArray name = control->metaObject()->className();
    if (name == "QLineEdit")
        return control->property(MaskedEditProperty).toBool() ? ControlClass::MaskedEdit
                                                               : ControlClass::Edit;
    if (name == "QComboBox")
        return ControlClass::ComboBox;
    if (name == "QFrame")
        return ControlClass::Panel;
    return ControlClass::Unknown;
}

// What a masked field shows, also while it hides its text behind dots (a key): the value is
// the text shown, unfilled positions included.
QString ShownText(QLineEdit* edit)
{
    const QLineEdit::EchoMode mode = edit->echoMode();
    if (mode == QLineEdit::Normal)
        return edit->displayText();
    const QSignalBlocker block(edit);
    edit->setEchoMode(QLineEdit::Normal);
    const QString text = edit->displayText();
    edit->setEchoMode(mode);
    return text;
}

[[noreturn]] void UnknownControlClass()
{
    throw VxError(kUnknownControlClassCode, QString::fromLatin1(kUnknownControlClassText));
}

QLineEdit* OctetOf(QFrame* panel, int tag)
{
    for (QLineEdit* e : panel->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        if (e->property("tag").isValid() && e->property("tag").toInt() == tag)
            return e;
    return nullptr;
}

// The parts before the first, second and third "." fill octets 0 to 2 and the text after
// the last "." octet 3; a value with more parts keeps its first three and its last.
void ShowAddress(VxEditConstraint& manager, QFrame* panel, const QString& value)
{
    SetPanelCaption(panel, value);
    const QStringList parts = value.split(QLatin1Char('.'));
    const int dots = int(parts.size()) - 1;
    for (int tag = 0; tag < 4; ++tag) {
        QLineEdit* octet = OctetOf(panel, tag);
        if (!octet)
            continue;
        QString text;
        if (tag < 3)
            text = tag < dots ? parts.at(tag) : QString();
        else
            text = parts.last();
        octet->setText(text);
        // A value refused later goes back to what the device had, not to an empty octet.
        manager.RememberText(octet);
    }
}

} // namespace

TConfig_Form::TConfig_Form(ConfigHost* host, QWidget* parent)
    : QDialog(parent), m_host(host),
      m_constraintManager(new VxEditConstraintExt(this, true)),
      m_checkGroups(new VxChkGroupsList(this))
{
    Registry().append(this);
}

TConfig_Form::~TConfig_Form()
{
    Registry().removeAll(this);
}

TConfig_Form* TConfig_Form::FindConfigForm(const QString& name)
{
    for (TConfig_Form* form : std::as_const(Registry()))
        if (form->objectName() == name)
            return form;
    return nullptr;
}

QString TConfig_Form::DataFolder() const
{
    return m_host ? m_host->ConfigDataFolder() : QDir::currentPath();
}

QString TConfig_Form::ConfigFolder() const
{
    return QDir::cleanPath(QDir(DataFolder()).filePath(QStringLiteral("Config")));
}

bool TConfig_Form::OpenConfigFile(const QString& fileName)
{
    const UserConfigFile file = ReadUserConfigFile(fileName);
    if (!file.error.isEmpty()) {
        VxMessageBox(this, file.error + QLatin1Char('.'), QStringLiteral("Error"), QMessageBox::Ok,
                     QMessageBox::Critical);
        return false;
    }
    LoadConfigLines(file.lines);
    return true;
}

void TConfig_Form::reject()
{
    if (m_host)
        m_host->CancelOperation();
    QDialog::reject();
}

int TConfig_Form::ShowModal()
{
    return execModal ? execModal(this) : exec();
}


QWidget* TConfig_Form::BoundControl(const QString& key) const
{
    const qsizetype index = m_settings.bindings.IndexOf(key);
    return index < 0 ? nullptr : m_controls.at(index).data();
}

qsizetype TConfig_Form::indexOfControl(const QWidget* control) const
{
    for (qsizetype i = 0; i < m_controls.size(); ++i)
        if (m_controls.at(i) == control)
            return i;
    return -1;
}

void TConfig_Form::bind(const QString& key, QWidget* control)
{
    // The key may come with its "=": the entry starts as key + "=" with an empty value.
    QString name = key;
    if (name.endsWith(QLatin1Char('=')))
        name.chop(1);
    m_settings.bindings.Bind(name);
    m_controls.append(control);
}

void TConfig_Form::BindEdit(const QString& key, QLineEdit* edit, int maxLength)
{
    bind(key, edit);
    edit->setMaxLength(maxLength);
    watchFocus(edit, edit);
}

void TConfig_Form::BindHexEdit(const QString& key, QLineEdit* edit, QChar separator, int byteCount)
{
    bind(key, edit);
    edit->setProperty(MaskedEditProperty, true);
    m_constraintManager->SetupHexEdit(edit, separator, byteCount);
    watchFocus(edit, edit);
}

void TConfig_Form::BindComboBox(const QString& key, QComboBox* box)
{
    bind(key, box);
    // Editable, so that the box shows and returns any text, also one outside its items.
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    watchFocus(box, box);
    if (box->lineEdit())
        watchFocus(box->lineEdit(), box);
}

void TConfig_Form::BindIPPanel(const QString& key, QFrame* panel)
{
    bind(key, panel);
    m_constraintManager->SetupIPAddressPanel(panel);
    for (QLineEdit* octet : panel->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        watchFocus(octet, panel);
}

void TConfig_Form::SetExitHandler(QWidget* control, std::function<bool()> handler)
{
    m_exitHandlers.insert(control, std::move(handler));
}

void TConfig_Form::watchFocus(QWidget* watched, QWidget* control)
{
    m_focusOwners.insert(watched, control);
    // The watched widgets are children of this window and live as long as it does.
    watched->installEventFilter(this);
}

bool TConfig_Form::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window (a message box) or a drop-down list taking the focus is not
        // leaving the control.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (QWidget* control = m_focusOwners.value(watched))
                queueExit(control);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TConfig_Form::queueExit(QWidget* control)
{
    if (!m_pendingExits.contains(control))
        m_pendingExits.append(control);
    // After the focus change is complete: an exit handler may show a message box or give the
    // focus back, neither of which may happen inside the focus change.
    QTimer::singleShot(0, this, [this] { RunPendingExits(); });
}

bool TConfig_Form::RunPendingExits()
{
    if (m_runningExits)
        return true;
    m_runningExits = true;
    // The octets first: a panel's value is the address they have just written.
    bool accepted = m_constraintManager->RunPendingExits();
    while (!m_pendingExits.isEmpty()) {
        QPointer<QWidget> control = m_pendingExits.takeFirst();
        if (!control)
            continue;
        // Moving between a control's own parts (the octets of a panel, a box and its
        // edit) is not leaving it.
        QWidget* focus = QApplication::focusWidget();
        if (focus && (focus == control || control->isAncestorOf(focus)))
            continue;
        if (auto handler = m_exitHandlers.value(control)) {
            // A refused value gives the focus back: the user returns to it first.
            if (!handler()) {
                accepted = false;
                m_pendingExits.clear();
            }
            continue;
        }
        ExitControl(control);
    }
    m_runningExits = false;
    return accepted;
}

void TConfig_Form::ExitControl(QWidget* sender)
{
    const qsizetype index = indexOfControl(sender);
    if (index < 0)
        return;
    QString value;
    switch (ClassOf(sender)) {
    case ControlClass::Edit:
        value = static_cast<QLineEdit*>(sender)->text();
        break;
    case ControlClass::MaskedEdit:
        value = ShownText(static_cast<QLineEdit*>(sender));
        break;
    case ControlClass::ComboBox:
        value = static_cast<QComboBox*>(sender)->currentText();
        break;
    case ControlClass::Panel:
        value = PanelCaption(static_cast<QFrame*>(sender));
        break;
    case ControlClass::Unknown:
        UnknownControlClass();
    }
    m_settings.bindings[index].value = value;
}

void TConfig_Form::ShowBoundValue(QWidget* control)
{
    const qsizetype index = indexOfControl(control);
    if (index < 0)
        return;
    const QString value = m_settings.bindings.at(index).value;
    switch (ClassOf(control)) {
    case ControlClass::Edit:
    case ControlClass::MaskedEdit:
        static_cast<QLineEdit*>(control)->setText(value);
        break;
    case ControlClass::ComboBox: {
        auto* box = static_cast<QComboBox*>(control);
        box->setCurrentIndex(box->findText(value, Qt::MatchFixedString | Qt::MatchCaseSensitive));
        box->setEditText(value);
        break;
    }
    case ControlClass::Panel:
        ShowAddress(*m_constraintManager, static_cast<QFrame*>(control), value);
        break;
    case ControlClass::Unknown:
        UnknownControlClass();
    }
}

void TConfig_Form::CollectSelection()
{
    for (qsizetype i = 0; i < m_controls.size(); ++i) {
        QWidget* control = m_controls.at(i);
        // Enabled within this window: the window's own parent being disabled while an
        // operation runs does not unselect anything.
        m_settings.bindings[i].enabled = control && control->isEnabledTo(this);
    }
}
