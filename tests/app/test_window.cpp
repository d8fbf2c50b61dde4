// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as built: its size and place, every component at its
// bounds, the menus, the rounded shape and the bevel, the momentary buttons
// and the space bar. Nothing here needs the mixer, so start-up is not run.
#include "app/look.h"
#include "app/mfunit.h"
#include "app/question.h"
#include "app/seams.h"
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"
#include "tests/app/apptest.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
    }

    void ShowAndActivate()
    {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    std::unique_ptr<TMainForm> form;
};

TEST_F(MainWindow, ClientAreaIs608By393AtTheDesignedPlace)
{
    EXPECT_EQ(form->ClientArea->size(), QSize(608, 393));
    EXPECT_EQ(form->width(), 608);
    EXPECT_GT(form->MainMenu1->height(), 10);
    EXPECT_EQ(form->height(), 393 + form->MainMenu1->height());
    EXPECT_EQ(form->ClientArea->y(), form->MainMenu1->height());
    EXPECT_EQ(form->pos(), QPoint(99, 94));
}

TEST_F(MainWindow, ComponentsStandAtTheirBounds)
{
    const struct {
        const char *Name;
        QWidget *Widget;
        QRect Bounds;
    } components[] = {
        {"QuombleLabel", form->QuombleLabel, {0, 0, 608, 20}},
        {"PlayButton", form->PlayButton, {12, 50, 86, 52}},
        {"RecordButton", form->RecordButton, {9, 158, 96, 53}},
        {"VolLED", form->VolLED, {19, 100, 71, 34}},
        {"time panel", form->TimePanel, {9, 143, 95, 20}},
        {"RecSourceToggleButton", form->RecSourceToggleButton, {-8, 197, 68, 41}},
        {"RecSourceLabel", form->RecSourceLabel, {50, 207, 79, 20}},
        {"MicSliderPanel", form->MicSliderPanel, {121, 34, 91, 207}},
        {"MikeSlider", form->MikeSlider, {28, 67, 35, 117}},
        {"SpkSliderPanel", form->SpkSliderPanel, {425, 34, 91, 207}},
        {"SpeakerSlider", form->SpeakerSlider, {29, 67, 35, 117}},
        {"WaveDisplay", form->WaveDisplay, {215, 55, 206, 165}},
        {"PitchBar", form->PitchBar, {536, 82, 45, 134}},
        {"Shape1", form->Shape1, {16, 247, 579, 85}},
        {"EchoButton", form->EchoButton, {22, 234, 132, 61}},
        {"ChorusButton", form->ChorusButton, {130, 234, 132, 61}},
        {"FlangeButton", form->FlangeButton, {238, 234, 132, 61}},
        {"FadeInButton", form->FadeInButton, {346, 234, 132, 61}},
        {"fadeOutButton", form->fadeOutButton, {454, 234, 132, 61}},
        {"BassOnlyButton", form->BassOnlyButton, {22, 282, 96, 60}},
        {"RobotvoiceButton", form->RobotvoiceButton, {94, 282, 132, 60}},
        {"BackwardButton", form->BackwardButton, {202, 282, 132, 60}},
        {"SlowMonstButton", form->SlowMonstButton, {310, 282, 96, 60}},
        {"FastSqueakButton", form->FastSqueakButton, {382, 282, 132, 60}},
        {"TrebleOnlyButton", form->TrebleOnlyButton, {490, 282, 96, 60}},
        {"SweepUpButton", form->SweepUpButton, {5, 236, 39, 104}},
        {"SweepDownButton", form->SweepDownButton, {564, 236, 39, 104}},
        {"SF1Button", form->SF1Button, {168, 335, 58, 58}},
        {"SF2Button", form->SF2Button, {276, 336, 58, 58}},
        {"SF3Button", form->SF3Button, {383, 336, 58, 58}},
    };
    for (const auto &c : components)
        EXPECT_EQ(c.Widget->geometry(), c.Bounds) << c.Name;
    EXPECT_EQ(form->Label8->pos(), QPoint(520, 63));
    EXPECT_EQ(form->Label9->pos(), QPoint(520, 216));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("Helium Breath"));
    EXPECT_EQ(form->Label9->text(), QStringLiteral("Sulphur Breath"));
    EXPECT_LE(form->Label9->geometry().right(), 607) << "the label ends inside the window";
    EXPECT_LE(form->Label8->geometry().right(), 607);
}

TEST_F(MainWindow, SawToothButtonsHaveTheirTeeth)
{
    const struct {
        TQMBL_SawToothButton *Button;
        int Left, Top, Right, Bottom, Size;
    } teeth[] = {
        {form->PlayButton, 2, 0, 1, 0, 12},
        {form->RecordButton, 3, 0, 1, 0, 12},
        {form->RecSourceToggleButton, 0, 0, 0, 0, 10},
        {form->EchoButton, 0, 0, 0, 3, 12},
        {form->fadeOutButton, 0, 0, 0, 3, 12},
        {form->BassOnlyButton, 0, -2, 0, 0, 12},
        {form->RobotvoiceButton, 0, -3, 0, 0, 12},
        {form->SlowMonstButton, 0, -2, 0, 0, 12},
        {form->FastSqueakButton, 0, -3, 0, 0, 12},
        {form->TrebleOnlyButton, 0, -2, 0, 0, 12},
        {form->SweepUpButton, 0, 0, 0, 0, 10},
        {form->SweepDownButton, 0, 0, 0, 0, 10},
    };
    for (const auto &t : teeth) {
        EXPECT_EQ(t.Button->LeftTeeth(), t.Left);
        EXPECT_EQ(t.Button->TopTeeth(), t.Top);
        EXPECT_EQ(t.Button->RightTeeth(), t.Right);
        EXPECT_EQ(t.Button->BottomTeeth(), t.Bottom);
        EXPECT_EQ(t.Button->ToothSize(), t.Size);
        EXPECT_FALSE(t.Button->Down());
        // Every button carries a picture pair that fits inside its plate.
        EXPECT_FALSE(t.Button->UpImage().isNull());
        EXPECT_NE(t.Button->UpImage(), t.Button->DownImage());
        EXPECT_LE(t.Button->UpImage().width(), t.Button->width() - 2 * t.Size);
        EXPECT_LE(t.Button->UpImage().height(), t.Button->height() - 2 * t.Size);
    }
}

TEST_F(MainWindow, SlidersAndDisplaysAreSetUpAsDesigned)
{
    EXPECT_EQ(form->RecSourceLabel->textFormat(), Qt::PlainText) << "the server names the input";
    for (TQMBL_TrackBar *slider : {form->MikeSlider, form->SpeakerSlider}) {
        EXPECT_EQ(slider->Orientation(), TTrackBarOrientation::trVertical);
        EXPECT_EQ(slider->Min(), 0);
        EXPECT_EQ(slider->Max(), 255);
    }
    EXPECT_EQ(form->PitchBar->Orientation(), TTrackBarOrientation::trVertical);
    EXPECT_EQ(form->PitchBar->Position(), 6);
    EXPECT_EQ(form->WaveDisplay->SamplesPerPixel(), 40);
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);
    EXPECT_EQ(form->VolLED->NumLEDs(), 8);
    EXPECT_EQ(form->VolLED->LEDOnColor(), QColor(255, 0, 0));
    EXPECT_EQ(form->VolLED->LEDOffColor(), QColor(128, 0, 0));
    EXPECT_EQ(form->VolLED->Color(), QColor(Qt::black));
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:00 "));
    EXPECT_EQ(form->RecSourceLabel->text(), QStringLiteral("Mic"));
    EXPECT_EQ(form->RecordLabel->text(), QStringLiteral("Record"));
    EXPECT_EQ(form->Label11->text(), QStringLiteral("Play"));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("LOUD"));
    EXPECT_EQ(form->Label5->text(), QStringLiteral("soft"));
    EXPECT_EQ(form->Timer->interval(), 100);
}

QStringList Captions(const QMenu *menu)
{
    QStringList captions;
    for (const QAction *item : menu->actions())
        captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    return captions;
}

TEST_F(MainWindow, MenusCarryTheirItemsInOrder)
{
    QStringList bar;
    for (const QAction *menu : form->MainMenu1->actions())
        bar << menu->text();
    EXPECT_EQ(bar, (QStringList{"&File", "&Edit", "&Options", "&Help"}));
    EXPECT_EQ(Captions(form->Edit1), (QStringList{"&Undo", "&Redo", "-", "Cu&t", "C&rop to Selection", "Trim &Silence",
                                                  "&Normalise", "-", "Select &All", "-", "&Edit Voice..."}));
    EXPECT_EQ(Captions(form->File1),
              (QStringList{"&New", "&Open...", "&Save", "Save &As...", "&Export", "-", "E&xit"}));
    EXPECT_EQ(Captions(form->Export1), (QStringList{"to WAVE File...", "to RealAudio File...", "to MP3 File..."}));
    EXPECT_EQ(Captions(form->Options1),
              (QStringList{"&Echo", "&Chorus", "&Flange", "Fade &In", "Fade &Out", "&Bass Only", "&Robotvoice",
                           "Back&ward", "Slow &Monster", "Fast S&queaker", "&Treble Only", "Sweep &Up", "Sweep &Down",
                           "-", "Loop", "&Live Voice", "&Preferences..."}));
    EXPECT_FALSE(form->Preferences1->isCheckable());
    EXPECT_TRUE(form->Loop1->isCheckable());
    EXPECT_EQ(Captions(form->Help1), (QStringList{"Help &Topics", "How To Use &Help", "-", "&About"}));
    EXPECT_FALSE(form->Save1->isEnabled());
    EXPECT_FALSE(form->SaveAs1->isEnabled());
    EXPECT_FALSE(form->Export1->menuAction()->isEnabled());
    EXPECT_TRUE(form->New1->isEnabled());
    EXPECT_TRUE(form->Open1->isEnabled());
}

TEST_F(MainWindow, FileDialogsAreDesignedForWaveFiles)
{
    EXPECT_EQ(form->OpenFileDialog.Title, "Open a Voice File");
    EXPECT_EQ(form->OpenFileDialog.Kind, TFileDialog::TKind::Open);
    EXPECT_TRUE(form->OpenFileDialog.FileMustExist);
    EXPECT_EQ(form->SaveFileDialog.Title, "Save Voice As File");
    EXPECT_TRUE(form->SaveFileDialog.OverwritePrompt);
    EXPECT_EQ(form->ExportFileDialog.Title, "Export File As");
    for (const TFileDialog *dialog : {&form->SaveFileDialog, &form->ExportFileDialog}) {
        EXPECT_EQ(dialog->FilterName, "Wave Files");
        EXPECT_EQ(dialog->FilterPattern, "*.wav");
        EXPECT_EQ(dialog->DefaultExt, "wav");
        EXPECT_TRUE(dialog->MoreFilters.empty());
    }
    // Open takes every sound file, then offers WAVE files and all files.
    EXPECT_EQ(form->OpenFileDialog.FilterName, "Sound Files");
    EXPECT_NE(form->OpenFileDialog.FilterPattern.find("*.wav"), std::string::npos);
    EXPECT_EQ(form->OpenFileDialog.DefaultExt, "wav");
    EXPECT_EQ(form->OpenFileDialog.MoreFilters,
              (std::vector<std::pair<std::string, std::string>>{{"Wave Files", "*.wav"}, {"All Files", "*"}}));
}

TEST(FileDialogSeam, AnswererSeesTheDialogAndChoosesTheFile)
{
    TFileDialog dialog{TFileDialog::TKind::Save, "Export File As", "Wave Files", "*.wav", "wav", "", true, true, false};
    std::string seenTitle;
    FileDialogAnswerer previous = SetFileDialogAnswerer([&seenTitle](TFileDialog &d, QWidget *) {
        seenTitle = d.Title;
        d.FileName = "/tmp/out.wav";
        return true;
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(seenTitle, "Export File As");
    EXPECT_EQ(dialog.FileName, "/tmp/out.wav");

    SetFileDialogAnswerer([](TFileDialog &, QWidget *) { return false; });
    dialog.FileName.clear();
    EXPECT_FALSE(dialog.Execute());
    EXPECT_TRUE(dialog.FileName.empty());
    SetFileDialogAnswerer(previous);
}

TEST(MessageBoxes, ShowNamesAsTheyAreNeverAsMarkup)
{
    TestApp();
    // A file may be named like a piece of markup; the box shows its letters.
    const std::string name = "<img src=/x.png><b>bold</b>.wav";
    struct Seen {
        Qt::TextFormat Format = Qt::AutoText;
        QString Text;
    } message, question;
    auto lookAndClose = [](Seen &seen) {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->textFormat(), box->text()};
        // Cancel where there is one, else OK.
        box->done(box->button(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok);
    };
    MessageSink *previous = SetMessages(nullptr); // the real message boxes
    QTimer::singleShot(0, [&] { lookAndClose(message); });
    Messages().ShowMessage("Incompatible file format of: " + name, "Glimmerbox");
    SaveQuestionAnswerer answerer = SetSaveQuestionAnswerer({}); // the real question box
    QTimer::singleShot(0, [&] { lookAndClose(question); });
    EXPECT_EQ(AskSaveFirst("Save " + name + "?", nullptr), TSaveAnswer::Cancel);
    SetSaveQuestionAnswerer(answerer);
    SetMessages(previous);

    EXPECT_EQ(message.Format, Qt::PlainText);
    EXPECT_EQ(message.Text.toStdString(), "Incompatible file format of: " + name);
    EXPECT_EQ(question.Format, Qt::PlainText);
    EXPECT_EQ(question.Text.toStdString(), "Save " + name + "?");
}

// An independent account of the shape: inside the window rectangle, and in
// the two bottom corner squares inside the circle of radius 75 around the
// corner's centre (the ellipse box is one pixel past the window on the right
// and bottom). Points within 2 pixels of the circle are left undecided.
enum class Side { Inside, Outside, Undecided };

Side ExpectedSide(int x, int y, int w, int h)
{
    if (x < 0 || y < 0 || x >= w || y >= h)
        return Side::Outside;
    const double right = w + 1;
    const double bottom = h + 1;
    double cx;
    if (x < 75)
        cx = 75;
    else if (x >= right - 75)
        cx = right - 75;
    else
        return Side::Inside;
    const double cy = bottom - 75;
    if (y < cy)
        return Side::Inside;
    const double distance = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
    if (distance < 73)
        return Side::Inside;
    if (distance > 77)
        return Side::Outside;
    return Side::Undecided;
}

TEST(WindowShape, TopCornersAreSquareAndBottomCornersRound)
{
    const int w = 608;
    const int h = 417;
    const QRegion shape = MainWindowShape(w, h);
    EXPECT_TRUE(shape.contains(QPoint(0, 0)));
    EXPECT_TRUE(shape.contains(QPoint(w - 1, 0)));
    EXPECT_FALSE(shape.contains(QPoint(0, h - 1)));
    EXPECT_FALSE(shape.contains(QPoint(w - 1, h - 1)));
    EXPECT_FALSE(shape.contains(QPoint(20, h - 10)));
    EXPECT_TRUE(shape.contains(QPoint(w / 2, h - 1)));
    EXPECT_TRUE(shape.contains(QPoint(2, h - 76)));
    EXPECT_TRUE(shape.contains(QPoint(0, h - 151)));

    int decided = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Side side = ExpectedSide(x, y, w, h);
            if (side == Side::Undecided)
                continue;
            ++decided;
            ASSERT_EQ(shape.contains(QPoint(x, y)), side == Side::Inside) << x << "," << y;
        }
    EXPECT_GT(decided, w * h - 2 * 600);
}

TEST_F(MainWindow, ShownWindowTakesItsShape)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->mask(), MainWindowShape(form->width(), form->height()));
    EXPECT_FALSE(form->mask().contains(QPoint(1, form->height() - 2)));
    EXPECT_TRUE(form->mask().contains(QPoint(1, 1)));
    // Here, as on X11, the mask alone shapes the window: no transparent surface.
    EXPECT_FALSE(form->testAttribute(Qt::WA_TranslucentBackground));
}

TEST_F(MainWindow, BevelRunsAlongTheRoundedCorners)
{
    const QImage picture = form->grab().toImage();
    const int w = form->width();
    const int h = form->height();
    // Around the middle of the bottom-right arc (315 degrees on the circle
    // about (w - 75, h - 75)) lie the grey and black outer pens.
    int grey = 0;
    int black = 0;
    for (int y = h - 26; y <= h - 18; ++y)
        for (int x = w - 26; x <= w - 18; ++x) {
            grey += picture.pixel(x, y) == 0xFF808080u;
            black += picture.pixel(x, y) == 0xFF000000u;
        }
    EXPECT_GT(grey, 0);
    EXPECT_GT(black, 0);
    // The left arc's inner edge carries the white highlight.
    int white = 0;
    for (int y = h - 80; y <= h - 60; ++y)
        for (int x = 0; x <= 4; ++x)
            white += picture.pixel(x, y) == 0xFFFFFFFFu;
    EXPECT_GT(white, 0);
    // Away from the corners the window is plain silver.
    EXPECT_EQ(picture.pixel(w / 2, h - 5), 0xFFC0C0C0u);
}

TEST_F(MainWindow, MomentaryButtonsSpringBackOnTheNextTick)
{
    ShowAndActivate();
    RecordedMessages messages;
    form->PresetFolder = "/nonexistent-glimmer-presets";
    QTest::mouseClick(form->SF2Button, Qt::LeftButton, {}, QPoint(29, 29));
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Error: The file named /nonexistent-glimmer-presets/SF2.WAV does not exist.");
    form->SF1Button->SetDown(true);
    form->SF3Button->SetDown(true);
    form->RecSourceToggleButton->SetDown(true);
    ASSERT_TRUE(form->SF2Button->Down());
    form->TimerTimer();
    EXPECT_FALSE(form->SF1Button->Down());
    EXPECT_FALSE(form->SF2Button->Down());
    EXPECT_FALSE(form->SF3Button->Down());
    EXPECT_FALSE(form->RecSourceToggleButton->Down());
}

TEST_F(MainWindow, RecordButtonLeftDownWhileNotRecordingIsPutUpOnTheNextTick)
{
    // A click on Record that started nothing leaves the button down; the
    // tick puts it up again.
    form->RecordButton->SetDown(true);
    form->TimerTimer();
    EXPECT_FALSE(form->RecordButton->Down());
}

TEST_F(MainWindow, RecordButtonStaysDownWhileRecording)
{
    // The button held down is the running recording: the tick leaves it.
    form->Recorder.Recording = true;
    form->RecordButton->SetDown(true);
    form->TimerTimer();
    EXPECT_TRUE(form->RecordButton->Down());
    form->Recorder.Recording = false;
}

TEST_F(MainWindow, TimerRunsEveryHundredMilliseconds)
{
    // The tick itself is what matters: a selection the program changed is
    // shown once the timer has run.
    form->Document.Effects.Echo = true;
    form->Timer->start();
    EXPECT_TRUE(ProcessEventsUntil([this] { return form->Echo1->isChecked(); }));
}

TEST_F(MainWindow, SpaceBarClicksPlay)
{
    ShowAndActivate();
    RecordedMessages messages;
    // Through the window, as the keyboard delivers: to the control with the
    // focus. With no voice, Play says so and the button springs back up.
    QTest::keyClick(form->windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !messages.Shown.empty(); }));
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first,
              "There is no voice in memory, either record a voice or load one from a file on disk.");
    EXPECT_FALSE(form->PlayButton->Down());
    EXPECT_FALSE(form->Player.Playing);
}

TEST_F(MainWindow, SpaceBarClicksPlayOnceWhateverHasTheFocus)
{
    ShowAndActivate();
    form->PitchBar->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), form->PitchBar);
    RecordedMessages messages;
    QTest::keyClick(form->PitchBar, Qt::Key_Space);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(messages.Shown.size(), 1u) << "one click, not two";
    EXPECT_EQ(form->PitchBar->Position(), 6);
}

TEST_F(MainWindow, OtherKeysLeavePlayAlone)
{
    ShowAndActivate();
    QTest::keyClick(form->windowHandle(), Qt::Key_A);
    QTest::keyClick(form->windowHandle(), Qt::Key_Return);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(form->PlayButton->Down());
}

TEST_F(MainWindow, IsBusyRefusesWhileRecordingOrPlaying)
{
    RecordedMessages messages;
    EXPECT_FALSE(form->IsBusy());
    EXPECT_TRUE(messages.Shown.empty());

    form->Recorder.Recording = true;
    EXPECT_TRUE(form->IsBusy());
    form->Recorder.Recording = false;
    form->Player.Playing = true;
    EXPECT_TRUE(form->IsBusy());
    ASSERT_EQ(messages.Shown.size(), 2u);
    EXPECT_EQ(messages.Shown[0].first, "Please Wait until recording is over");
    EXPECT_EQ(messages.Shown[0].second, "Tamblor Glimmerbox");
    EXPECT_EQ(messages.Shown[1].first, "Please Wait until playback is over");
    EXPECT_EQ(messages.Shown[1].second, "Tamblor Glimmerbox");
}

TEST_F(MainWindow, TitleNamesTheFileWithoutItsFolder)
{
    form->UpdateTitle();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    form->Document.VoiceFileName = "/home/someone/Voices/hello.wav";
    form->UpdateTitle();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - hello.wav"));
}

TEST_F(MainWindow, ClearVoiceForgetsEverythingAndCanRunTwice)
{
    form->Document.VoiceBytes = 8;
    form->Document.VoiceData = std::make_unique<int16_t[]>(4);
    form->Document.WorkCapacity = 16;
    form->Document.WorkBytes = 16;
    form->Document.WorkData = std::make_unique<int16_t[]>(8);
    form->Document.VoiceFileName = "/tmp/a.wav";
    form->Document.Modified = true;
    form->timeDisplay->setText(QStringLiteral(" POS: 00:00:04 "));
    form->ShowVoice();
    ASSERT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get());

    form->ClearVoice();
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_EQ(form->Document.WorkData, nullptr);
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    EXPECT_EQ(form->Document.WorkCapacity, 0);
    EXPECT_EQ(form->Document.WorkBytes, 0);
    EXPECT_FALSE(form->Document.Modified);
    EXPECT_TRUE(form->Document.VoiceFileName.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:00 "));
    EXPECT_EQ(form->WaveDisplay->SampleData(), nullptr);
    EXPECT_EQ(form->WaveDisplay->SampleBytes(), 0);

    form->ClearVoice();
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_EQ(form->Document.VoiceBytes, 0);
}

TEST_F(MainWindow, ExitClosesTheWindow)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
}

} // namespace
