#include "common/ui/ApplyLayout.h"

#include "common/VxError.h"
#include "common/VxIni.h"
#include "common/ui/VxImageList.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <optional>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeWidget>

namespace {

const char* const Suffixes[] = {".Left",    ".Top",        ".Width",   ".Height",    ".Color",
                                ".FontCharset", ".FontColor", ".Visible", ".TabVisible", ".Enabled",
                                ".Checked", ".Title",      ".Caption", ".Captions",  ".ItemIndex",
                                ".Hint",    ".Text",       ".Icon",    ".Picture",   ".Pictures"};

// The way the C library's atol reads a number: blanks, a sign, digits; 0 without any.
long atolLike(const QString& text)
{
    int i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    long long value = 0;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128) {
        value = value * 10 + (text.at(i++).unicode() - u'0');
        if (value > 0x7fffffffLL)
            value = 0x7fffffffLL + (negative ? 1 : 0);
    }
    return long(negative ? -value : value);
}

bool truthValue(const QString& text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Colour numbers count red in the low byte; values outside 0..0xFFFFFF name system colours,
// which the platform's palette already provides.
std::optional<QColor> colourOf(long value)
{
    if (value < 0 || value > 0xFFFFFF)
        return std::nullopt;
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

// The controls whose colour and font the layout may set.
bool isFontBearing(QObject* o)
{
    auto* w = qobject_cast<QWidget*>(o);
    if (!w)
        return false;
    return w->isWindow() || qobject_cast<QLabel*>(o) || qobject_cast<QLineEdit*>(o) || qobject_cast<QTextEdit*>(o) ||
           qobject_cast<QPlainTextEdit*>(o) || qobject_cast<QCheckBox*>(o) || qobject_cast<QRadioButton*>(o) ||
           qobject_cast<QAbstractItemView*>(o) || qobject_cast<QComboBox*>(o) || qobject_cast<QGroupBox*>(o) ||
           qobject_cast<QFrame*>(o) || qobject_cast<QDateTimeEdit*>(o) || qobject_cast<QStatusBar*>(o) ||
           qobject_cast<QToolBar*>(o);
}

// A page of a tab widget: the tab widget holds its pages in a stacked widget.
QTabWidget* tabWidgetOfPage(QWidget* w, int* index)
{
    auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget());
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (!tabs)
        return nullptr;
    *index = tabs->indexOf(w);
    return *index >= 0 ? tabs : nullptr;
}

// A widget that a layout places: its size is its fixed size, since the layout would undo a
// plain resize.
bool inLayout(QWidget* w)
{
    QWidget* parent = w->parentWidget();
    return parent && parent->layout() && parent->layout()->indexOf(w) >= 0;
}

QList<QLabel*> statusPanels(QStatusBar* bar)
{
    return bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
}

QPixmap loadPicture(const QString& path)
{
    QPixmap pixmap;
    if (!pixmap.load(path))
        throw VxError(kLayoutPictureCode, QString::fromLatin1(kLayoutPictureText) + path);
    return pixmap;
}

void setGeometryPart(QWidget* w, int which, int value)
{
    switch (which) {
    case 0:
        w->move(value, w->y());
        break;
    case 1:
        w->move(w->x(), value);
        break;
    case 2:
        if (!w->isWindow() && inLayout(w))
            w->setFixedWidth(value);
        else
            w->resize(value, w->height());
        break;
    default:
        if (!w->isWindow() && inLayout(w))
            w->setFixedHeight(value);
        else
            w->resize(w->width(), value);
        break;
    }
}

void setPaletteColour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

void applyCaptions(QObject* o, const QStringList& parts)
{
    if (auto* list = qobject_cast<QListWidget*>(o)) {
        for (int i = 0; i < parts.size(); ++i) {
            if (i < list->count())
                list->item(i)->setText(parts.at(i));
            else
                list->addItem(parts.at(i));
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(o)) {
        const QString text = combo->isEditable() ? combo->currentText() : QString();
        for (int i = 0; i < parts.size(); ++i) {
            if (i < combo->count())
                combo->setItemText(i, parts.at(i));
            else
                combo->addItem(parts.at(i));
        }
        if (combo->isEditable())
            combo->setEditText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(o)) {
        const QList<QRadioButton*> buttons = group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
        for (int i = 0; i < parts.size(); ++i) {
            if (i < buttons.size()) {
                buttons.at(i)->setText(parts.at(i));
            } else {
                auto* b = new QRadioButton(parts.at(i), group);
                if (group->layout())
                    group->layout()->addWidget(b);
            }
        }
    } else if (auto* tree = qobject_cast<QTreeWidget*>(o)) {
        if (tree->columnCount() < parts.size())
            tree->setColumnCount(int(parts.size()));
        for (int i = 0; i < parts.size(); ++i)
            tree->headerItem()->setText(i, parts.at(i));
    } else if (auto* view = qobject_cast<QAbstractItemView*>(o)) {
        // A view over the engine's model: the model's header names the columns; columns it
        // does not have cannot be added from a layout.
        if (QAbstractItemModel* model = view->model())
            for (int i = 0; i < parts.size() && i < model->columnCount(); ++i)
                model->setHeaderData(i, Qt::Horizontal, parts.at(i));
    } else if (auto* bar = qobject_cast<QStatusBar*>(o)) {
        const QList<QLabel*> panels = statusPanels(bar);
        // Panels that do not exist are left out rather than ending the whole layout.
        for (int i = 0; i < parts.size() && i < panels.size(); ++i)
            panels.at(i)->setText(parts.at(i));
    }
}

void applyOne(QObject* o, const QString& suffix, const QString& value, const QString& imageFolder)
{
    auto* w = qobject_cast<QWidget*>(o);
    auto* action = qobject_cast<QAction*>(o);
    auto* app = qobject_cast<QApplication*>(o);
    const int which = int(std::find_if(std::begin(Suffixes), std::end(Suffixes),
                                       [&](const char* s) { return suffix == QLatin1String(s); }) -
                          std::begin(Suffixes));
    switch (which) {
    case 0:
    case 1:
    case 2:
    case 3:
        if (w)
            setGeometryPart(w, which, int(atolLike(value)));
        break;
    case 4: // Color
        if (isFontBearing(o))
            if (auto c = colourOf(atolLike(value))) {
                w->setAutoFillBackground(true);
                setPaletteColour(w, w->backgroundRole(), *c);
            }
        break;
    case 5: // FontCharset
        // Text is Unicode throughout; the code is kept on the control for whoever draws with
        // a legacy character set.
        if (isFontBearing(o))
            w->setProperty("fontCharset", FontCharsetCode(value));
        break;
    case 6: // FontColor
        if (isFontBearing(o))
            if (auto c = colourOf(atolLike(value))) {
                setPaletteColour(w, QPalette::WindowText, *c);
                setPaletteColour(w, QPalette::Text, *c);
                setPaletteColour(w, QPalette::ButtonText, *c);
            }
        break;
    case 7: // Visible
        if (action)
            action->setVisible(truthValue(value));
        else if (w)
            w->setVisible(truthValue(value));
        break;
    case 8: // TabVisible
        if (w) {
            int index = -1;
            if (QTabWidget* tabs = tabWidgetOfPage(w, &index))
                tabs->setTabVisible(index, truthValue(value));
        }
        break;
    case 9: // Enabled
        if (action)
            action->setEnabled(truthValue(value));
        else if (w)
            w->setEnabled(truthValue(value));
        break;
    case 10: // Checked
        if (action)
            action->setChecked(truthValue(value));
        else if (qobject_cast<QCheckBox*>(o) || qobject_cast<QRadioButton*>(o))
            static_cast<QAbstractButton*>(w)->setChecked(truthValue(value));
        break;
    case 11: // Title
        if (app)
            QGuiApplication::setApplicationDisplayName(value);
        break;
    case 12: { // Caption
        int index = -1;
        if (action)
            action->setText(value);
        else if (!w)
            break;
        else if (w->isWindow())
            w->setWindowTitle(value);
        else if (auto* label = qobject_cast<QLabel*>(o))
            label->setText(value);
        else if (auto* button = qobject_cast<QAbstractButton*>(o))
            button->setText(value);
        else if (auto* group = qobject_cast<QGroupBox*>(o))
            group->setTitle(value);
        else if (QTabWidget* tabs = tabWidgetOfPage(w, &index))
            tabs->setTabText(index, value);
        else if (qobject_cast<QFrame*>(o))
            w->setProperty("caption", value);
        break;
    }
    case 13: // Captions
        applyCaptions(o, value.split(QLatin1Char(',')));
        break;
    case 14: // ItemIndex
        if (auto* list = qobject_cast<QListWidget*>(o))
            list->setCurrentRow(int(atolLike(value)));
        else if (auto* combo = qobject_cast<QComboBox*>(o))
            combo->setCurrentIndex(int(atolLike(value)));
        else if (auto* group = qobject_cast<QGroupBox*>(o)) {
            const auto buttons = group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
            const long i = atolLike(value);
            if (i >= 0 && i < buttons.size())
                buttons.at(i)->setChecked(true);
        }
        break;
    case 15: // Hint
        if (action)
            action->setToolTip(value);
        else if (w)
            w->setToolTip(value);
        break;
    case 16: // Text
        if (auto* edit = qobject_cast<QLineEdit*>(o))
            edit->setText(value);
        else if (auto* bar = qobject_cast<QStatusBar*>(o); bar && statusPanels(bar).isEmpty())
            bar->showMessage(value);
        break;
    case 17: // Icon
        if (app)
            QApplication::setWindowIcon(QIcon(loadPicture(imageFolder + value)));
        else if (w && w->isWindow())
            w->setWindowIcon(QIcon(loadPicture(imageFolder + value)));
        break;
    case 18: // Picture
        if (auto* label = qobject_cast<QLabel*>(o))
            label->setPixmap(loadPicture(imageFolder + value));
        break;
    case 19: // Pictures
        if (auto* images = qobject_cast<VxImageList*>(o)) {
            const QStringList files = value.split(QLatin1Char(','));
            // Entries the list does not have are left out.
            for (int i = 0; i < files.size() && i < images->Count(); ++i)
                images->Replace(i, QIcon(loadPicture(imageFolder + files.at(i))));
        }
        break;
    default:
        break;
    }
}

void applyTo(QObject* component, const VxIni& ini, const QString& section, const QString& imageFolder)
{
    const QString name = component->objectName();
    // Objects without a name (layouts, a view's scroll bars) cannot be addressed by a key.
    if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_"))) {
        for (const char* suffix : Suffixes) {
            const QString s = QString::fromLatin1(suffix);
            const QString value = ini.ReadString(section, name + s, QString());
            if (!value.isEmpty())
                applyOne(component, s, value, imageFolder);
        }
    }
    const QObjectList children = component->children();
    for (QObject* child : children)
        applyTo(child, ini, section, imageFolder);
    if (component == QCoreApplication::instance())
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->parent() == nullptr)
                applyTo(window, ini, section, imageFolder);
}

} // namespace

int FontCharsetCode(const QString& value)
{
    static const QList<QPair<const char*, int>> names = {
        {"ANSI", 0},        {"DEFAULT", 1},  {"SYMBOL", 2},   {"MAC", 77},      {"SHIFTJIS", 128},
        {"HANGEUL", 129},   {"JOHAB", 130},  {"GB2312", 134}, {"BIG5", 136},    {"GREEK", 161},
        {"TURKISH", 162},   {"VIETNAMESE", 163}, {"HEBREW", 177}, {"ARABIC", 178}, {"BALTIC", 186},
        {"RUSSIAN", 204},   {"THAI", 222},   {"EASTEUROPE", 238}, {"OEM", 255}};
    for (const auto& [n, code] : names)
        if (value.compare(QLatin1String(n), Qt::CaseInsensitive) == 0)
            return code;
    return int(atolLike(value) & 0xFF);
}

void ApplyLayout(QObject* component, const QString& iniPath, const QString& section, const QString& imageFolder)
{
    if (!component)
        return;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->setObjectName(QStringLiteral("Application"));
    QString folder = imageFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('\\')))
        folder += QDir::separator();
    const VxIni ini(iniPath);
    applyTo(component, ini, section, folder);
}
