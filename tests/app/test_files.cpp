// SPDX-License-Identifier: GPL-3.0-or-later
// The File menu, the preset buttons and dropped files, driven through the
// menu items and buttons with the file dialogs answered by the test. Files
// are checked byte for byte: a saved voice carries the "qmbl" settings record
// at offset 40, an exported clip has none.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/question.h"
#include "audio/wavefile.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblwpnl.h"
#include "tests/app/apptest.h"
#include "tests/audio/ffdecode.h"
#include "tests/fulldisk.h"
#include "tests/mediatesting.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace {

QByteArray ReadAll(const std::string &name)
{
    QFile file(QString::fromStdString(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

uint32_t LE32(const QByteArray &bytes, int at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

uint16_t LE16(const QByteArray &bytes, int at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(folder.isValid());
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        form->UpdateTitle(); // as start-up leaves it
        ProgressForm = new TProgressForm(form.get());
        ProgressForm->FormCreate();
        // 2205 samples of a rising and falling saw: an odd count, 100 ms.
        voice.resize(2205);
        for (size_t i = 0; i < voice.size(); ++i)
            voice[i] = static_cast<int16_t>((i % 200) * 150 - 15000);
        voiceFile = Path("a voice.wav");
        ASSERT_TRUE(WriteWaveFile(voiceFile, 22050, 16, 1, voice.data(), static_cast<uint32_t>(voice.size() * 2)));
        SetFileDialogAnswerer([this](TFileDialog &dialog, QWidget *) {
            asked.push_back(dialog.Title);
            if (answer.empty())
                return false;
            dialog.FileName = answer;
            return true;
        });
        // These tests switch effects on a file and then open another: the
        // changes are let go (the question itself is the desktop test's).
        previousQuestions =
            SetSaveQuestionAnswerer([](const std::string &, QWidget *) { return TSaveAnswer::Discard; });
    }

    void TearDown() override
    {
        SetSaveQuestionAnswerer(previousQuestions);
        SetFileDialogAnswerer({});
        delete ProgressForm;
        ProgressForm = nullptr;
        form.reset();
    }

    std::string Path(const char *name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }
    SaveQuestionAnswerer previousQuestions;

    void OpenThroughTheMenu(const std::string &name)
    {
        answer = name;
        form->Open1->trigger();
        answer.clear();
    }

    std::vector<int16_t> Voice() const
    {
        return std::vector<int16_t>(form->Document.VoiceData.get(),
                                    form->Document.VoiceData.get() + form->Document.VoiceBytes / 2);
    }

    // The menu states Save, Save As and Export, in that order.
    std::vector<bool> SaveMenus() const
    {
        return {form->Save1->isEnabled(), form->SaveAs1->isEnabled(), form->Export1->menuAction()->isEnabled()};
    }

    std::vector<TQMBL_SawToothButton *> EffectButtons() const
    {
        return {form->EchoButton,      form->ChorusButton,     form->FlangeButton,     form->FadeInButton,
                form->fadeOutButton,   form->BassOnlyButton,   form->RobotvoiceButton, form->BackwardButton,
                form->SlowMonstButton, form->FastSqueakButton, form->TrebleOnlyButton, form->SweepUpButton,
                form->SweepDownButton};
    }

    // Names of the effect buttons that are down, and the check marks agree.
    std::vector<TQMBL_SawToothButton *> Pressed() const
    {
        std::vector<TQMBL_SawToothButton *> down;
        for (TQMBL_SawToothButton *button : EffectButtons())
            if (button->Down())
                down.push_back(button);
        form->TimerTimer();
        return down;
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    std::unique_ptr<TMainForm> form;
    std::vector<int16_t> voice;
    std::string voiceFile;
    std::string answer; // the dialogs' answer; empty = cancel
    std::vector<std::string> asked;
};

TEST_F(FileCommands, OpenShowsTheVoiceItsNameAndLengthAndEnablesSaving)
{
    OpenThroughTheMenu(voiceFile);
    ASSERT_EQ(asked, std::vector<std::string>{"Open a Voice File"});
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - a voice.wav"));
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
    EXPECT_EQ(form->Document.VoiceBytes, 4410);
    EXPECT_EQ(Voice(), voice);
    EXPECT_EQ(form->Document.WorkCapacity, 4410);
    ASSERT_NE(form->Document.WorkData, nullptr);
    EXPECT_NE(form->Document.WorkData.get(), form->Document.VoiceData.get());
    EXPECT_EQ(std::memcmp(form->Document.WorkData.get(), voice.data(), 4410), 0);
    EXPECT_EQ(form->WaveDisplay->SampleData(), form->Document.VoiceData.get());
    EXPECT_EQ(form->WaveDisplay->StartingPosition(), 0);
    EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:10"));
    EXPECT_EQ(SaveMenus(), (std::vector<bool>{true, true, true}));
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(FileCommands, CancelledOpenChangesNothing)
{
    OpenThroughTheMenu(voiceFile);
    form->Open1->trigger(); // answered with a cancel
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
    EXPECT_EQ(Voice(), voice);
}

TEST_F(FileCommands, AFileWithoutSettingsTurnsEveryEffectOffAndThePitchToSix)
{
    form->Echo1->trigger();
    form->SweepDown1->trigger();
    form->Document.Effects.PitchPosition = 0;
    form->ShowEffects();
    ASSERT_EQ(Pressed().size(), 2u);
    OpenThroughTheMenu(voiceFile);
    EXPECT_TRUE(Pressed().empty());
    EXPECT_EQ(form->PitchBar->Position(), 6);
    for (QAction *item : form->Options1->actions())
        EXPECT_FALSE(item->isChecked()) << item->text().toStdString();
}

TEST_F(FileCommands, SaveAsWritesTheVoiceWithTheSelectionAndOpenBringsBothBack)
{
    OpenThroughTheMenu(voiceFile);
    QTest::mouseClick(form->EchoButton, Qt::LeftButton, {}, QPoint(66, 25));
    form->Flange1->trigger();
    form->Document.Effects.PitchPosition = 2;
    form->ShowEffects();
    ASSERT_TRUE(form->Document.Modified);

    const std::string saved = Path("saved.wav");
    answer = saved;
    form->SaveAs1->trigger();
    answer.clear();
    EXPECT_EQ(asked.back(), "Save Voice As File");
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(form->Document.VoiceFileName, saved);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - saved.wav"));
    EXPECT_FALSE(form->Document.Modified);

    // RIFF, a 20-byte "fmt ", the 514-byte record, the unprocessed voice and
    // its pad byte (4410 is even: none).
    const QByteArray bytes = ReadAll(saved);
    ASSERT_EQ(bytes.size(), 570 + 4410);
    EXPECT_EQ(bytes.mid(36 + 4, 4), QByteArray("qmbl"));
    EXPECT_EQ(LE32(bytes, 44), 514u);
    EXPECT_EQ(LE32(bytes, 24), 22050u);
    const int record = 48;
    const uint16_t expectedWords[15] = {14, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0};
    for (int word = 0; word < 15; ++word)
        EXPECT_EQ(LE16(bytes, record + 2 * word), expectedWords[word]) << "word " << word;
    for (int word = 15; word < 257; ++word)
        ASSERT_EQ(LE16(bytes, record + 2 * word), 0) << "word " << word;
    EXPECT_EQ(bytes.mid(562, 4), QByteArray("data"));
    EXPECT_EQ(LE32(bytes, 566), 4410u);
    EXPECT_EQ(std::memcmp(bytes.constData() + 570, voice.data(), 4410), 0);

    form->New1->trigger();
    ASSERT_TRUE(Pressed().empty());
    OpenThroughTheMenu(saved);
    EXPECT_EQ(Voice(), voice);
    EXPECT_EQ(Pressed(), (std::vector<TQMBL_SawToothButton *>{form->EchoButton, form->FlangeButton}));
    EXPECT_TRUE(form->Echo1->isChecked());
    EXPECT_TRUE(form->Flange1->isChecked());
    EXPECT_EQ(form->PitchBar->Position(), 2);
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(FileCommands, SaveWithoutANameAsksForOneAndWithANameWritesAtOnce)
{
    // A voice with no file, as a recording leaves it.
    form->Document.VoiceBytes = 8;
    form->Document.VoiceData = std::make_unique<int16_t[]>(4);
    for (int i = 0; i < 4; ++i)
        form->Document.VoiceData[i] = static_cast<int16_t>(-2 + i);
    form->Save1->setEnabled(true);

    form->Save1->trigger(); // cancelled
    EXPECT_EQ(asked, std::vector<std::string>{"Save Voice As File"});
    EXPECT_TRUE(form->Document.VoiceFileName.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));

    const std::string name = Path("recorded.wav");
    answer = name;
    form->Save1->trigger();
    answer.clear();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(form->Document.VoiceFileName, name);
    EXPECT_EQ(ReadAll(name).size(), 570 + 8);

    form->FadeOut1->trigger();
    form->Save1->trigger();
    EXPECT_EQ(asked.size(), 2u) << "a voice with a name is saved without asking";
    EXPECT_EQ(LE16(ReadAll(name), 48 + 2 * 5), 1) << "Fade Out is stored";
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(FileCommands, AFailedSaveSaysSoAndKeepsTheVoicesName)
{
    OpenThroughTheMenu(voiceFile);
    form->Echo1->trigger();
    answer = "/nonexistent-glimmer-folder/saved.wav";
    form->SaveAs1->trigger();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Cannot write the file /nonexistent-glimmer-folder/saved.wav");
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - a voice.wav"));
    EXPECT_TRUE(form->Document.Modified);
    EXPECT_EQ(ReadAll(voiceFile).size(), 48 + 4410) << "the file that was opened is untouched";
}

TEST_F(FileCommands, ARejectedFileLeavesNoVoiceANewFileTitleAndTheSaveMenusOff)
{
    const std::string bad = Path("bad.wav");
    {
        QFile file(QString::fromStdString(bad));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("RIFF\x04\x00\x00\x00WAVX", 12);
    }
    // Whatever the menus showed before, no voice means they are off.
    const struct {
        bool OpenFirst;
        std::vector<bool> Menus;
    } cases[] = {{false, {false, false, false}}, {true, {false, false, false}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.OpenFirst);
        form->New1->trigger();
        if (c.OpenFirst)
            OpenThroughTheMenu(voiceFile);
        form->Echo1->trigger();
        messages.Shown.clear();
        OpenThroughTheMenu(bad);
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, "Incompatible file format of: " + bad);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
        EXPECT_EQ(form->Document.VoiceBytes, 0);
        EXPECT_EQ(form->Document.VoiceData, nullptr);
        EXPECT_TRUE(form->Document.VoiceFileName.empty());
        EXPECT_EQ(form->timeDisplay->text(), QStringLiteral(" POS: 00:00:00 "));
        EXPECT_EQ(SaveMenus(), c.Menus);
        EXPECT_TRUE(Pressed().empty());
    }
}

TEST_F(FileCommands, NewForgetsTheVoiceTheEffectsAndTheName)
{
    OpenThroughTheMenu(voiceFile);
    form->Backward1->trigger();
    form->Document.Effects.PitchPosition = 11;
    form->ShowEffects();
    form->New1->trigger();
    EXPECT_EQ(form->Document.VoiceBytes, 0);
    EXPECT_EQ(form->Document.VoiceData, nullptr);
    EXPECT_EQ(form->Document.WorkData, nullptr);
    EXPECT_TRUE(Pressed().empty());
    EXPECT_EQ(form->PitchBar->Position(), 6);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - New File"));
    EXPECT_EQ(SaveMenus(), (std::vector<bool>{false, false, false}));
    EXPECT_FALSE(form->Document.Modified);
}

TEST_F(FileCommands, PresetButtonsOpenTheVoicesBesideTheProgramWithTheirOwnEffects)
{
    const std::string build = std::getenv("GLIMMER_BUILD_DIR");
    const std::string source = std::getenv("GLIMMER_SOURCE_DIR");
    form->PresetFolder = build;
    const struct {
        TQMBL_EllipticalButton *Button;
        const char *Name;
        std::vector<TQMBL_SawToothButton *> Down;
        int Pitch;
    } presets[] = {
        {form->SF1Button, "SF1.WAV", {form->RobotvoiceButton, form->EchoButton}, 6},
        {form->SF2Button, "SF2.WAV", {form->ChorusButton, form->FadeInButton, form->SlowMonstButton}, 6},
        {form->SF3Button, "SF3.WAV", {form->FlangeButton, form->SweepUpButton}, 3},
    };
    for (const auto &p : presets) {
        SCOPED_TRACE(p.Name);
        const QByteArray copy = ReadAll(build + "/" + p.Name);
        ASSERT_GT(copy.size(), 22050 * 2) << "more than a second of speech";
        EXPECT_EQ(copy, ReadAll(source + "/app/presets/" + p.Name)) << "the build folder holds the preset";

        QTest::mouseClick(p.Button, Qt::LeftButton, {}, QPoint(29, 29));
        EXPECT_TRUE(messages.Shown.empty());
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - ") + QString::fromLatin1(p.Name));
        EXPECT_EQ(form->Document.VoiceBytes, static_cast<int32_t>(LE32(copy, 566)));
        std::vector<TQMBL_SawToothButton *> expected;
        for (TQMBL_SawToothButton *button : EffectButtons())
            if (std::find(p.Down.begin(), p.Down.end(), button) != p.Down.end())
                expected.push_back(button);
        EXPECT_EQ(Pressed(), expected);
        EXPECT_EQ(form->PitchBar->Position(), p.Pitch);
    }
}

TEST_F(FileCommands, EveryFileCommandWaitsWhilePlayingOrRecording)
{
    OpenThroughTheMenu(voiceFile);
    form->Echo1->trigger();
    answer = Path("other.wav");
    const size_t askedBefore = asked.size();
    const struct {
        const char *Name;
        std::function<void()> Command;
    } commands[] = {
        {"New", [this] { form->New1->trigger(); }},
        {"Open", [this] { form->Open1->trigger(); }},
        {"Save", [this] { form->Save1->trigger(); }},
        {"Save As", [this] { form->SaveAs1->trigger(); }},
        {"Export", [this] { form->ExportToWaveFormat1->trigger(); }},
        {"Export to RealAudio", [this] { form->ExportToRealAudioFormat1->trigger(); }},
        {"Export to MP3", [this] { form->ExportToMP3File->trigger(); }},
        {"SF1", [this] { QTest::mouseClick(form->SF1Button, Qt::LeftButton, {}, QPoint(29, 29)); }},
        {"drop",
         [this] {
             // A drop arrives after the drag has entered the window.
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(QString::fromStdString(voiceFile))});
             QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form.get(), &enter);
             QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form.get(), &drop);
         }},
    };
    for (bool recording : {false, true}) {
        form->Player.Playing = !recording;
        form->Recorder.Recording = recording;
        for (const auto &c : commands) {
            SCOPED_TRACE(c.Name);
            messages.Shown.clear();
            c.Command();
            ASSERT_EQ(messages.Shown.size(), 1u);
            EXPECT_EQ(messages.Shown[0].first,
                      recording ? "Please Wait until recording is over" : "Please Wait until playback is over");
        }
    }
    form->Player.Playing = false;
    form->Recorder.Recording = false;
    EXPECT_EQ(asked.size(), askedBefore) << "no dialog was shown";
    EXPECT_EQ(Voice(), voice);
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
    EXPECT_TRUE(form->EchoButton->Down());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(answer)));
}

TEST_F(FileCommands, ExportWritesTheProcessedClipAtTheChosenRateWithoutSettings)
{
    OpenThroughTheMenu(voiceFile);
    form->Backward1->trigger();
    form->SlowMonster1->trigger();
    const std::string name = Path("export.wav");

    form->ExportToWaveFormat1->trigger(); // cancelled
    EXPECT_FALSE(QFile::exists(QString::fromStdString(name)));

    answer = name;
    form->ExportToWaveFormat1->trigger();
    EXPECT_EQ(asked.back(), "Export File As");
    const QByteArray bytes = ReadAll(name);
    ASSERT_EQ(bytes.size(), 48 + 4410);
    EXPECT_EQ(bytes.mid(40, 4), QByteArray("data"));
    EXPECT_EQ(LE32(bytes, 24), 11025u);
    const std::vector<int16_t> reversed(voice.rbegin(), voice.rend());
    EXPECT_EQ(std::memcmp(bytes.constData() + 48, reversed.data(), 4410), 0);
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile) << "exporting does not rename the voice";
    EXPECT_EQ(Voice(), voice);
}

TEST_F(FileCommands, WithoutAVoiceSaveAndExportSaySoAndWriteNothing)
{
    answer = Path("nothing.wav");
    for (QAction *item : {form->Save1, form->SaveAs1, form->ExportToWaveFormat1, form->ExportToRealAudioFormat1}) {
        item->setEnabled(true);
        item->trigger();
    }
    ASSERT_EQ(messages.Shown.size(), 4u);
    for (const auto &shown : messages.Shown)
        EXPECT_EQ(shown.first, "There is no voice in memory, either record a voice or load one from a file on disk.");
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(answer)));
}

TEST_F(FileCommands, RealAudioExportWritesTheProcessedClipAt8000HzMono)
{
    OpenThroughTheMenu(voiceFile);
    form->Backward1->trigger();
    form->SlowMonster1->trigger();
    const std::string name = Path("export.ra");
    TFileDialog seen;
    SetFileDialogAnswerer([&](TFileDialog &dialog, QWidget *) {
        seen = dialog;
        dialog.FileName = name;
        return true;
    });
    form->ExportToRealAudioFormat1->trigger();

    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(seen.Kind, TFileDialog::TKind::Save);
    EXPECT_EQ(seen.Title, "Export to RealAudio File");
    EXPECT_EQ(seen.FilterName, "RealAudio Files");
    EXPECT_EQ(seen.FilterPattern, "*.ra");
    EXPECT_EQ(seen.DefaultExt, "ra");
    EXPECT_TRUE(seen.OverwritePrompt);
    // The effects ran into the working buffer, as for the other exports.
    const std::vector<int16_t> reversed(voice.rbegin(), voice.rend());
    ASSERT_EQ(form->Document.WorkBytes, 4410);
    EXPECT_EQ(std::memcmp(form->Document.WorkData.get(), reversed.data(), 4410), 0);
    EXPECT_EQ(Voice(), voice);
    EXPECT_EQ(form->Document.VoiceFileName, voiceFile) << "exporting does not rename the voice";
    // Slow Monster plays the 2205 samples at 11025 Hz: 0.2 s, 1600 samples
    // at 8000 Hz, ten whole frames.
    const fftesting::Decoded decoded = fftesting::Decode(name);
    EXPECT_EQ(decoded.Container, "rm");
    EXPECT_EQ(decoded.Codec, AV_CODEC_ID_RA_144);
    EXPECT_EQ(decoded.SampleRate, 8000);
    EXPECT_EQ(decoded.Channels, 1);
    EXPECT_GT(decoded.Samples.size(), 1440u);
    EXPECT_LE(decoded.Samples.size(), 1600u);
    EXPECT_EQ(ReadAll(name).left(4), QByteArray(".RMF"));
    // The progress window ran to the end and is gone again.
    EXPECT_EQ(ProgressForm->ProgressGauge->MaxValue(), 100);
    EXPECT_EQ(ProgressForm->ProgressGauge->Progress(), 100);
    EXPECT_FALSE(ProgressForm->isVisible());
}

TEST_F(FileCommands, RealAudioExportThatCannotWriteSaysWhyAndMakesNothing)
{
    OpenThroughTheMenu(voiceFile);
    const std::string name = Path("missing/export.ra");
    answer = name;
    form->ExportToRealAudioFormat1->trigger();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "Cannot write the file " + name +
                                           ": The file cannot be created in that folder (" + std::strerror(ENOENT) +
                                           ").");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("missing"))));
    EXPECT_FALSE(ProgressForm->isVisible());

    // Cancelled: nothing asked of the writer, nothing said.
    answer.clear();
    form->ExportToRealAudioFormat1->trigger();
    EXPECT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(asked.back(), "Export to RealAudio File");
}

TEST_F(FileCommands, OnlyASingleLocalSoundFileIsTakenWhenDropped)
{
    const std::string upper = Path("LOUD.WAV");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(voiceFile), QString::fromStdString(upper)));
    auto entered = [this](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(form.get(), &enter);
        return enter.isAccepted();
    };
    const QUrl wave = QUrl::fromLocalFile(QString::fromStdString(upper));
    EXPECT_TRUE(form->acceptDrops());
    EXPECT_TRUE(entered({wave}));
    // Sound files of other kinds are taken too (their opening is tested in
    // test_openformats.cpp); other files are not.
    EXPECT_TRUE(entered({QUrl::fromLocalFile(QString::fromStdString(Path("song.mp3")))}));
    EXPECT_FALSE(entered({QUrl::fromLocalFile(QString::fromStdString(Path("notes.txt")))}));
    EXPECT_FALSE(entered({wave, wave}));
    EXPECT_FALSE(entered({QUrl(QStringLiteral("https://example.org/voice.wav"))}));

    QMimeData data;
    data.setUrls({wave});
    QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - LOUD.WAV"));
    EXPECT_EQ(Voice(), voice);
    EXPECT_EQ(SaveMenus(), (std::vector<bool>{true, true, true}));
}

// A WAVE file in any layout, built here byte by byte: "fmt " (16 bytes) and
// "data" holding the given bytes.
QByteArray LayoutFile(uint16_t channels, uint32_t rate, uint16_t bits, const QByteArray &data)
{
    QByteArray out;
    auto put = [&out](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    out.append("RIFF");
    put(static_cast<uint32_t>(36 + data.size()), 4);
    out.append("WAVEfmt ");
    put(16, 4);
    put(1, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * align, 4);
    put(align, 2);
    put(bits, 2);
    out.append("data");
    put(static_cast<uint32_t>(data.size()), 4);
    out.append(data);
    return out;
}

void WriteFile(const std::string &name, const QByteArray &bytes)
{
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

TEST_F(FileCommands, SaveAsksForANameWhenTheFileWasConvertedOrIsAPreset)
{
    QByteArray stereo44;
    for (int i = 0; i < 400; ++i)
        stereo44.append(static_cast<char>(i * 3));
    const std::string presetFolder = Path("presets");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(presetFolder)));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(std::string(std::getenv("GLIMMER_BUILD_DIR")) + "/SF2.WAV"),
                            QString::fromStdString(presetFolder + "/SF2.WAV")));
    form->PresetFolder = presetFolder;

    const struct {
        const char *Name;
        std::string File;
        QByteArray Bytes; // empty: the file is already there
        bool Asks;
    } cases[] = {
        {"44.1 kHz stereo", Path("stereo.wav"), LayoutFile(2, 44100, 16, stereo44), true},
        {"11025 Hz mono", Path("slow.wav"), LayoutFile(1, 11025, 16, stereo44), true},
        {"8-bit mono", Path("eight.wav"), LayoutFile(1, 22050, 8, stereo44), true},
        {"preset", presetFolder + "/SF2.WAV", {}, true},
        {"voice format", voiceFile, {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        if (!c.Bytes.isEmpty())
            WriteFile(c.File, c.Bytes);
        if (std::string(c.Name) == "preset")
            QTest::mouseClick(form->SF2Button, Qt::LeftButton, {}, QPoint(29, 29));
        else
            OpenThroughTheMenu(c.File);
        ASSERT_GT(form->Document.VoiceBytes, 0);
        const QByteArray before = ReadAll(c.File);
        form->Echo1->trigger();
        asked.clear();
        std::vector<std::string> proposed;
        const FileDialogAnswerer usual = SetFileDialogAnswerer([&](TFileDialog &dialog, QWidget *) {
            asked.push_back(dialog.Title);
            proposed.push_back(dialog.FileName);
            return false; // cancelled
        });
        form->Save1->trigger();
        SetFileDialogAnswerer(usual);
        if (c.Asks) {
            // Asked, starting in the file's own folder with no name offered,
            // and the file is as it was.
            EXPECT_EQ(asked, std::vector<std::string>{"Save Voice As File"});
            const std::string folderOf = c.File.substr(0, c.File.rfind('/') + 1);
            EXPECT_EQ(proposed, std::vector<std::string>{folderOf});
            EXPECT_EQ(ReadAll(c.File), before);
            EXPECT_TRUE(form->Document.Modified);
        } else {
            EXPECT_TRUE(asked.empty());
            const QByteArray after = ReadAll(c.File);
            ASSERT_EQ(after.size(), 570 + 4410);
            EXPECT_EQ(LE16(after, 48 + 2), 1) << "Echo is stored";
            EXPECT_FALSE(form->Document.Modified);
        }
    }
}

TEST_F(FileCommands, AConvertedFileSavedUnderANewNameIsThenSavedOverWithoutAsking)
{
    QByteArray data;
    for (int i = 0; i < 200; ++i)
        data.append(static_cast<char>(i));
    const std::string original = Path("original.wav");
    WriteFile(original, LayoutFile(2, 44100, 16, data));
    OpenThroughTheMenu(original);
    ASSERT_EQ(form->Document.VoiceBytes, 50) << "50 stereo frames at 44.1 kHz: 25 voice samples";
    const std::string copy = Path("copy.wav");
    answer = copy;
    form->Save1->trigger();
    EXPECT_EQ(form->Document.VoiceFileName, copy);
    EXPECT_EQ(ReadAll(copy).size(), 570 + 50);
    EXPECT_EQ(ReadAll(original), LayoutFile(2, 44100, 16, data)) << "the original is untouched";
    answer.clear();
    asked.clear();
    form->Backward1->trigger();
    form->Save1->trigger();
    EXPECT_TRUE(asked.empty()) << "the copy is in the voice format";
    EXPECT_EQ(LE16(ReadAll(copy), 48 + 2 * 8), 1) << "Backward is stored";
}

TEST_F(FileCommands, AMissingFileSaysSoAndKeepsTheVoice)
{
    const std::string gone = Path("gone.wav");
    const struct {
        const char *Name;
        std::function<void()> Open;
    } ways[] = {
        {"Open", [&] { OpenThroughTheMenu(gone); }},
        {"drop",
         [&] {
             QMimeData data;
             data.setUrls({QUrl::fromLocalFile(QString::fromStdString(gone))});
             QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form.get(), &enter);
             QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form.get(), &drop);
         }},
        {"by name", [&] { form->OpenVoiceFile(gone); }},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.Name);
        OpenThroughTheMenu(voiceFile);
        form->Chorus1->trigger();
        form->Document.Effects.PitchPosition = 4;
        form->ShowEffects();
        messages.Shown.clear();
        way.Open();
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, "File not found: " + gone);
        EXPECT_EQ(Voice(), voice);
        EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - a voice.wav"));
        EXPECT_EQ(Pressed(), std::vector<TQMBL_SawToothButton *>{form->ChorusButton});
        EXPECT_EQ(form->PitchBar->Position(), 4);
        EXPECT_EQ(SaveMenus(), (std::vector<bool>{true, true, true}));
    }
}

// Drop data as the window system delivers it: the raw bytes of the list of
// links. (A QMimeData filled by setData would parse the list into QUrls and
// lose bytes that are not UTF-8 before the window ever saw them.)
class PlatformDropData : public QMimeData {
public:
    explicit PlatformDropData(QByteArray list) : list(std::move(list)) {}
    QStringList formats() const override { return {QStringLiteral("text/uri-list")}; }
    bool hasFormat(const QString &type) const override { return type == QStringLiteral("text/uri-list"); }

protected:
    QVariant retrieveData(const QString &type, QMetaType) const override
    {
        return type == QStringLiteral("text/uri-list") ? QVariant(list) : QVariant();
    }

private:
    QByteArray list;
};

TEST_F(FileCommands, AFileNameThatIsNotUtf8Opens)
{
    // "\xe9t\xe9.wav", Latin-1 bytes as an older system left them.
    const std::string latin1 = folder.path().toStdString() + "/\xe9t\xe9.wav";
    {
        std::ofstream out(latin1, std::ios::binary);
        std::ifstream in(voiceFile, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_TRUE(std::filesystem::exists(latin1));

    // Dropped: the file manager's list of links carries the bytes
    // percent-encoded, and the platform hands them over as they came.
    PlatformDropData data("file://" + QByteArray::fromStdString(latin1).toPercentEncoding("/") + "\r\n");
    QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    EXPECT_TRUE(messages.Shown.empty()) << (messages.Shown.empty() ? "" : messages.Shown[0].first);
    EXPECT_EQ(form->Document.VoiceFileName, latin1);
    EXPECT_EQ(Voice(), voice);

    // Chosen in the Open dialog, and saved back under the same name.
    form->New1->trigger();
    OpenThroughTheMenu(latin1);
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(Voice(), voice);
    form->Echo1->trigger();
    form->Save1->trigger();
    EXPECT_TRUE(messages.Shown.empty());
    std::ifstream saved(latin1, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(saved.tellg()), 570 + 4410);
    std::filesystem::remove(latin1); // the temporary folder cannot name it
}

TEST_F(FileCommands, AFullTemporaryFolderNamesItAndKeepsTheVoice)
{
    const std::string stereo = Path("stereo.wav");
    WriteFile(stereo, LayoutFile(2, 22050, 16, QByteArray(8000, 3)));
    OpenThroughTheMenu(voiceFile);
    form->Flange1->trigger();

    const bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray previous = qgetenv("TMPDIR");
    auto restore = [&] {
        if (hadTmp)
            qputenv("TMPDIR", previous);
        else
            qunsetenv("TMPDIR");
    };
    for (const fulldisk::FullDisk::TKind kind : fulldisk::DiskKinds()) {
        fulldisk::FullDisk disk(kind, Path("tmp"));
        if (!disk.Available())
            continue;
        SCOPED_TRACE(disk.Name());
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(disk.Folder())));
        qputenv("TMPDIR", QByteArray::fromStdString(disk.Folder()));
        ASSERT_TRUE(disk.MakeFull(1000)); // the converted file would be 4044 bytes
        messages.Shown.clear();
        OpenThroughTheMenu(stereo);
        restore();
        const QStringList left = QDir(QString::fromStdString(disk.Folder())).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left.size(), static_cast<int>(disk.Extra().size())) << left.join(' ').toStdString();
        disk.Release();
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_EQ(messages.Shown[0].first, "The temporary folder " + disk.Folder() +
                                               " is full or not writable: " + stereo + " cannot be converted.");
        EXPECT_EQ(Voice(), voice);
        EXPECT_EQ(form->Document.VoiceFileName, voiceFile);
        EXPECT_EQ(Pressed(), std::vector<TQMBL_SawToothButton *>{form->FlangeButton});
        EXPECT_EQ(SaveMenus(), (std::vector<bool>{true, true, true}));
    }
}

// Save, Save As and Export to WAVE onto a disk with no room: the message
// names the file, the file that was there keeps every byte, nothing is
// left beside it.
TEST_F(FileCommands, AFullDiskLeavesTheEarlierFileByteForByte)
{
    OpenThroughTheMenu(voiceFile);
    for (const fulldisk::FullDisk::TKind kind : fulldisk::DiskKinds()) {
        fulldisk::FullDisk disk(kind, Path("disk"));
        if (!disk.Available())
            continue;
        SCOPED_TRACE(disk.Name());
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(disk.Folder())));
        // A small earlier voice at the target, then the disk is full.
        const std::string target = disk.File("earlier.wav");
        const int16_t few[3] = {9, 8, 7};
        ASSERT_TRUE(WriteWaveFile(target, 22050, 16, 1, few, 6));
        const QByteArray earlier = ReadAll(target);
        const struct {
            const char *Name;
            std::function<void()> Command;
        } commands[] = {
            {"Save As",
             [&] {
                 answer = target;
                 form->SaveAs1->trigger();
             }},
            {"Save",
             [&] {
                 form->Document.VoiceFileName = target; // the voice is that file's
                 form->Document.SaveNeedsName = false;
                 form->Save1->trigger();
             }},
            {"Export to WAVE",
             [&] {
                 answer = target;
                 form->ExportToWaveFormat1->trigger();
             }},
        };
        ASSERT_TRUE(disk.MakeFull(1000)); // the voice's file is 4980 bytes
        for (const auto &c : commands) {
            SCOPED_TRACE(c.Name);
            messages.Shown.clear();
            c.Command();
            answer.clear();
            ASSERT_EQ(messages.Shown.size(), 1u);
            EXPECT_EQ(messages.Shown[0].first, "Cannot write the file " + target);
            EXPECT_EQ(ReadAll(target), earlier);
            QStringList expected{"earlier.wav"};
            for (const std::string &extra : disk.Extra())
                expected << QString::fromStdString(extra);
            expected.sort();
            EXPECT_EQ(QDir(QString::fromStdString(disk.Folder())).entryList(QDir::Files | QDir::Hidden), expected);
        }
        disk.Release();
        form->Document.VoiceFileName = voiceFile;
        EXPECT_EQ(Voice(), voice);
    }
}

} // namespace
