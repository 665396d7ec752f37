#pragma once

#include "../app/AppTestBed.h"
#include "../gui/GuiTestSupport.h"
#include "config/ui/TConfig_KTR_4200.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

// An engine over a one-device simulated fleet on loopback and the KTR-4200 window over it,
// shown and active so that focus changes deliver their events. The window has a firmware
// region of its own, so tests do not depend on each other's devices.
struct WindowBed
{
    explicit WindowBed(Ktr4200FleetOptions options = {}, const QMap<QString, QString>& ini = {})
        : bed(options, ini), window(bed.core.get())
    {
        window.SetFirmwareRegion(&region);
        shown = ShowActive(&window);
    }

    QCheckBox* chk(const char* name) { return window.Control<QCheckBox>(QString::fromLatin1(name)); }
    QLineEdit* edit(const char* name) { return window.Control<QLineEdit>(QString::fromLatin1(name)); }
    QComboBox* combo(const char* name) { return window.Control<QComboBox>(QString::fromLatin1(name)); }
    QFrame* panel(const char* name) { return window.Control<QFrame>(QString::fromLatin1(name)); }
    QListWidget* list(const char* name) { return window.Control<QListWidget>(QString::fromLatin1(name)); }
    QString stored(const char* key) { return window.StoredValue(QString::fromLatin1(key)); }

    // Brings the page that holds the control to the front, so that it can take the focus.
    void showPageOf(QWidget* control)
    {
        for (QWidget* page : {window.TabComm, window.Tab11a, window.Tab11b})
            if (page->isAncestorOf(control))
                window.PageConfig->setCurrentWidget(page);
    }

    // Types into a field (after selecting what it holds) and leaves it for a check box of
    // the same page; lets the exit handlers run.
    void typeAndLeave(QLineEdit* e, const QString& text)
    {
        showPageOf(e);
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        else
            QTest::keyClicks(e, text);
        leave(e);
    }

    void leave(QWidget* from)
    {
        QWidget* page = window.PageConfig->currentWidget();
        QCheckBox* other = nullptr;
        for (QCheckBox* c : page->findChildren<QCheckBox*>())
            if (!c->isAncestorOf(from) && c->isEnabled() && c->isVisible()) {
                other = c;
                break;
            }
        if (other)
            other->setFocus(Qt::TabFocusReason);
        Settle();
    }

    // What the user's pick from a box's list does.
    void choose(QComboBox* box, const QString& text)
    {
        showPageOf(box);
        box->setFocus(Qt::TabFocusReason);
        box->setCurrentIndex(box->findText(text));
        emit box->textActivated(text);
        Settle();
    }

    DeviceRow* addDevice(const QString& mac, const QString& version)
    {
        DeviceRow* row = bed.devices().AddRow(
            QStringLiteral("KTR-4200"),
            {mac, QStringLiteral("10.0.0.9"), QStringLiteral("255.0.0.0"), version,
             QStringLiteral("ap")});
        return row;
    }

    QString writeFile(const char* name, const QByteArray& text)
    {
        const QString path = QDir(bed.dir.path()).filePath(QString::fromLatin1(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        return path;
    }

    static QStringList readLines(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    RecordingMessageBoxes boxes;
    FirmwareRegion region = FirmwareRegion::Unknown;
    AppTestBed bed;
    TConfig_KTR_4200 window;
    bool shown = false;
};
