// SPDX-License-Identifier: GPL-3.0-or-later
// The window without a mouse: Tab visits every control in reading order,
// Enter presses the focused button as a click would, the space bar still
// clicks Play from wherever the focus is, and the focus mark shows only once
// the keyboard has moved the focus. The unsaved-recording question answers
// Alt+S, Alt+D and Esc; the help window closes on Esc and Ctrl+W.
#include "app/helpunit.h"
#include "app/question.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "tests/app/apptest.h"
#include "tests/app/mainwindowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>

namespace {

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        StartMainWindow(form, TimerTicks::Stopped);
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override { CloseMainWindow(form); }

    // Tab from wherever the focus is, as many times as asked.
    void Tab(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form.get(), Qt::Key_Tab);
    }

    RecordedMessages messages;
    std::unique_ptr<TMainForm> form;
};

TEST_F(Keyboard, TabVisitsEveryControlInReadingOrderAndComesRound)
{
    const std::vector<QWidget *> expected{
        form->PlayButton,      form->RecordButton,     form->RecSourceToggleButton, form->MikeSlider,
        form->SpeakerSlider,   form->PitchBar,         form->SweepUpButton,         form->EchoButton,
        form->ChorusButton,    form->FlangeButton,     form->FadeInButton,          form->fadeOutButton,
        form->SweepDownButton, form->BassOnlyButton,   form->RobotvoiceButton,      form->BackwardButton,
        form->SlowMonstButton, form->FastSqueakButton, form->TrebleOnlyButton,      form->SF1Button,
        form->SF2Button,       form->SF3Button};
    // The window gives its first control the focus when it is shown.
    ASSERT_EQ(QApplication::focusWidget(), expected[0]);
    std::vector<QWidget *> visited{QApplication::focusWidget()};
    for (std::size_t i = 1; i <= expected.size(); ++i) {
        Tab();
        visited.push_back(QApplication::focusWidget());
    }
    std::vector<QWidget *> round = expected;
    round.push_back(expected[0]);
    EXPECT_EQ(visited, round);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), expected.back());
}

TEST_F(Keyboard, EachKeyDoesWhatTheMouseWouldOnTheFocusedControl)
{
    QSignalSpy playClicks(form->PlayButton, &TQMBL_SawToothButton::OnClick);
    QSignalSpy inputClicks(form->RecSourceToggleButton, &TQMBL_SawToothButton::OnClick);
    QSignalSpy presetClicks(form->SF2Button, &TQMBL_EllipticalButton::OnClick);
    struct Case {
        const char *What;
        QWidget *Control;
        Qt::Key Key;
        std::function<bool()> Done;
    };
    const Case cases[] = {
        {"Enter on Echo selects it", form->EchoButton, Qt::Key_Return,
         [&] { return form->Document.Effects.Echo && form->EchoButton->Down(); }},
        {"Enter again takes it off", form->EchoButton, Qt::Key_Enter,
         [&] { return !form->Document.Effects.Echo && !form->EchoButton->Down(); }},
        {"Enter on Sweep Down selects it", form->SweepDownButton, Qt::Key_Return,
         [&] { return form->Document.Effects.SweepDown && form->SweepDownButton->Down(); }},
        {"Enter on the input button clicks it", form->RecSourceToggleButton, Qt::Key_Return,
         [&] { return inputClicks.count() == 1; }},
        {"Enter on a preset clicks it", form->SF2Button, Qt::Key_Return, [&] { return presetClicks.count() == 1; }},
        {"Enter on Play clicks it", form->PlayButton, Qt::Key_Return, [&] { return playClicks.count() == 1; }},
        // The space bar is the window's: it clicks Play and leaves the
        // focused button alone.
        {"Space on Robot Voice clicks Play", form->RobotvoiceButton, Qt::Key_Space,
         [&] { return playClicks.count() == 2 && !form->Document.Effects.Robotvoice; }},
        {"Up on the pitch bar moves it", form->PitchBar, Qt::Key_Up, [&] { return form->PitchBar->Position() != 6; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        c.Control->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), c.Control);
        QTest::keyClick(c.Control, c.Key);
        QCoreApplication::processEvents(); // the space bar's click is posted
        EXPECT_TRUE(c.Done());
    }
}

// The pixels of a control that differ between two pictures of it.
std::vector<QPoint> Changed(const QImage &a, const QImage &b)
{
    std::vector<QPoint> changed;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                changed.emplace_back(x, y);
    return changed;
}

TEST_F(Keyboard, TheFocusMarkShowsOnlyOnceTheKeyboardMovedTheFocus)
{
    // At start-up Play has the focus and looks as it does without it.
    ASSERT_EQ(QApplication::focusWidget(), form->PlayButton);
    const QImage startUp = form->PlayButton->grab().toImage();
    form->PlayButton->clearFocus();
    const QImage unfocused = form->PlayButton->grab().toImage();
    EXPECT_EQ(startUp, unfocused);

    // Tab to Record: a dotted black frame inside its plate, every other
    // pixel of it; Tab away and it is gone.
    const QImage before = form->RecordButton->grab().toImage();
    form->PlayButton->setFocus(Qt::TabFocusReason);
    Tab();
    ASSERT_EQ(QApplication::focusWidget(), form->RecordButton);
    const QImage marked = form->RecordButton->grab().toImage();
    const std::vector<QPoint> mark = Changed(before, marked);
    const int t = form->RecordButton->ToothSize();
    const QRect frame(t + 2, t + 2, marked.width() - 2 * t - 5, marked.height() - 2 * t - 5);
    const int perimeter = 2 * (frame.width() - 1) + 2 * (frame.height() - 1);
    EXPECT_GE(static_cast<int>(mark.size()), perimeter / 2 - perimeter / 4);
    for (const QPoint &p : mark) {
        EXPECT_TRUE(p.x() == frame.left() || p.x() == frame.right() || p.y() == frame.top() || p.y() == frame.bottom())
            << p.x() << "," << p.y();
        EXPECT_EQ(marked.pixelColor(p), QColor(Qt::black));
    }
    Tab();
    EXPECT_EQ(form->RecordButton->grab().toImage(), before);

    // The pitch bar shows the same mark along its edge (inside it, the
    // style's own focus look, which it also shows only after Tab).
    const QImage bar = form->PitchBar->grab().toImage();
    form->PitchBar->setFocus(Qt::BacktabFocusReason);
    const QImage barMarked = form->PitchBar->grab().toImage();
    int edgeDots = 0;
    for (const QPoint &p : Changed(bar, barMarked))
        if (p.x() == 0 || p.y() == 0 || p.x() == bar.width() - 1 || p.y() == bar.height() - 1) {
            EXPECT_EQ(barMarked.pixelColor(p), QColor(Qt::black));
            ++edgeDots;
        }
    EXPECT_GE(edgeDots, bar.width() + bar.height() - 2 - 4); // about half the frame's pixels

    // A click never gives a drawn button the focus.
    QTest::mouseClick(form->EchoButton, Qt::LeftButton, {}, QPoint(60, 30));
    EXPECT_NE(QApplication::focusWidget(), form->EchoButton);
}

TEST(SaveQuestion, AltLettersAnswerAndEscapeCancels)
{
    TestApp();
    // The real question, not the tests' stand-in.
    const SaveQuestionAnswerer standIn = SetSaveQuestionAnswerer({});
    struct Case {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
        TSaveAnswer Answer;
    };
    for (const Case &c :
         {Case{Qt::Key_S, Qt::AltModifier, TSaveAnswer::Save}, Case{Qt::Key_D, Qt::AltModifier, TSaveAnswer::Discard},
          Case{Qt::Key_Escape, Qt::NoModifier, TSaveAnswer::Cancel}}) {
        QString shown;
        // Once the question is up: its buttons, then the key.
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            poll.stop();
            for (QAbstractButton *button : box->buttons())
                shown += button->text() + QLatin1Char(' ');
            QTest::keyClick(box, c.Key, c.Modifiers);
            // A key that did nothing fails below instead of waiting forever.
            QTimer::singleShot(2000, box, [box] { box->done(-1); });
        });
        poll.start();
        EXPECT_EQ(AskSaveFirst("The recording has not been saved. Save it first?", nullptr), c.Answer);
        EXPECT_TRUE(shown.contains(QStringLiteral("&Save")) && shown.contains(QStringLiteral("&Discard")) &&
                    shown.contains(QStringLiteral("Cancel")))
            << shown.toStdString();
    }
    SetSaveQuestionAnswerer(standIn);
}

TEST(HelpWindowKeys, EscapeAndCtrlWCloseIt)
{
    TestApp();
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::CTRL, Qt::Key_W)}) {
        THelpWindow help(nullptr);
        help.ShowContents();
        help.show();
        QApplication::setActiveWindow(&help);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &help, keys.key(),
                        keys.keyboardModifiers());
        EXPECT_FALSE(help.isVisible()) << QKeySequence(keys).toString().toStdString();
    }
}

} // namespace
