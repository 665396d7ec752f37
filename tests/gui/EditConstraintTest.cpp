#include "GuiTestSupport.h"

#include "common/VxError.h"
#include "common/ui/VxEditConstraint.h"
#include "common/ui/VxIPAddressPanel.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A dialog with constrained edits in a column and a button after them.
struct Form
{
    QDialog dialog;
    VxEditConstraint manager{&dialog, true};
    QList<QLineEdit*> edits;
    QPushButton* button = nullptr;

    explicit Form(const QStringList& constraints)
    {
        auto* layout = new QVBoxLayout(&dialog);
        for (const QString& c : constraints) {
            auto* e = new QLineEdit(&dialog);
            layout->addWidget(e);
            manager.Add(c, e);
            edits.append(e);
        }
        button = new QPushButton(QStringLiteral("OK"), &dialog);
        layout->addWidget(button);
    }
};

QString type(QLineEdit* e, const QString& keys)
{
    QTest::keyClicks(e, keys);
    return e->text();
}

// Leaves the field for the next one and lets the check run.
void leave(QLineEdit* from, QWidget* to)
{
    ASSERT_TRUE(from->hasFocus());
    to->setFocus(Qt::TabFocusReason);
    Settle();
}

} // namespace

TEST(EditConstraint, GrammarAcceptsTheFormsInUseAndRefusesBrokenOnes)
{
    for (const char* good : {"%u", "%u{}", "%i{n5x300}", "%u{n0x255e.l3a}", "%n.", "%n,{l4f}", "%s{w80l8}", "%h{l12f}",
                             "%f{n0.5x99.5}"})
        EXPECT_NO_THROW(ParseEditConstraint(QString::fromLatin1(good))) << good;
    for (const char* bad : {"", "%", "u", "%q", "%ux", "%u{n5", "%u{e}", "%u{n}", "%u{z1}", "%u{", "%n", "%u{n1.2.3}"}) {
        try {
            ParseEditConstraint(QString::fromLatin1(bad));
            ADD_FAILURE() << "accepted " << bad;
        } catch (const VxError& e) {
            EXPECT_EQ(e.code(), kBadConstraintCode);
            EXPECT_EQ(e.message(), QString::fromLatin1(kBadConstraintText));
        }
    }

    const _EditConstraint_s ip = ParseEditConstraint(QStringLiteral("%u{n0x255e.l3a}"));
    EXPECT_EQ(ip.min, 0);
    EXPECT_EQ(ip.max, 255);
    EXPECT_EQ(ip.exitChar, u'.');
    EXPECT_EQ(ip.maxLength, 3);
    EXPECT_EQ(ip.flags, _EditConstraint_s::AutoAdvance);
    // Two "a" add up to the exact flag, without auto-advance.
    EXPECT_EQ(ParseEditConstraint(QStringLiteral("%s{l3aa}")).flags, _EditConstraint_s::Exact);
    // An attribute given twice takes its last value.
    EXPECT_EQ(ParseEditConstraint(QStringLiteral("%i{x5x9}")).max, 9);
    const _EditConstraint_s list = ParseEditConstraint(QStringLiteral("%n;"));
    EXPECT_EQ(list.delimiter, u';');
    EXPECT_EQ(list.max, 4294967295.0);
}

TEST(EditConstraint, AddRefusesABadTextWithoutTouchingTheEdit)
{
    QDialog dialog;
    VxEditConstraint manager(&dialog, true);
    QLineEdit edit(&dialog);
    edit.setMaxLength(50);
    EXPECT_THROW(manager.Add(QStringLiteral("%u{l3"), &edit), VxError);
    EXPECT_EQ(manager.Count(), 0);
    EXPECT_EQ(edit.maxLength(), 50);
    edit.setText(QStringLiteral("abc")); // no filter attached
    EXPECT_EQ(edit.text(), QStringLiteral("abc"));
}

TEST(EditConstraint, KeystrokeFilterRefusesWhatCanNeverBeValid)
{
    RecordingMessageBoxes boxes;
    Form f({QStringLiteral("%i"), QStringLiteral("%f"), QStringLiteral("%u"), QStringLiteral("%h"), QStringLiteral("%n,")});
    ASSERT_TRUE(ShowActive(&f.dialog));

    f.edits[0]->setFocus();
    EXPECT_EQ(type(f.edits[0], QStringLiteral("-1-2")), QStringLiteral("-12"));
    EXPECT_EQ(boxes.beeps, 1);
    f.edits[1]->setFocus();
    EXPECT_EQ(type(f.edits[1], QStringLiteral("-1.5.2")), QStringLiteral("-1.52"));
    f.edits[2]->setFocus();
    EXPECT_EQ(type(f.edits[2], QStringLiteral("7x")), QStringLiteral("7"));
    f.edits[3]->setFocus();
    EXPECT_EQ(type(f.edits[3], QStringLiteral("0aFg")), QStringLiteral("0aF"));
    f.edits[4]->setFocus();
    EXPECT_EQ(type(f.edits[4], QStringLiteral(",1,,2")), QStringLiteral("1,2"));
    EXPECT_EQ(boxes.beeps, 6);
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(EditConstraint, IpOctetMovesOnAfterThreeDigitsOrADot)
{
    RecordingMessageBoxes boxes;
    const QString octet = QStringLiteral("%u{n0x255e.l3a}");
    Form f({octet, octet, octet});
    ASSERT_TRUE(ShowActive(&f.dialog));

    f.edits[0]->setFocus();
    QTest::keyClicks(f.edits[0], QStringLiteral("192"));
    Settle();
    EXPECT_TRUE(f.edits[1]->hasFocus());
    QTest::keyClicks(f.edits[1], QStringLiteral("1."));
    Settle();
    EXPECT_EQ(f.edits[1]->text(), QStringLiteral("1"));
    EXPECT_TRUE(f.edits[2]->hasFocus());
    QTest::keyClicks(f.edits[2], QStringLiteral("a"));
    EXPECT_EQ(f.edits[2]->text(), QString());
    EXPECT_EQ(boxes.beeps, 1);
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(EditConstraint, ExitCheckShowsTheRangeAndPutsBackTheLastAcceptedText)
{
    RecordingMessageBoxes boxes;
    Form f({QStringLiteral("%i{n5x300}"), QStringLiteral("%u")});
    ASSERT_TRUE(ShowActive(&f.dialog));
    QLineEdit* e = f.edits[0];

    e->setFocus();
    QTest::keyClicks(e, QStringLiteral("4"));
    leave(e, f.edits[1]);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("(VxCommon) Please enter a number between 5 and 300!"));
    EXPECT_EQ(boxes.captions[0], QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    EXPECT_EQ(e->text(), QString()); // nothing accepted yet
    EXPECT_TRUE(e->hasFocus());

    QTest::keyClicks(e, QStringLiteral("20"));
    leave(e, f.edits[1]);
    EXPECT_EQ(boxes.texts.size(), 1);
    f.edits[1]->clear();
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, QStringLiteral("301"));
    leave(e, f.edits[1]);
    EXPECT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(e->text(), QStringLiteral("20"));

    // An empty field is never refused.
    e->clear();
    leave(e, f.edits[1]);
    EXPECT_EQ(boxes.texts.size(), 2);
}

TEST(EditConstraint, ExitMessagesOfLengthsAndNumberLists)
{
    RecordingMessageBoxes boxes;
    Form f({QStringLiteral("%s{l4}"), QStringLiteral("%h{l4f}"), QStringLiteral("%n.{l4f}"), QStringLiteral("%n,{x9l2}")});
    // Through the check itself: the text is set from code, the way a field holds a loaded value.
    f.edits[0]->setMaxLength(10);
    f.edits[0]->setText(QStringLiteral("abcde"));
    EXPECT_FALSE(f.manager.OnEditExit(f.edits[0]));
    f.edits[1]->setText(QStringLiteral("ABC"));
    EXPECT_FALSE(f.manager.OnEditExit(f.edits[1]));
    f.edits[2]->setText(QStringLiteral("10.0.1"));
    EXPECT_FALSE(f.manager.OnEditExit(f.edits[2]));
    f.edits[3]->setMaxLength(20);
    f.edits[3]->setText(QStringLiteral("1,2,3"));
    EXPECT_FALSE(f.manager.OnEditExit(f.edits[3]));
    f.edits[3]->setText(QStringLiteral("1,12"));
    EXPECT_FALSE(f.manager.OnEditExit(f.edits[3]));
    f.edits[3]->setText(QStringLiteral("1,9"));
    EXPECT_TRUE(f.manager.OnEditExit(f.edits[3]));

    EXPECT_EQ(boxes.texts, QStringList({
                               QStringLiteral("(VxCommon) Please enter a string whose length is less than 4!"),
                               QStringLiteral("(VxCommon) Please enter a hex string whose length is 4!"),
                               QStringLiteral("(VxCommon) Please enter a delimited number string with delimiter "
                                              "'.'.\nHere,the count of the number is equal to 4!"),
                               QStringLiteral("(VxCommon) Please enter a delimited number string with delimiter "
                                              "','.\nHere,the count of the number is less than 2!"),
                               QStringLiteral("(VxCommon) Please enter a delimited number string with delimiter "
                                              "','.\nHere,each number is between 0 and 9!"),
                           }));
    EXPECT_EQ(f.manager.Find(f.edits[3])->lastAccepted, QStringLiteral("1,9"));
}

TEST(EditConstraint, NumberListReadsTheWayTheFieldsAlwaysHave)
{
    VxNumList list;
    list.Parse(QStringLiteral("10.20."));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(list.numbers, (std::vector<uint32_t>{10, 20, 0}));
    list.delimiter = u',';
    list.Parse(QStringLiteral("1.75,300"));
    EXPECT_EQ(list.numbers, (std::vector<uint32_t>{1, 300}));
    list.Parse(QString());
    EXPECT_EQ(list.count, 0);
}

TEST(EditConstraint, BuildFieldsLaysOutLabelsAndEditsInOrder)
{
    QDialog dialog;
    VxEditConstraint manager(&dialog, true);
    QFrame panel(&dialog);
    QList<QLineEdit*> edits;
    manager.BuildFields(&panel, QStringLiteral("IP %u{l3}.%u{w40l3}%%"), &edits);

    const QObjectList children = panel.children();
    ASSERT_EQ(children.size(), 5);
    auto* l1 = qobject_cast<QLabel*>(children[0]);
    auto* e1 = qobject_cast<QLineEdit*>(children[1]);
    auto* l2 = qobject_cast<QLabel*>(children[2]);
    auto* e2 = qobject_cast<QLineEdit*>(children[3]);
    auto* l3 = qobject_cast<QLabel*>(children[4]);
    ASSERT_TRUE(l1 && e1 && l2 && e2 && l3);
    EXPECT_EQ(l1->text(), QStringLiteral("IP "));
    EXPECT_EQ(l2->text(), QStringLiteral("."));
    EXPECT_EQ(l3->text(), QStringLiteral("%"));
    EXPECT_LT(l1->x(), e1->x());
    EXPECT_LT(e1->x(), l2->x());
    EXPECT_LT(l2->x(), e2->x());
    EXPECT_EQ(e2->width(), 40);
    EXPECT_EQ(edits, (QList<QLineEdit*>{e1, e2}));
    QWidget* next = e1->nextInFocusChain();
    while (next && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, e2);
    EXPECT_EQ(manager.Count(), 2);
    EXPECT_EQ(e1->maxLength(), 3);
}

TEST(EditConstraint, IpPanelCaptionCarriesTheAddressAndNeverARefusedOctet)
{
    RecordingMessageBoxes boxes;
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    VxEditConstraint manager(&dialog, true);
    auto* panel = new QFrame(&dialog);
    layout->addWidget(panel);
    auto* other = new QLineEdit(&dialog);
    layout->addWidget(other);
    QList<QLineEdit*> octets;
    SetupIPAddressPanel(manager, panel, &octets);
    ASSERT_EQ(octets.size(), 4);
    ASSERT_TRUE(ShowActive(&dialog));
    EXPECT_EQ(PanelCaption(panel), QString());

    octets[0]->setFocus();
    QTest::keyClicks(octets[0], QStringLiteral("10"));
    leave(octets[0], other);
    EXPECT_EQ(PanelCaption(panel), QStringLiteral("10.0.0.0"));
    EXPECT_EQ(octets[1]->text(), QStringLiteral("0"));

    octets[1]->setFocus();
    octets[1]->selectAll();
    QTest::keyClicks(octets[1], QStringLiteral("256"));
    Settle(); // the third digit moves on, which leaves the octet
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("(VxCommon) Please enter a number between 0 and 255!"));
    // The "0" was written by the other octet's exit, never accepted in this one.
    EXPECT_EQ(octets[1]->text(), QString());
    EXPECT_TRUE(octets[1]->hasFocus());
    EXPECT_EQ(PanelCaption(panel), QStringLiteral("10.0.0.0"));
}
