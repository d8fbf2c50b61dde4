// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a desktop: the question before an unsaved recording is
// lost, the menu keys, what a screen reader reads from each control, the
// file named on the command line and the window's icon. The recording is
// loaded the way the recorder's file is loaded when Record is released, from
// a WAVE file the test writes; no sound server is needed here.
#include "app/artwork.h"
#include "app/commandline.h"
#include "app/editorwindow.h"
#include "app/helpunit.h"
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/startupunit.h"
#include "audio/wavefile.h"
#include "controls/qmblepnl.h"
#include "controls/qmblovw.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"
#include "tests/app/apptest.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char *Question = "The recording has not been saved. Save it first?";

// Public, so that the tables of commands below can reach into it.
class DesktopWindow : public ::testing::Test {
public:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(settingsFolder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        // 1103 samples of a falling saw: the file voice.
        fileVoice.resize(1103);
        for (size_t i = 0; i < fileVoice.size(); ++i)
            fileVoice[i] = static_cast<int16_t>(12000 - static_cast<int>(i % 97) * 250);
        voiceFile = Path("a voice.wav");
        ASSERT_TRUE(
            WriteWaveFile(voiceFile, 22050, 16, 1, fileVoice.data(), static_cast<uint32_t>(fileVoice.size() * 2)));
        // 2000 samples of a square wave: the recording.
        recorded.resize(2000);
        for (size_t i = 0; i < recorded.size(); ++i)
            recorded[i] = static_cast<int16_t>((i / 50) % 2 ? 9000 : -9000);

        previousDialogs = SetFileDialogAnswerer([this](TFileDialog &dialog, QWidget *) {
            dialogs.push_back(dialog.Title);
            const auto answer = dialogAnswers.find(dialog.Title);
            if (answer == dialogAnswers.end() || answer->second.empty())
                return false;
            dialog.FileName = answer->second;
            return true;
        });
        previousQuestions = SetSaveQuestionAnswerer([this](const std::string &text, QWidget *) {
            questions.push_back(text);
            return questionAnswer;
        });
        StartForm();
    }

    void TearDown() override
    {
        SetFileDialogAnswerer(previousDialogs);
        SetSaveQuestionAnswerer(previousQuestions);
        StopForm();
    }

    void StartForm()
    {
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        form->UpdateTitle(); // as start-up leaves it
        form->PresetFolder = std::getenv("GLIMMER_BUILD_DIR");
        MainForm = form.get();
        ProgressForm = new TProgressForm(form.get());
        ProgressForm->FormCreate();
    }

    void StopForm()
    {
        delete ProgressForm;
        ProgressForm = nullptr;
        form.reset();
        MainForm = nullptr;
    }

    void ShowAndActivate()
    {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    std::string Path(const char *name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }

    // The voice as Record leaves it when released: the recorder's file read
    // into the voice buffer, no file name, Save enabled.
    void LoadRecording()
    {
        const std::string name = Path("QMBrecording");
        ASSERT_TRUE(WriteWaveFile(name, 22050, 16, 1, recorded.data(), static_cast<uint32_t>(recorded.size() * 2)));
        form->Recorder.RecordFileName.fill('\0');
        std::memcpy(form->Recorder.RecordFileName.data(), name.c_str(), name.size());
        form->Recorder.Recording = true;
        form->FinishRecording();
        form->Save1->setEnabled(true);
        form->SaveAs1->setEnabled(true);
        form->Export1->menuAction()->setEnabled(true);
        ASSERT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(recorded.size() * 2));
        ASSERT_TRUE(form->Document.VoiceFileName.empty());
        ASSERT_TRUE(form->UnsavedRecording());
    }

    std::vector<int16_t> Voice() const
    {
        return std::vector<int16_t>(form->Document.VoiceData.get(),
                                    form->Document.VoiceData.get() + form->Document.VoiceBytes / 2);
    }

    // The samples a WAVE file holds, read back as the program reads it.
    static std::vector<int16_t> FileSamples(const std::string &name)
    {
        RecordedMessages quiet;
        TEffectSettings settings;
        int32_t bytes = 0;
        const std::unique_ptr<int16_t[]> samples = ReadWaveFile(name, 22050, 16, 1, bytes, settings, quiet);
        if (!samples)
            return {};
        return std::vector<int16_t>(samples.get(), samples.get() + bytes / 2);
    }

    void DropFile(const std::string &name)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(name))});
        QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    QTemporaryDir settingsFolder;
    std::vector<int16_t> fileVoice;
    std::vector<int16_t> recorded;
    std::string voiceFile;
    std::unique_ptr<TMainForm> form;

    std::map<std::string, std::string> dialogAnswers; // dialog title -> file chosen; none or empty = Cancel
    std::vector<std::string> dialogs;                 // the titles of the dialogs shown, in order
    TSaveAnswer questionAnswer = TSaveAnswer::Cancel;
    qint64 sizeBefore = 0; // of voiceFile, before a key saves it
    std::vector<std::string> questions;

private:
    FileDialogAnswerer previousDialogs;
    SaveQuestionAnswerer previousQuestions;
};

// Each command that drops the voice, and how to see that it went on.
struct TDroppingCommand {
    const char *Name;
    std::function<void(DesktopWindow &)> Run;
    std::function<bool(DesktopWindow &)> WentOn;
};

class UnsavedRecording : public DesktopWindow {
protected:
    std::vector<TDroppingCommand> Commands()
    {
        const std::string presetName =
            QDir(QString::fromStdString(form->PresetFolder)).filePath(QStringLiteral("SF1.WAV")).toStdString();
        auto opened = [](const std::string &name) {
            return [name](DesktopWindow &t) { return t.form->Document.VoiceFileName == name; };
        };
        auto closed = [](DesktopWindow &t) { return !t.form->isVisible(); };
        return {
            {"New", [](DesktopWindow &t) { t.form->New1->trigger(); },
             [](DesktopWindow &t) {
                 return t.form->Document.VoiceBytes == 0 && t.form->Document.VoiceData == nullptr;
             }},
            {"Open",
             [](DesktopWindow &t) {
                 t.dialogAnswers["Open a Voice File"] = t.voiceFile;
                 t.form->Open1->trigger();
             },
             opened(voiceFile)},
            {"SF1", [](DesktopWindow &t) { QTest::mouseClick(t.form->SF1Button, Qt::LeftButton, {}, QPoint(29, 29)); },
             opened(presetName)},
            {"drop", [](DesktopWindow &t) { t.DropFile(t.voiceFile); }, opened(voiceFile)},
            {"Exit", [](DesktopWindow &t) { t.form->Exit1->trigger(); }, closed},
            {"close box", [](DesktopWindow &t) { t.form->close(); }, closed},
        };
    }
};

TEST_F(UnsavedRecording, EveryCommandThatDropsItAsksFirstAndFollowsTheAnswer)
{
    enum class Answer { Save, SaveThenCancelTheDialog, Discard, Cancel };
    const struct {
        const char *Name;
        Answer Given;
    } answers[] = {
        {"Save", Answer::Save},
        {"Save, then Cancel in the dialog", Answer::SaveThenCancelTheDialog},
        {"Discard", Answer::Discard},
        {"Cancel", Answer::Cancel},
    };
    const std::string savedName = Path("kept.wav");
    const size_t commandCount = Commands().size();
    for (size_t c = 0; c < commandCount; ++c) {
        for (const auto &answer : answers) {
            StopForm();
            StartForm();
            const TDroppingCommand command = Commands()[c];
            SCOPED_TRACE(std::string(command.Name) + " answered " + answer.Name);
            QFile::remove(QString::fromStdString(savedName));
            questions.clear();
            dialogs.clear();
            dialogAnswers.clear();
            form->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
            LoadRecording();
            const int16_t *recordingBuffer = form->Document.VoiceData.get();

            questionAnswer = answer.Given == Answer::Discard  ? TSaveAnswer::Discard
                             : answer.Given == Answer::Cancel ? TSaveAnswer::Cancel
                                                              : TSaveAnswer::Save;
            if (answer.Given == Answer::Save)
                dialogAnswers["Save Voice As File"] = savedName;
            command.Run(*this);

            EXPECT_EQ(questions, std::vector<std::string>{Question}) << "asked once, in these words";
            const bool saveAsked = answer.Given == Answer::Save || answer.Given == Answer::SaveThenCancelTheDialog;
            EXPECT_EQ(!dialogs.empty() && dialogs.front() == "Save Voice As File", saveAsked)
                << "Save runs Save As, and only Save does";
            EXPECT_EQ(QFileInfo::exists(QString::fromStdString(savedName)), answer.Given == Answer::Save);
            if (answer.Given == Answer::Save) {
                EXPECT_EQ(FileSamples(savedName), recorded) << "the recording itself was saved";
            }

            const bool goesOn = answer.Given == Answer::Save || answer.Given == Answer::Discard;
            EXPECT_EQ(command.WentOn(*this), goesOn);
            if (!goesOn) {
                // Everything as it was: the same buffer, the same samples, no name.
                EXPECT_EQ(form->Document.VoiceData.get(), recordingBuffer);
                EXPECT_EQ(Voice(), recorded);
                EXPECT_TRUE(form->Document.VoiceFileName.empty());
                EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
                EXPECT_TRUE(form->isVisible());
            }
            EXPECT_TRUE(messages.Shown.empty());
            messages.Shown.clear();
        }
    }
}

TEST_F(UnsavedRecording, AFileWhoseEffectsAreAsOpenedIsNeverAsked)
{
    // Another file than the one Open and the drop bring, so that their going
    // on shows.
    const std::string otherFile = Path("other.wav");
    ASSERT_TRUE(WriteWaveFile(otherFile, 22050, 16, 1, recorded.data(), static_cast<uint32_t>(recorded.size() * 2)));
    const size_t commandCount = Commands().size();
    for (size_t c = 0; c < commandCount; ++c) {
        StopForm();
        StartForm();
        const TDroppingCommand command = Commands()[c];
        SCOPED_TRACE(command.Name);
        questions.clear();
        dialogAnswers.clear();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->OpenVoiceFile(otherFile);
        ASSERT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(recorded.size() * 2));
        // Echo on and off again: the selection is the file's.
        QTest::mouseClick(form->EchoButton, Qt::LeftButton, {}, QPoint(66, 30));
        QTest::mouseClick(form->EchoButton, Qt::LeftButton, {}, QPoint(66, 30));
        ASSERT_FALSE(form->EchoButton->Down());
        ASSERT_FALSE(form->UnsavedRecording());

        command.Run(*this);
        EXPECT_TRUE(questions.empty());
        EXPECT_TRUE(command.WentOn(*this));
    }
}

TEST_F(UnsavedRecording, ChangesToAFileAreAskedAboutBeforeTheyAreLost)
{
    const std::string changes = "The changes to a voice.wav have not been saved. Save them first?";
    const std::string presetChanges = "The changes to SF1.WAV have not been saved. Save them first?";
    const auto echo = [](DesktopWindow &t) {
        QTest::mouseClick(t.form->EchoButton, Qt::LeftButton, {}, QPoint(66, 30));
    };
    const auto cut = [](DesktopWindow &t) {
        t.form->SelectionChosen(0, 100);
        t.form->Cut1->trigger();
    };
    const struct {
        const char *Name;
        bool Preset;
        std::function<void(DesktopWindow &)> Change;
        std::string Asked; // empty: nothing asked
    } rows[] = {
        {"an effect switched", false, echo, changes},
        {"the pitch moved", false, [](DesktopWindow &t) { QTest::keyClick(t.form->PitchBar, Qt::Key_Home); }, changes},
        {"cut", false, cut, changes},
        {"cut, then undone", false,
         [&](DesktopWindow &t) {
             cut(t);
             t.form->Undo1->trigger();
         },
         ""},
        {"normalised", false, [](DesktopWindow &t) { t.form->Normalise1->trigger(); }, changes},
        {"an effect switched, then saved", false,
         [&](DesktopWindow &t) {
             echo(t);
             t.form->Save1->trigger();
         },
         ""},
        {"saved, then undone", false,
         [&](DesktopWindow &t) {
             echo(t);
             t.form->Save1->trigger();
             t.form->Undo1->trigger();
         },
         changes},
        {"a preset's effect switched", true, echo, ""},
        {"a preset edited", true, cut, presetChanges},
    };
    for (const auto &row : rows) {
        StopForm();
        StartForm();
        SCOPED_TRACE(row.Name);
        questions.clear();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        if (row.Preset)
            form->SF1ButtonClick();
        else
            form->OpenVoiceFile(voiceFile);
        ASSERT_GT(form->Document.VoiceBytes, 200);
        row.Change(*this);
        questionAnswer = TSaveAnswer::Cancel;
        form->New1->trigger();
        if (row.Asked.empty()) {
            EXPECT_TRUE(questions.empty());
            EXPECT_EQ(form->Document.VoiceBytes, 0);
            continue;
        }
        EXPECT_EQ(questions, std::vector<std::string>{row.Asked});
        EXPECT_GT(form->Document.VoiceBytes, 0) << "Cancel keeps the voice";
        questionAnswer = TSaveAnswer::Discard;
        form->New1->trigger();
        EXPECT_EQ(form->Document.VoiceBytes, 0);
    }
    // Closing the window asks too, and Cancel keeps it open.
    questions.clear();
    form->OpenVoiceFile(voiceFile);
    echo(*this);
    questionAnswer = TSaveAnswer::Cancel;
    form->close();
    EXPECT_EQ(questions, std::vector<std::string>{changes});
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(UnsavedRecording, ASavedRecordingIsNotAskedAboutAgain)
{
    LoadRecording();
    dialogAnswers["Save Voice As File"] = Path("saved.wav");
    form->SaveAs1->trigger();
    ASSERT_EQ(form->Document.VoiceFileName, Path("saved.wav"));
    EXPECT_FALSE(form->UnsavedRecording());
    form->New1->trigger();
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    // New leaves no voice: nothing to ask about either.
    form->New1->trigger();
    EXPECT_TRUE(questions.empty());
}

TEST_F(UnsavedRecording, AMissingPresetAsksNothingAndKeepsTheRecording)
{
    LoadRecording();
    form->PresetFolder = Path("no presets here");
    QTest::mouseClick(form->SF2Button, Qt::LeftButton, {}, QPoint(29, 29));
    EXPECT_TRUE(questions.empty());
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Error: The file named " + Path("no presets here") + "/SF2.WAV does not exist.");
    EXPECT_EQ(Voice(), recorded);
}

// ---------------------------------------------------------------------------
// Keys

TEST_F(DesktopWindow, TheEditorCutsASpanChosenByKeyboardAndUndoBringsItBack)
{
    ShowAndActivate();
    form->OpenVoiceFile(voiceFile);
    EXPECT_FALSE(form->Cut1->isEnabled()) << "nothing chosen yet";
    QTest::keySequence(form.get(), QKeySequence(QStringLiteral("Ctrl+D")));
    TEditorWindow *editor = form->EditorWindow;
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(editor));
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
    editor->Overview->setFocus();
    // 10 ms is 220 samples at 22050 Hz (220.5, half to even).
    QTest::keyClick(editor->Overview, Qt::Key_Home);
    QTest::keyClick(editor->Overview, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(editor->Overview, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(editor->Overview, Qt::Key_Right);                    // the cursor to 660, nothing chosen
    QTest::keyClick(editor->Overview, Qt::Key_Right, Qt::ShiftModifier); // 660..880
    QTest::keyClick(editor->Overview, Qt::Key_Right, Qt::ShiftModifier); // 660..1100
    EXPECT_EQ(form->Document.Selection, (TSampleSpan{660, 1100}));
    EXPECT_EQ(editor->StatusLine->text(), QStringLiteral("Start 0.030 s   End 0.050 s   Length 0.020 s"));
    ASSERT_TRUE(form->Cut1->isEnabled());
    // Play plays the span alone; an export is of the whole voice.
    form->ApplyEffects("", TMainForm::TClip::Played);
    EXPECT_EQ(std::vector<int16_t>(form->Document.WorkData.get(), form->Document.WorkData.get() + 440),
              std::vector<int16_t>(fileVoice.begin() + 660, fileVoice.begin() + 1100));
    EXPECT_EQ(form->Document.WorkBytes, 880);
    form->ApplyEffects(Path("exported.wav"));
    EXPECT_EQ(FileSamples(Path("exported.wav")), fileVoice);

    std::vector<int16_t> cut(fileVoice.begin(), fileVoice.begin() + 660);
    cut.insert(cut.end(), fileVoice.begin() + 1100, fileVoice.end());
    QTest::keySequence(editor, QKeySequence(QStringLiteral("Ctrl+X")));
    EXPECT_EQ(Voice(), cut);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get()) << "the main window shows it";
    EXPECT_EQ(editor->Overview->Samples(), form->Document.VoiceData.get()) << "and so does the editor";
    QTest::keySequence(editor, QKeySequence(QStringLiteral("Ctrl+Z")));
    EXPECT_EQ(Voice(), fileVoice) << "the voice back, sample for sample";
    EXPECT_EQ(form->Document.Selection, (TSampleSpan{660, 1100}));
    EXPECT_EQ(editor->Overview->Selection(), (TQMBL_VoiceOverview::TSelection{660, 1100}));
    QTest::keySequence(form.get(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
    EXPECT_EQ(Voice(), cut);
    QTest::keySequence(form.get(), QKeySequence(QStringLiteral("Ctrl+Z")));
    QTest::keySequence(editor, QKeySequence(QStringLiteral("Ctrl+Y")));
    EXPECT_EQ(Voice(), cut);

    // Crop keeps only the span; Trim Silence on a voice with no silence to
    // take changes nothing.
    QTest::keySequence(editor, QKeySequence(QStringLiteral("Ctrl+A")));
    EXPECT_EQ(form->Document.Selection, (TSampleSpan{0, static_cast<int32_t>(cut.size())}));
    EXPECT_FALSE(form->CropToSelection1->isEnabled()) << "cropping to everything changes nothing";
    QTest::keyClick(editor->Overview, Qt::Key_Home);
    QTest::keyClick(editor->Overview, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keySequence(editor, QKeySequence(QStringLiteral("Ctrl+T")));
    EXPECT_EQ(Voice(), std::vector<int16_t>(cut.begin(), cut.begin() + 220));
    EXPECT_TRUE(messages.Shown.empty());

    // Closed, it remembers its size; Play then plays the whole voice again.
    editor->resize(640, 250);
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_FALSE(form->Document.PlaySelectionOnly);
    EXPECT_EQ(TStartup::StoredEditorSize(), QSize(640, 250));
}

TEST_F(DesktopWindow, TrimSilenceOnASilentVoiceSaysSoAndChangesNothing)
{
    const std::string silent = Path("silent.wav");
    const std::vector<int16_t> quiet(4000, 183);
    ASSERT_TRUE(WriteWaveFile(silent, 22050, 16, 1, quiet.data(), 8000));
    form->OpenVoiceFile(silent);
    form->TrimSilence1->trigger();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "The voice is silent: there is nothing to trim.");
    EXPECT_EQ(Voice(), quiet);
    EXPECT_FALSE(form->Undo1->isEnabled());
}

TEST_F(DesktopWindow, MenuItemsShowTheirKeys)
{
    const struct {
        QAction *Item;
        const char *Keys;
    } expected[] = {
        {form->New1, "Ctrl+N"},
        {form->Open1, "Ctrl+O"},
        {form->Save1, "Ctrl+S"},
        {form->SaveAs1, "Ctrl+Shift+S"},
        {form->Exit1, "Ctrl+Q"},
        {form->ExportToWaveFormat1, "Ctrl+E"},
        {form->HelpTopics1, "F1"},
        {form->ExportToMP3File, ""},
        {form->LiveVoice1, "Ctrl+L"},
        {form->EditVoice1, "Ctrl+D"},
        {form->Undo1, "Ctrl+Z"},
        {form->CropToSelection1, "Ctrl+T"},
        {form->Echo1, ""},
        {form->About1, ""},
    };
    for (const auto &e : expected)
        EXPECT_EQ(e.Item->shortcut().toString(QKeySequence::PortableText).toStdString(), e.Keys)
            << e.Item->text().toStdString();
    ASSERT_NE(form->RecordKey, nullptr);
    EXPECT_EQ(form->RecordKey->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
}

TEST_F(DesktopWindow, EachKeyRunsItsCommand)
{
    const struct {
        const char *Keys;
        std::function<bool(DesktopWindow &)> Ran;
    } keys[] = {
        {"Ctrl+O", [](DesktopWindow &t) { return t.dialogs == std::vector<std::string>{"Open a Voice File"}; }},
        {"Ctrl+Shift+S", [](DesktopWindow &t) { return t.dialogs == std::vector<std::string>{"Save Voice As File"}; }},
        {"Ctrl+E", [](DesktopWindow &t) { return t.dialogs == std::vector<std::string>{"Export File As"}; }},
        // Save writes the voice's own file again, now with the settings chunk.
        {"Ctrl+S",
         [](DesktopWindow &t) {
             return t.dialogs.empty() && QFileInfo(QString::fromStdString(t.voiceFile)).size() == t.sizeBefore + 522;
         }},
        {"Ctrl+N", [](DesktopWindow &t) { return t.form->Document.VoiceBytes == 0 && t.dialogs.empty(); }},
        {"F1", [](DesktopWindow &t) { return t.form->HelpWindow && t.form->HelpWindow->isVisible(); }},
        {"Ctrl+Q", [](DesktopWindow &t) { return !t.form->isVisible(); }},
    };
    for (const auto &key : keys) {
        SCOPED_TRACE(key.Keys);
        StopForm();
        StartForm();
        ShowAndActivate();
        form->OpenVoiceFile(voiceFile);
        sizeBefore = QFileInfo(QString::fromStdString(voiceFile)).size();
        ASSERT_GT(sizeBefore, 1103 * 2);
        dialogs.clear();
        EXPECT_FALSE(key.Ran(*this)) << "not before the key";
        QTest::keySequence(form.get(), QKeySequence(QString::fromLatin1(key.Keys)));
        EXPECT_TRUE(key.Ran(*this));
        EXPECT_TRUE(questions.empty());
        if (form->HelpWindow)
            form->HelpWindow->close();
    }
}

TEST_F(DesktopWindow, KeysOfACommandThatMustWaitAreRefusedLikeTheMenuItem)
{
    ShowAndActivate();
    form->OpenVoiceFile(voiceFile);
    form->Player.Playing = true;
    for (const char *keys : {"Ctrl+N", "Ctrl+O", "Ctrl+S"}) {
        SCOPED_TRACE(keys);
        messages.Shown.clear();
        QTest::keySequence(form.get(), QKeySequence(QString::fromLatin1(keys)));
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, "Please Wait until playback is over");
    }
    form->Player.Playing = false;
    EXPECT_EQ(form->Document.VoiceBytes, 1103 * 2);
    EXPECT_TRUE(dialogs.empty());
}

// ---------------------------------------------------------------------------
// Screen readers

QAccessibleInterface *Describe(QWidget *control)
{
    return QAccessible::queryAccessibleInterface(control);
}

TEST_F(DesktopWindow, ToggleButtonsAreNamedAndReportTheirPressedState)
{
    const struct {
        TQMBL_SawToothButton *Button;
        const char *Name;
    } buttons[] = {
        {form->PlayButton, "Play"},
        {form->RecordButton, "Record"},
        {form->EchoButton, "Echo"},
        {form->ChorusButton, "Chorus"},
        {form->FlangeButton, "Flange"},
        {form->FadeInButton, "Fade In"},
        {form->fadeOutButton, "Fade Out"},
        {form->BassOnlyButton, "Bass Only"},
        {form->RobotvoiceButton, "Robot Voice"},
        {form->BackwardButton, "Backward"},
        {form->SlowMonstButton, "Slow Monster"},
        {form->FastSqueakButton, "Fast Squeaker"},
        {form->TrebleOnlyButton, "Treble Only"},
        {form->SweepUpButton, "Sweep Up"},
        {form->SweepDownButton, "Sweep Down"},
    };
    for (const auto &b : buttons) {
        SCOPED_TRACE(b.Name);
        QAccessibleInterface *face = Describe(b.Button);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::Button);
        EXPECT_EQ(face->text(QAccessible::Name).toStdString(), b.Name);
        EXPECT_TRUE(face->state().checkable);
        EXPECT_FALSE(face->state().checked);
        b.Button->SetDown(true);
        EXPECT_TRUE(face->state().checked);
        EXPECT_TRUE(face->state().pressed);
        b.Button->SetDown(false);
        EXPECT_FALSE(face->state().checked);
    }
}

TEST_F(DesktopWindow, AnEffectButtonToggledThroughItsAccessibleActionRunsItsHandler)
{
    QAccessibleInterface *face = Describe(form->RobotvoiceButton);
    ASSERT_NE(face, nullptr);
    QAccessibleActionInterface *actions = face->actionInterface();
    ASSERT_NE(actions, nullptr);
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(form->RobotvoiceButton->Down());
    EXPECT_TRUE(face->state().checked);
    form->TimerTimer();
    EXPECT_TRUE(form->Robotvoice1->isChecked()) << "the menu follows, as after a click";
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(form->RobotvoiceButton->Down());
}

TEST_F(DesktopWindow, PresetAndInputButtonsArePlainButtons)
{
    const struct {
        QWidget *Button;
        const char *Name;
    } buttons[] = {
        {form->SF1Button, "Preset voice 1"},
        {form->SF2Button, "Preset voice 2"},
        {form->SF3Button, "Preset voice 3"},
        {form->RecSourceToggleButton, "Next recording input"},
    };
    for (const auto &b : buttons) {
        SCOPED_TRACE(b.Name);
        QAccessibleInterface *face = Describe(b.Button);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::Button);
        EXPECT_EQ(face->text(QAccessible::Name).toStdString(), b.Name);
        EXPECT_FALSE(face->state().checkable);
        ASSERT_NE(face->actionInterface(), nullptr);
        EXPECT_TRUE(face->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }
    // Pressing preset 2 through the screen reader opens it.
    Describe(form->SF2Button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(QFileInfo(QString::fromStdString(form->Document.VoiceFileName)).fileName(), QStringLiteral("SF2.WAV"));
}

TEST_F(DesktopWindow, SlidersAreNamedAndReportTheirPositions)
{
    const struct {
        TQMBL_TrackBar *Bar;
        const char *Name;
        int Max;
    } bars[] = {
        {form->MikeSlider, "Record volume", 255},
        {form->SpeakerSlider, "Play volume", 255},
        {form->PitchBar, "Pitch", 12},
    };
    for (const auto &b : bars) {
        SCOPED_TRACE(b.Name);
        QAccessibleInterface *face = Describe(b.Bar);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::Slider);
        EXPECT_EQ(face->text(QAccessible::Name).toStdString(), b.Name);
        QAccessibleValueInterface *value = face->valueInterface();
        ASSERT_NE(value, nullptr);
        // The volumes stay where they are: no mixer is open here, and none is wanted.
        const QSignalBlocker quiet(b.Bar);
        EXPECT_EQ(value->minimumValue().toInt(), 0);
        EXPECT_EQ(value->maximumValue().toInt(), b.Max);
        for (int position : {0, 3, b.Max}) {
            b.Bar->SetPosition(position);
            EXPECT_EQ(value->currentValue().toInt(), position);
        }
    }
    form->PitchBar->SetPosition(6);
    EXPECT_NE(Describe(form->PitchBar)->text(QAccessible::Description).indexOf(QStringLiteral("Helium Breath")), -1);
}

TEST_F(DesktopWindow, MeterWaveformAndTimeDisplayDescribeWhatTheyShow)
{
    QAccessibleInterface *meter = Describe(form->VolLED);
    ASSERT_NE(meter, nullptr);
    EXPECT_EQ(meter->role(), QAccessible::ProgressBar);
    EXPECT_EQ(meter->text(QAccessible::Name), QStringLiteral("Level"));
    ASSERT_NE(meter->valueInterface(), nullptr);
    const struct {
        float Progress;
        int Percent;
        const char *Text;
    } levels[] = {{0.0f, 0, "0%"}, {0.37f, 37, "37%"}, {1.0f, 100, "100%"}, {2.0f, 100, "100%"}};
    for (const auto &level : levels) {
        form->VolLED->SetProgress(level.Progress);
        EXPECT_EQ(meter->valueInterface()->currentValue().toInt(), level.Percent);
        EXPECT_EQ(meter->text(QAccessible::Value).toStdString(), level.Text);
    }
    EXPECT_EQ(meter->valueInterface()->maximumValue().toInt(), 100);

    QAccessibleInterface *wave = Describe(form->WaveDisplay);
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->role(), QAccessible::Graphic);
    EXPECT_EQ(wave->text(QAccessible::Name), QStringLiteral("Waveform"));
    EXPECT_FALSE(wave->text(QAccessible::Description).isEmpty());

    QAccessibleInterface *time = Describe(form->timeDisplay);
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->role(), QAccessible::StaticText);
    EXPECT_EQ(time->text(QAccessible::Name).trimmed(), QStringLiteral("POS: 00:00:00"));
    form->OpenVoiceFile(voiceFile);
    EXPECT_EQ(time->text(QAccessible::Name), form->timeDisplay->text()) << "the name follows the display";
    EXPECT_NE(time->text(QAccessible::Name).trimmed(), QStringLiteral("POS: 00:00:00"));

    for (QWidget *panel :
         {static_cast<QWidget *>(form->MicSliderPanel), static_cast<QWidget *>(form->SpkSliderPanel)}) {
        QAccessibleInterface *face = Describe(panel);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::Grouping);
        EXPECT_FALSE(face->text(QAccessible::Name).isEmpty());
    }
}

// ---------------------------------------------------------------------------
// glimmerbox FILE

TEST(CommandLine, TakesOneFileOrSaysWhatIsWrong)
{
    using A = TCommandLine::TAction;
    const QString here = QDir::currentPath();
    const struct {
        QStringList Arguments;
        A Action;
        std::string FileName;
        const char *TextHas;
    } cases[] = {
        {{"glimmerbox"}, A::Run, "", ""},
        {{"glimmerbox", "/tmp/voice.wav"}, A::Run, "/tmp/voice.wav", ""},
        {{"glimmerbox", "voice.wav"}, A::Run, (here + "/voice.wav").toStdString(), ""},
        {{"glimmerbox", "--", "-odd.wav"}, A::Run, (here + "/-odd.wav").toStdString(), ""},
        {{"glimmerbox", "--help"}, A::ShowHelp, "", "Usage: glimmerbox [FILE]"},
        {{"glimmerbox", "-h"}, A::ShowHelp, "", "Usage: glimmerbox [FILE]"},
        {{"glimmerbox", "--version"}, A::ShowVersion, "", "glimmerbox " EXPECTED_VERSION "\n"},
        {{"glimmerbox", "voice.wav", "--version"}, A::ShowVersion, "", "glimmerbox " EXPECTED_VERSION "\n"},
        {{"glimmerbox", "--", "--version"}, A::Run, (here + "/--version").toStdString(), ""},
        {{"glimmerbox", "--version=1"}, A::Refuse, "", "unknown option '--version=1'"},
        {{"glimmerbox", "--play"}, A::Refuse, "", "unknown option '--play'"},
        {{"glimmerbox", "a.wav", "b.wav"}, A::Refuse, "", "only one FILE"},
        {{"glimmerbox", ""}, A::Refuse, "", "empty"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Arguments.join(QLatin1Char(' ')).toStdString());
        const TCommandLine parsed = ParseCommandLine(c.Arguments);
        EXPECT_EQ(parsed.Action, c.Action);
        EXPECT_EQ(parsed.FileName, c.FileName);
        EXPECT_NE(parsed.Text.find(c.TextHas), std::string::npos) << parsed.Text;
        if (c.Action == A::ShowVersion) {
            EXPECT_EQ(parsed.Text, c.TextHas) << "the version line alone";
        }
    }
    // The help says which kinds of file FILE may be, the phone and browser
    // recordings too.
    const std::string help = ParseCommandLine({"glimmerbox", "--help"}).Text;
    for (const char *kind : {"WAVE", "FLAC", "MP3", "M4A", "Opus", "WebM", "AMR", "MP4", "RealAudio"})
        EXPECT_NE(help.find(kind), std::string::npos) << kind << " in:\n" << help;
}

TEST_F(DesktopWindow, AFileNamedAtStartIsOpenedAndNotPlayed)
{
    form->OpenFileAtStart(voiceFile);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - a voice.wav"));
    EXPECT_EQ(Voice(), fileVoice);
    EXPECT_FALSE(form->Player.Playing);
    EXPECT_FALSE(form->PlayButton->Down());
    EXPECT_TRUE(form->Save1->isEnabled());
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(DesktopWindow, AMissingOrRejectedFileAtStartLeavesAnEmptyProgram)
{
    const std::string garbage = Path("not a wave.wav");
    {
        QFile file(QString::fromStdString(garbage));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is no RIFF file at all, only words", 39);
    }
    const struct {
        std::string Name;
        bool Rejected;
    } cases[] = {{Path("missing.wav"), false}, {garbage, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        messages.Shown.clear();
        form->OpenFileAtStart(c.Name);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
        EXPECT_EQ(form->Document.VoiceBytes, 0);
        EXPECT_EQ(form->Document.VoiceData, nullptr);
        EXPECT_FALSE(form->Save1->isEnabled());
        if (c.Rejected) {
            ASSERT_EQ(messages.Shown.size(), 1u);
            EXPECT_EQ(messages.Shown[0].first, "Incompatible file format of: " + garbage);
        }
    }
}

// ---------------------------------------------------------------------------
// The icon

TEST_F(DesktopWindow, TheWindowIconIsTheInstalledIconAtEverySize)
{
    const QIcon icon = form->windowIcon();
    const QString iconFolder = QString::fromLocal8Bit(std::getenv("GLIMMER_BUILD_DIR")) + QStringLiteral("/icons");
    for (int size : {48, 128, 256}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage shown = icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
        QImage installed(iconFolder + QStringLiteral("/%1.png").arg(size));
        ASSERT_FALSE(installed.isNull());
        installed = installed.convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(shown.size(), installed.size());
        EXPECT_EQ(shown, installed);
        // Not an empty picture: the lime face fills the middle, the corners stay clear.
        EXPECT_EQ(qAlpha(installed.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(installed.pixel(size * 18 / 48, size * 10 / 48)), 255);
        EXPECT_GT(qGreen(installed.pixel(size * 18 / 48, size * 10 / 48)), 150);
    }
}

} // namespace
