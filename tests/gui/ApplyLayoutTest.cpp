#include "GuiTestSupport.h"

#include "common/VxError.h"
#include "common/ui/ApplyLayout.h"
#include "common/ui/VxImageList.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct LayoutFixture : ::testing::Test
{
    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("system.ini")); }
    void write(const QByteArray& text)
    {
        QFile f(ini());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    // A small window with one control of each kind the layouts address.
    QDialog form;
    QLabel* label = new QLabel(QStringLiteral("old"), &form);
    QComboBox* combo = new QComboBox(&form);
    QCheckBox* check = new QCheckBox(&form);
    QLineEdit* edit = new QLineEdit(&form);
    QTabWidget* tabs = new QTabWidget(&form);
    QWidget* page = new QWidget;
    QAction* action = new QAction(&form);
    VxImageList* images = new VxImageList(&form);

    LayoutFixture()
    {
        form.setObjectName(QStringLiteral("Form1"));
        label->setObjectName(QStringLiteral("Label1"));
        combo->setObjectName(QStringLiteral("CBoxModule"));
        combo->addItem(QStringLiteral("first"));
        check->setObjectName(QStringLiteral("Chk"));
        edit->setObjectName(QStringLiteral("Ed"));
        tabs->setObjectName(QStringLiteral("Pages"));
        page->setObjectName(QStringLiteral("TS_Message"));
        tabs->addTab(page, QStringLiteral("Action Message"));
        action->setObjectName(QStringLiteral("TB_Discover"));
        images->setObjectName(QStringLiteral("ImageList"));
        images->Append(QIcon());
    }
};

} // namespace

TEST_F(LayoutFixture, KeysOfTheSectionOverrideTheDesign)
{
    write("[Other]\r\nLabel1.Caption=not this one\r\n"
          "[Test Form]\r\n"
          "Form1.Caption=Relabelled\r\n"
          "Label1.Caption=New label\r\n"
          "Label1.Left=17\r\n"
          "Label1.Width=80\r\n"
          "Label1.FontColor=255\r\n"
          "Label1.FontCharset=greek\r\n"
          "CBoxModule.Captions=KTR-4200,,KTR-4200AP\r\n"
          "CBoxModule.ItemIndex=2\r\n"
          "Chk.Checked=TRUE\r\n"
          "Chk.Enabled=yes\r\n"
          "Ed.Text=typed\r\n"
          "Ed.Hint=a hint\r\n"
          "TS_Message.Caption=Log\r\n"
          "TS_Message.TabVisible=false\r\n"
          "TB_Discover.Hint=Find them\r\n"
          "TB_Discover.Visible=no\r\n"
          "Nobody.Caption=never read\r\n");
    ApplyLayout(&form, ini(), QStringLiteral("Test Form"), dir.path());

    EXPECT_EQ(form.windowTitle(), QStringLiteral("Relabelled"));
    EXPECT_EQ(label->text(), QStringLiteral("New label"));
    EXPECT_EQ(label->x(), 17);
    EXPECT_EQ(label->width(), 80);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(label->property("fontCharset").toInt(), 161);
    // Three parts with an empty middle one: the first item replaced, two appended.
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("KTR-4200"));
    EXPECT_EQ(combo->itemText(1), QString());
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_TRUE(check->isChecked()); // "TRUE" in capitals is true
    EXPECT_FALSE(check->isEnabled()); // any other word is false
    EXPECT_EQ(edit->text(), QStringLiteral("typed"));
    EXPECT_EQ(edit->toolTip(), QStringLiteral("a hint"));
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Log"));
    EXPECT_FALSE(tabs->isTabVisible(0));
    EXPECT_EQ(action->toolTip(), QStringLiteral("Find them"));
    EXPECT_FALSE(action->isVisible());
}

TEST_F(LayoutFixture, AnEmptySectionOrMissingFileChangesNothing)
{
    write("[Test Form]\r\n; nothing here\r\nLabel1.Caption=\r\n");
    label->setGeometry(5, 6, 70, 20);
    ApplyLayout(&form, ini(), QStringLiteral("Test Form"), QString());
    ApplyLayout(&form, dir.filePath(QStringLiteral("missing.ini")), QStringLiteral("Test Form"), QString());
    EXPECT_EQ(label->text(), QStringLiteral("old"));
    EXPECT_EQ(label->geometry(), QRect(5, 6, 70, 20));
    EXPECT_EQ(combo->count(), 1);
}

TEST_F(LayoutFixture, ApplicationTitleAndPictures)
{
    QPixmap red(8, 8);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(dir.filePath(QStringLiteral("red.png"))));
    write("[Main Form]\r\nApplication.Title=Renamed console\r\n"
          "Label1.Picture=red.png\r\n"
          "ImageList.Pictures=red.png,red.png\r\n");
    const QString before = QGuiApplication::applicationDisplayName();
    ApplyLayout(qApp, ini(), QStringLiteral("Main Form"), dir.path());
    EXPECT_EQ(qApp->objectName(), QStringLiteral("Application"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Renamed console"));
    QGuiApplication::setApplicationDisplayName(before);
    // The walk from the application reaches the windows it owns.
    EXPECT_FALSE(label->pixmap().isNull());
    EXPECT_FALSE(images->Image(0).isNull());
    EXPECT_EQ(images->Count(), 1);

    write("[Main Form]\r\nLabel1.Picture=missing.png\r\nLabel1.Caption=applied first\r\n");
    try {
        ApplyLayout(&form, ini(), QStringLiteral("Main Form"), dir.path());
        ADD_FAILURE() << "a missing picture must be reported";
    } catch (const VxError& e) {
        EXPECT_EQ(e.code(), kLayoutPictureCode);
    }
    EXPECT_EQ(label->text(), QStringLiteral("applied first"));
}
