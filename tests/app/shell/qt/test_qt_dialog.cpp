// The Qt dialog on the offscreen platform, driven with QTest key and mouse
// events through the real calculation core.
#include "shell/qt/field_edit.h"
#include "shell/qt/qt_dialog.h"
#include "shell/accessible_names.h"
#include "shell/qt/history_panel.h"
#include "shell/history.h"
#include "shell/dialog.h"
#include "calc.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QToolTip>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const bits_5 = "Bits: x- 5 y- 0 z- 0 a- 0 b- 0 ans- 0";

class QtDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog = std::make_unique<qt_dialog>();
        initial_status = dialog->status_text();
        for (int id : field_list)
            initial_fields.push_back(text(id));
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        // The registers outlive one dialog: start every test from zero.
        click(IDC_CLEAR_ALL);
    }

    std::string text(int id)
    {
        std::vector<char> buffer(70000);
        const int n = dialog->read_field(id, buffer.data(), static_cast<int>(buffer.size()));
        return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    field_edit* edit(int id) { return static_cast<field_edit*>(dialog->control(id)); }
    // A click, and the job it may start run to its end.
    void click(int id)
    {
        QTest::mouseClick(dialog->control(id), Qt::LeftButton);
        settle();
    }
    void settle() { QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 30000); }
    void type(int id, const QString& keys)
    {
        QWidget* widget = dialog->control(id);
        widget->setFocus();
        QTest::keyClicks(widget, keys);
    }
    // Key presses of characters beyond ASCII, which QTest cannot name.
    void type_characters(int id, const QString& characters)
    {
        QWidget* widget = dialog->control(id);
        widget->setFocus();
        for (const QChar c : characters) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &release);
        }
    }
    void paste(int id, const QString& clip)
    {
        QApplication::clipboard()->setText(clip);
        QWidget* widget = dialog->control(id);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_V, Qt::ControlModifier);
    }
    bool radio_checked(int id) { return static_cast<QRadioButton*>(dialog->control(id))->isChecked(); }

    std::unique_ptr<qt_dialog> dialog;
    std::string initial_status;
    std::vector<std::string> initial_fields;
};

TEST_F(QtDialog, StartsIdleInBase16WithEmptyFields)
{
    EXPECT_EQ(initial_status, "Idle...\n");
    for (const std::string& field : initial_fields)
        EXPECT_EQ(field, "");
    for (int id = IDC_BASE_2; id <= IDC_BASE_256; ++id)
        EXPECT_EQ(radio_checked(id), id == IDC_BASE_16) << id;
    EXPECT_EQ(dialog->windowTitle(), "Torvane v1.14");
    EXPECT_EQ(dialog->minimumSize(), dialog->size()) << "starts at its own size and never shrinks below it";
    EXPECT_GT(dialog->maximumWidth(), dialog->width());
    EXPECT_GT(dialog->maximumHeight(), dialog->height());
    // The icon's image could be read, in the large and the small size.
    EXPECT_FALSE(dialog->windowIcon().pixmap(32, 32).isNull());
    EXPECT_FALSE(dialog->windowIcon().pixmap(16, 16).isNull());
    const QFontInfo font(dialog->font());
    EXPECT_TRUE(font.family() == "Courier New" || font.family() == "Liberation Mono") << font.family().toStdString();
    EXPECT_TRUE(font.fixedPitch());
    EXPECT_EQ(font.pointSize(), 9);
}

TEST_F(QtDialog, TypingParsesTheFieldAndUpdatesTheStatusLine)
{
    type(IDC_FIELD_X, "1F");
    EXPECT_EQ(dialog->status_text(), bits_5);
    // A character that is no digit of base 16 vanishes again, and the caret
    // stays where the user was typing.
    type(IDC_FIELD_X, "g");
    EXPECT_EQ(text(IDC_FIELD_X), "1F");
    type(IDC_FIELD_X, "F");
    EXPECT_EQ(text(IDC_FIELD_X), "1FF");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 9 y- 0 z- 0 a- 0 b- 0 ans- 0");
    // The status field shows the message on one line.
    const auto* status = static_cast<QLineEdit*>(dialog->control(IDC_STATUS));
    dialog->write_status("Over Sized ...\n");
    EXPECT_EQ(status->text(), "Over Sized ...");
    EXPECT_EQ(dialog->status_text(), "Over Sized ...\n");
}

TEST_F(QtDialog, ProgramWritesAreNotParsed)
{
    type(IDC_FIELD_X, "5");
    const std::string status = dialog->status_text();
    write_field_text(*dialog, IDC_FIELD_X, "7");
    EXPECT_EQ(dialog->status_text(), status);
    type(IDC_FIELD_Y, "3");
    click(IDC_OP_ADD);
    EXPECT_EQ(text(IDC_FIELD_ANS), "8");  // X still holds the 5 typed
}

const char* const x_cut = "X unchanged: X takes at most 65531 characters.";

TEST_F(QtDialog, TypingStopsAtTheLimitAndTheStatusSaysSo)
{
    click(IDC_BASE_2);
    click(IDC_CL_X);
    paste(IDC_FIELD_X, QString(65527, '1'));
    ASSERT_EQ(edit(IDC_FIELD_X)->length(), 65527);
    EXPECT_EQ(dialog->status_text(), "Bits: x- 65527 y- 0 z- 0 a- 0 b- 0 ans- 0");
    type(IDC_FIELD_X, "10101010");
    EXPECT_TRUE(text(IDC_FIELD_X) == std::string(65527, '1') + "1010");
    EXPECT_EQ(dialog->status_text(), x_cut);
    // A selection the typed character replaces makes room for it.
    QTest::keyClick(edit(IDC_FIELD_X), Qt::Key_A, Qt::ControlModifier);
    type(IDC_FIELD_X, "1");
    EXPECT_EQ(text(IDC_FIELD_X), "1");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 1 y- 0 z- 0 a- 0 b- 0 ans- 0");
}

// The longest operand, a sign and 65530 binary digits, pasted whole and read
// back through its register; one character more is refused whole, and said
// to be, as is a paste with a character no field can hold.
TEST_F(QtDialog, AMaximalBinaryOperandPastesWholeOneMoreCharacterIsRefused)
{
    click(IDC_BASE_2);
    const std::string longest = "-" + std::string(65530, '1');
    click(IDC_CL_Y);
    paste(IDC_FIELD_Y, QString::fromLatin1(longest + "1"));
    EXPECT_EQ(text(IDC_FIELD_Y), "");
    EXPECT_EQ(dialog->status_text(), "Y unchanged: Y takes at most 65531 characters.");
    paste(IDC_FIELD_Y, QString::fromLatin1(longest));
    click(IDC_BASE_16);
    click(IDC_BASE_2);
    EXPECT_TRUE(text(IDC_FIELD_Y) == longest) << "read back from the register";
    click(IDC_CL_Z);
    paste(IDC_FIELD_Z, QString::fromUtf8("1\u20ac0\u4e001"));
    EXPECT_EQ(text(IDC_FIELD_Z), "");
    EXPECT_EQ(dialog->status_text(), "Z unchanged: U+20AC is not a base-2 digit.");
}

// A paste is one number or nothing: a stray character refuses it whole, the
// field keeping its text and value; separators and a prefix are dropped.
TEST_F(QtDialog, APasteWithAStrayCharacterIsRefusedWhole)
{
    click(IDC_BASE_10);
    click(IDC_CL_X);
    type(IDC_FIELD_X, "7");
    paste(IDC_FIELD_X, "1,000,000.00");
    EXPECT_EQ(text(IDC_FIELD_X), "7");
    EXPECT_EQ(dialog->status_text(), "X unchanged: ',' is not a base-10 digit.");
    edit(IDC_FIELD_X)->selectAll();
    paste(IDC_FIELD_X, "  -1 000 000");
    EXPECT_EQ(text(IDC_FIELD_X), "-1000000");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 20 y- 0 z- 0 a- 0 b- 0 ans- 0");
    click(IDC_BASE_16);
    edit(IDC_FIELD_Y)->selectAll();
    paste(IDC_FIELD_Y, "0x1F");
    EXPECT_EQ(text(IDC_FIELD_Y), "1F");
    click(IDC_OP_ADD);
    EXPECT_EQ(text(IDC_FIELD_ANS), "-F4221");
}

// The program rewrites the field after dropping characters; the caret stays
// where the typing left it, less what was dropped before it.
TEST_F(QtDialog, TheCaretStaysWhereTheTypingLeftIt)
{
    click(IDC_BASE_10);
    click(IDC_CL_X);
    type(IDC_FIELD_X, "12a34");
    EXPECT_EQ(text(IDC_FIELD_X), "1234");
    // "-" typed after the 0 a base switch shows is the sign.
    edit(IDC_FIELD_Y)->setFocus();
    edit(IDC_FIELD_Y)->moveCursor(QTextCursor::End);
    type(IDC_FIELD_Y, "-987654321");
    EXPECT_EQ(text(IDC_FIELD_Y), "-987654321");
    // A "-" that stops being the sign goes from behind the caret.
    write_field_text(*dialog, IDC_FIELD_A, "-5");
    edit(IDC_FIELD_A)->moveCursor(QTextCursor::Start);
    type(IDC_FIELD_A, "12");
    EXPECT_EQ(text(IDC_FIELD_A), "125");
}

TEST_F(QtDialog, ProgramWritesAreNeverCut)
{
    const std::string long_text(69000, '1');
    write_field_text(*dialog, IDC_FIELD_X, long_text.c_str());
    EXPECT_TRUE(text(IDC_FIELD_X) == long_text);
    edit(IDC_FIELD_X)->moveCursor(QTextCursor::End);
    type(IDC_FIELD_X, "1");
    EXPECT_TRUE(text(IDC_FIELD_X) == long_text);
    EXPECT_EQ(dialog->status_text(), x_cut);
}

// Grown, the window gives the value fields all the room and moves the rest
// as the template's stretch rule says; back at its own size all is as the
// template puts it.
TEST_F(QtDialog, ResizingStretchesTheValueFields)
{
    std::vector<QRect> at_start;
    for (QWidget* w : dialog->controls())
        at_start.push_back(w->geometry());
    const QSize start = dialog->size();
    dialog->resize(start + QSize(100, 120));
    QApplication::processEvents();
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i));
        const QRect& s = at_start[i];
        const pixel_rect want = stretched(dialog_controls[i], {s.x(), s.y(), s.width(), s.height()}, 100, 120);
        EXPECT_EQ(dialog->controls()[i]->geometry(), QRect(want.x, want.y, want.width, want.height));
    }
    EXPECT_EQ(dialog->control(IDC_FIELD_X)->height(), at_start[1].height() + 20) << "a sixth of 120 each";
    EXPECT_EQ(dialog->control(IDC_STATUS)->y(), at_start[34].y() + 120);
    EXPECT_EQ(dialog->control(IDC_EXIT)->geometry(), at_start[32].translated(0, 120));
    dialog->resize(start);
    QApplication::processEvents();
    for (std::size_t i = 0; i < dialog_controls.size(); ++i)
        EXPECT_EQ(dialog->controls()[i]->geometry(), at_start[i]) << i;
}

TEST_F(QtDialog, MnemonicsPressTheirButtons)
{
    type(IDC_FIELD_X, "C");
    type(IDC_FIELD_Y, "12");
    QTest::keyClick(dialog.get(), Qt::Key_G, Qt::AltModifier);
    QTRY_COMPARE(text(IDC_FIELD_ANS), std::string("6"));
    settle();
    EXPECT_EQ(text(IDC_FIELD_B), "24");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 4 y- 5 z- 0 a- 0 b- 6 ans- 3");
    QTest::keyClick(dialog.get(), Qt::Key_Plus, Qt::AltModifier);
    QTRY_COMPARE(text(IDC_FIELD_ANS), std::string("1E"));
    settle();
    QTest::keyClick(dialog.get(), Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(text(IDC_FIELD_X), std::string("1E"));
    EXPECT_EQ(dialog->status_text(), "Answer copied to X.");
}

TEST_F(QtDialog, RadioButtonsSwitchTheBaseAndRedrawEveryField)
{
    type(IDC_FIELD_X, "C");
    type(IDC_FIELD_Y, "12");
    click(IDC_OP_GCD);
    const std::string status = dialog->status_text();
    click(IDC_BASE_10);
    EXPECT_TRUE(radio_checked(IDC_BASE_10));
    EXPECT_FALSE(radio_checked(IDC_BASE_16));
    const std::vector<std::string> decimal = {"12", "18", "0", "0", "36", "6"};
    for (std::size_t i = 0; i < decimal.size(); ++i)
        EXPECT_EQ(text(field_list[i]), decimal[i]) << field_list[i];
    EXPECT_EQ(dialog->status_text(), status);
    click(IDC_BASE_2);
    EXPECT_EQ(text(IDC_FIELD_X), "1100");
    // Typing now parses in the new base.
    click(IDC_CL_Z);
    EXPECT_EQ(text(IDC_FIELD_Z), "");
    type(IDC_FIELD_Z, "1012");
    EXPECT_EQ(text(IDC_FIELD_Z), "101");
    EXPECT_EQ(dialog->status_text(), "Z: '2' is not a base-2 digit.") << "the key dropped, with a hint";
    type(IDC_FIELD_Z, "1");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 4 y- 5 z- 4 a- 0 b- 6 ans- 3");
}

TEST_F(QtDialog, EnterAndEscapeDoNothing)
{
    type(IDC_FIELD_X, "A");
    const std::string status = dialog->status_text();
    for (int id : {IDC_FIELD_X, IDC_OP_ADD, IDC_BASE_10}) {
        QWidget* widget = dialog->control(id);
        widget->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(widget, key);
    }
    QTest::qWait(50);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(text(IDC_FIELD_X), "A");
    EXPECT_EQ(text(IDC_FIELD_ANS), "");
    EXPECT_TRUE(radio_checked(IDC_BASE_16));
    EXPECT_EQ(dialog->status_text(), status);
}

// X^Y MOD Z with a 32768-bit odd modulus and an 8000-bit exponent runs for
// seconds.
TEST_F(QtDialog, ALongJobKeepsTheWindowAliveRefusesInputAndStopsAtEscape)
{
    paste(IDC_FIELD_X, QString(8192, 'C'));
    paste(IDC_FIELD_Y, QString(2000, '9'));
    paste(IDC_FIELD_Z, QString(8191, 'E') + "1");
    click(IDC_OP_MUL);
    std::vector<std::string> before;
    for (int id : field_list)
        before.push_back(text(id));
    ASSERT_NE(before.back(), "");

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QTest::mouseClick(dialog->control(IDC_OP_POWMOD), Qt::LeftButton);
    ASSERT_TRUE(dialog->busy());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->status_text().rfind("Working... ", 0) == 0, 30000);
    EXPECT_GT(ticks, 0) << "the event loop ran while the job did";
    ASSERT_TRUE(dialog->busy());

    // Input is refused: typing, pasting, CL, a base and an operation.
    type(IDC_FIELD_X, "1");
    paste(IDC_FIELD_Y, "2");
    QTest::mouseClick(dialog->control(IDC_CL_Z), Qt::LeftButton);
    QTest::mouseClick(dialog->control(IDC_BASE_10), Qt::LeftButton);
    QTest::mouseClick(dialog->control(IDC_OP_ADD), Qt::LeftButton);
    EXPECT_TRUE(radio_checked(IDC_BASE_16));
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(text(field_list[i]), before[i]) << field_list[i];
    // The buttons the job refuses look disabled; About and Exit stay live.
    for (int id : {IDC_OP_ADD, IDC_OP_POWMOD, IDC_CL_Z, IDC_BASE_10, IDC_TO_X, IDC_CLEAR_ALL})
        EXPECT_FALSE(dialog->control(id)->isEnabled()) << id;
    EXPECT_TRUE(dialog->control(IDC_ABOUT)->isEnabled());
    EXPECT_TRUE(dialog->control(IDC_EXIT)->isEnabled());

    QTest::keyClick(edit(IDC_FIELD_X), Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->status_text(), std::string("Cancelled."), 10000);
    EXPECT_FALSE(dialog->busy());
    EXPECT_TRUE(dialog->control(IDC_OP_POWMOD)->isEnabled());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(text(field_list[i]), before[i]) << field_list[i];
    // Typing works again.
    type(IDC_FIELD_A, "5");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 32768 y- 8000 z- 32768 a- 3 b- 0 ans- 40767");
}

// The expression line: Enter evaluates it as a job, like a button, into Ans
// or the register it names; a long one greys the buttons, keeps the line
// read-only and stops at Esc with every field as it was.
TEST_F(QtDialog, TheExpressionLineEvaluatesAtEnterAndStopsAtEscape)
{
    QLineEdit* line = dialog->expression_line();
    line->setFocus();
    QTest::keyClicks(line, "2^44497-1");
    QTest::keyClick(line, Qt::Key_Return);
    settle();
    EXPECT_EQ(text(IDC_FIELD_ANS), "1" + std::string(11124, 'F'));
    EXPECT_EQ(dialog->status_text(), "Bits: x- 0 y- 0 z- 0 a- 0 b- 0 ans- 44497");
    line->setText("B = 0x10 + 1");
    QTest::keyClick(line, Qt::Key_Enter);
    settle();
    EXPECT_EQ(text(IDC_FIELD_B), "11");

    paste(IDC_FIELD_X, QString(8192, 'C'));
    paste(IDC_FIELD_Y, QString(2000, '9'));
    paste(IDC_FIELD_Z, QString(8191, 'E') + "1");
    std::vector<std::string> before;
    for (int id : field_list)
        before.push_back(text(id));
    line->setText("powmod(X, Y, Z) + 1");
    line->setFocus();
    QTest::keyClick(line, Qt::Key_Return);
    ASSERT_TRUE(dialog->busy());
    EXPECT_TRUE(line->isReadOnly());
    EXPECT_FALSE(dialog->control(IDC_OP_ADD)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->status_text().rfind("Working... ", 0) == 0, 30000);
    QTest::keyClick(line, Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->status_text(), std::string("Cancelled."), 10000);
    EXPECT_FALSE(line->isReadOnly());
    EXPECT_EQ(line->text(), "powmod(X, Y, Z) + 1");
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(text(field_list[i]), before[i]) << field_list[i];
}

TEST_F(QtDialog, TheCloseBoxDuringAJobEndsTheDialog)
{
    EXPECT_EXIT(
        {
            paste(IDC_FIELD_X, QString(8192, 'C'));
            paste(IDC_FIELD_Y, QString(2000, '9'));
            paste(IDC_FIELD_Z, QString(8191, 'E') + "1");
            QTest::mouseClick(dialog->control(IDC_OP_POWMOD), Qt::LeftButton);
            const bool running = dialog->busy();
            const bool closed = dialog->close();
            std::_Exit(running && closed && !dialog->isVisible() && !dialog->busy() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(QtDialog, AboutIsAModalInformationBox)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->windowTitle(), "About");
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(box->text().toStdString(), about_text);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    click(IDC_ABOUT);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(QtDialog, TheExitButtonEndsTheDialog)
{
    click(IDC_EXIT);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(QtDialog, AltEEndsTheDialog)
{
    QTest::keyClick(dialog.get(), Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 3000));
}

TEST_F(QtDialog, TheCloseBoxEndsTheDialog)
{
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(QtDialog, Base256FieldsCarryRawBytes)
{
    click(IDC_BASE_256);
    std::string every_byte;
    for (int c = 1; c < 256; ++c)
        every_byte += static_cast<char>(c);
    write_field_text(*dialog, IDC_FIELD_A, every_byte.c_str());
    EXPECT_EQ(text(IDC_FIELD_A), every_byte);
    write_field_text(*dialog, IDC_FIELD_A, "a\r\nb\rc\n");
    EXPECT_EQ(text(IDC_FIELD_A), "a\r\nb\rc\n");
    // Typed characters with a Latin-1 code are that byte; others are dropped.
    type_characters(IDC_FIELD_X, QString::fromUtf8("\u00e9\u20ac\u00ff"));
    EXPECT_EQ(text(IDC_FIELD_X), "\xe9\xff");
    EXPECT_EQ(dialog->status_text(), "Bits: x- 16 y- 0 z- 0 a- 0 b- 0 ans- 0");
}

// Every control against the template: its kind, caption and rectangle, the
// rectangle converted from dialog units with the dialog font's metrics.
TEST_F(QtDialog, ControlsMatchTheTemplate)
{
    const QFontMetrics metrics(dialog->font());
    const double unit_x =
        std::floor((metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26.0 + 1) / 2);
    const double unit_y = metrics.height();
    const auto px_x = [&](int units) { return static_cast<int>(std::lround(units * unit_x / 4)); };
    const auto px_y = [&](int units) { return static_cast<int>(std::lround(units * unit_y / 8)); };
    // The template's size, and the expression line's row below it.
    EXPECT_EQ(dialog->size(), QSize(px_x(326), px_y(267 + 16)));
    QLineEdit* line = dialog->expression_line();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->geometry(), QRect(px_x(46), px_y(268), px_x(273), px_y(12)));
    EXPECT_EQ(line->accessibleName(), "Expression");
    EXPECT_FALSE(line->isReadOnly());

    ASSERT_EQ(dialog->controls().size(), 50u);
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const template_control& c = dialog_controls[i];
        QWidget* w = dialog->controls()[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_EQ(w->geometry(), QRect(px_x(c.x), px_y(c.y), px_x(c.width), px_y(c.height)));
        EXPECT_TRUE(w->isVisible());
        const QString caption = QString::fromLatin1(c.caption);
        switch (c.kind) {
        case control_kind::label:
            ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
            EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), caption);
            break;
        case control_kind::field_edit:
        case control_kind::answer_edit: {
            auto* e = dynamic_cast<field_edit*>(w);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->isReadOnly(), c.kind == control_kind::answer_edit);
            EXPECT_EQ(e->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            EXPECT_EQ(e->limit(), 65531);
            break;
        }
        case control_kind::status_edit:
            ASSERT_NE(qobject_cast<QLineEdit*>(w), nullptr);
            EXPECT_TRUE(qobject_cast<QLineEdit*>(w)->isReadOnly());
            break;
        case control_kind::group_box:
            ASSERT_NE(qobject_cast<QGroupBox*>(w), nullptr);
            EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), "");
            break;
        case control_kind::auto_radio:
            ASSERT_NE(qobject_cast<QRadioButton*>(w), nullptr);
            EXPECT_EQ(qobject_cast<QRadioButton*>(w)->text(), caption);
            break;
        case control_kind::push_button:
        case control_kind::flat_button:
            ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr);
            EXPECT_EQ(w->toolTip(), QString::fromLatin1(tooltip_of(c.id) ? tooltip_of(c.id) : ""));
            EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), caption);
            EXPECT_EQ(qobject_cast<QPushButton*>(w)->isFlat(), c.kind == control_kind::flat_button);
            break;
        }
    }
}

TEST_F(QtDialog, HistoryPanelListsAnswersRecallsAndUndoes)
{
    type(IDC_FIELD_X, "1F");
    type(IDC_FIELD_Y, "3");
    click(IDC_OP_ADD);
    click(IDC_OP_MUL);
    QListWidget* list = dialog->history()->list();
    EXPECT_FALSE(list->isVisible());
    const int narrow = dialog->width();
    QTest::mouseClick(dialog->history()->button(IDC_HISTORY_TOGGLE), Qt::LeftButton);
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(dialog->width(), narrow + dialog->history()->width());
    EXPECT_EQ(QApplication::focusWidget(), list);
    EXPECT_EQ(list->accessibleName(), "History");
    EXPECT_EQ(dialog->history()->button(IDC_RECALL)->accessibleName(), "Recall entry");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "1 X+Y: X=1F Y=3 -> Ans=22 [base 16]");
    EXPECT_EQ(list->item(1)->text(), "2 X*Y: X=1F Y=3 -> Ans=5D [base 16]");
    // The template's controls keep their places; the panel is beside them.
    EXPECT_LE(dialog->control(IDC_FIELD_X)->geometry().right(), list->parentWidget()->geometry().left());

    // Enter on an entry recalls it, in the base shown now.
    click(IDC_BASE_10);
    click(IDC_CL_X);
    list->setFocus();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(text(IDC_FIELD_X), "31");
    EXPECT_EQ(text(IDC_FIELD_ANS), "34");
    EXPECT_EQ(dialog->status_text(), "Entry 1 recalled: X+Y.");
    // Alt+U undoes the recall, Alt+R redoes it (a mnemonic clicks its
    // button a moment later), also from the list.
    QTest::keyClick(list, Qt::Key_U, Qt::AltModifier);
    QTRY_COMPARE(dialog->status_text(), std::string("Undone: recall of entry 1."));
    EXPECT_EQ(text(IDC_FIELD_X), "");
    EXPECT_EQ(text(IDC_FIELD_ANS), "93");
    QTest::keyClick(dialog->control(IDC_FIELD_Y), Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(text(IDC_FIELD_X), std::string("31"));
    // Undo goes on through CL and the base switch.
    QPushButton* undo = dialog->history()->button(IDC_UNDO);
    QTest::mouseClick(undo, Qt::LeftButton);
    QTest::mouseClick(undo, Qt::LeftButton);
    EXPECT_EQ(text(IDC_FIELD_X), "31");
    QTest::mouseClick(undo, Qt::LeftButton);
    EXPECT_EQ(text(IDC_FIELD_X), "1F");
    EXPECT_TRUE(radio_checked(IDC_BASE_16));
    // A field's Ctrl+Z still undoes typing in it.
    type(IDC_FIELD_Y, "4");
    QTest::keyClick(dialog->control(IDC_FIELD_Y), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(IDC_FIELD_Y), "3");

    QTest::mouseClick(dialog->history()->button(IDC_HISTORY_TOGGLE), Qt::LeftButton);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(dialog->width(), narrow);
}

TEST_F(QtDialog, CopyInBaseMenuAndValueTooltip)
{
    type(IDC_FIELD_X, "FF");
    std::unique_ptr<QMenu> menu(dialog->history()->context_menu(edit(IDC_FIELD_X), IDC_FIELD_X, QPoint(2, 2)));
    QMenu* copy = nullptr;
    for (QAction* action : menu->actions())
        if (action->menu() != nullptr && action->text() == "Copy in &base")
            copy = action->menu();
    ASSERT_NE(copy, nullptr);
    QStringList bases;
    for (QAction* action : copy->actions())
        bases << action->text();
    EXPECT_EQ(bases, QStringList({"2", "8", "10", "16", "36", "60", "64", "256"}));
    const auto copied = [&](const char* base) {
        for (QAction* action : copy->actions())
            if (action->text() == base)
                action->trigger();
        return QApplication::clipboard()->text();
    };
    EXPECT_EQ(copied("10"), "255");
    EXPECT_EQ(copied("2"), "11111111");
    EXPECT_EQ(copied("64"), "/w");
    EXPECT_EQ(text(IDC_FIELD_X), "FF") << "the window's base stays";
    EXPECT_TRUE(radio_checked(IDC_BASE_16));

    QWidget* viewport = edit(IDC_FIELD_X)->viewport();
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), viewport->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(viewport, &hover);
    EXPECT_EQ(QToolTip::text(), "X = 255\nX = 0xFF\n8 bits");
}

TEST_F(QtDialog, TabVisitsTheControlsInTemplateOrderExceptOne)
{
    std::vector<int> expected;
    for (const template_control& c : dialog_controls)
        if (c.tab_stop)
            expected.push_back(c.id);
    ASSERT_EQ(expected.size(), 39u);
    dialog->control(expected.front())->setFocus();
    std::vector<int> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QWidget* focused = QApplication::focusWidget();
        int id = 0;
        for (std::size_t k = 0; k < dialog_controls.size(); ++k)
            if (dialog->controls()[k] == focused)
                id = dialog_controls[k].id;
        visited.push_back(id);
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected);
    // Then the controls beside the template's: the expression line, Undo,
    // Redo, History (the hidden panel's list and Recall are passed over),
    // and round again.
    EXPECT_EQ(QApplication::focusWidget(), dialog->expression_line());
    QTest::keyClick(dialog->expression_line(), Qt::Key_Tab);
    for (const int id : {IDC_UNDO, IDC_REDO, IDC_HISTORY_TOGGLE}) {
        EXPECT_EQ(QApplication::focusWidget(), dialog->history()->button(id)) << id;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(QApplication::focusWidget(), dialog->control(expected.front()));  // round again
    EXPECT_EQ(dialog->control(IDC_OP_POWER_SUM)->focusPolicy(), Qt::ClickFocus);
}

// What a screen reader says: the names of the table, the labels tied to
// their fields, the captions unchanged, and the status line announced
// through the status field's description.
TEST_F(QtDialog, ControlsHaveTheirAccessibleNamesAndTheStatusIsAnnounced)
{
    for (const accessible_name& n : accessible_names) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(dialog->control(n.id));
        ASSERT_NE(control, nullptr) << n.name;
        EXPECT_EQ(control->text(QAccessible::Name).toStdString(), n.name);
    }
    EXPECT_EQ(static_cast<QPushButton*>(dialog->control(IDC_CL_B))->text(), QStringLiteral("CL"));
    EXPECT_EQ(static_cast<QRadioButton*>(dialog->control(IDC_BASE_60))->text(), QStringLiteral("60"));
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const int row = field_row_of(dialog_controls[i]);
        if (dialog_controls[i].kind == control_kind::label && row < field_count) {
            EXPECT_EQ(static_cast<QLabel*>(dialog->controls()[i])->buddy(),
                      dialog->control(value_fields[static_cast<std::size_t>(row)].id))
                << dialog_controls[i].caption;
        }
    }

    click(IDC_CLEAR_ALL);
    EXPECT_EQ(dialog->control(IDC_STATUS)->accessibleDescription(), QStringLiteral("ALL Cleared."));
    type(IDC_FIELD_X, QStringLiteral("1F"));
    EXPECT_EQ(dialog->control(IDC_STATUS)->accessibleDescription(), QString::fromLatin1(bits_5));
}

// A control added beside the template's joins the Tab chain after them.
TEST_F(QtDialog, TabReachesAControlAddedAfterTheTemplatesOnes)
{
    auto* added = new QLineEdit(dialog.get());
    added->setGeometry(0, 0, 10, 10);
    added->show();
    // After the template's last control come the controls the window adds
    // beside it (Undo, Redo, History, ...), none of the template's, and then
    // the one added last.
    dialog->control(IDC_OP_PRIME)->setFocus();
    const auto& template_controls = dialog->controls();
    int steps = 0;
    do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(std::find(template_controls.begin(), template_controls.end(), QApplication::focusWidget()),
                  template_controls.end());
    } while (QApplication::focusWidget() != added && ++steps < 10);
    EXPECT_EQ(QApplication::focusWidget(), added);
    QTest::keyClick(added, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog->control(IDC_FIELD_X));
    QTest::keyClick(dialog->control(IDC_FIELD_X), Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), added);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
