// SPDX-License-Identifier: GPL-3.0-or-later
// File, Export, to MP3 File... from the main window: the processed clip goes
// through a temporary WAVE file into the export window and out as MP3.

#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/wavtomp3unit.h"
#include "audio/lameconvert.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"
#include "tests/app/apptest.h"
#include "tests/fulldisk.h"
#include "tests/platform/test_mp3frames.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

using namespace mp3test;

namespace {

class Mp3Export : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir(folder.path()).mkdir("tmp"));
        ASSERT_TRUE(QDir(folder.path()).mkdir("empty"));
        previousTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QDir(folder.path()).filePath("tmp").toLocal8Bit());
        SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        ProgressForm = new TProgressForm(form.get());
        ProgressForm->FormCreate();
        // Half a second of 440 Hz at 22050 Hz, opened as the voice.
        const std::string voice = Path("voice.wav");
        WriteTone(voice, 22050, 1, 11025);
        answer = voice;
        SetFileDialogAnswerer([this](TFileDialog &dialog, QWidget *) {
            asked.push_back(dialog);
            if (answer.empty())
                return false;
            dialog.FileName = answer;
            return true;
        });
        form->Open1->trigger();
        ASSERT_GT(form->Document.VoiceBytes, 0u);
        asked.clear();
        messages.Shown.clear();
    }
    void TearDown() override
    {
        SetFileDialogAnswerer({});
        delete ProgressForm;
        ProgressForm = nullptr;
        form.reset();
        SetLameLibraryFolder({});
        qputenv("TMPDIR", previousTmp);
    }

    std::string Path(const char *name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }
    QStringList TemporaryFiles() const { return QDir(folder.filePath("tmp")).entryList(QDir::Files); }

    // Triggers the menu item; while the window is up, act runs in its event loop.
    void Export(const std::function<void(TWaveToMP3ConversionForm *)> &act)
    {
        QTimer::singleShot(0, [act] {
            ASSERT_NE(WaveToMP3ConversionForm, nullptr);
            ASSERT_TRUE(WaveToMP3ConversionForm->isVisible());
            act(WaveToMP3ConversionForm);
        });
        form->ExportToMP3File->trigger();
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    QByteArray previousTmp;
    std::unique_ptr<TMainForm> form;
    std::string answer;
    std::vector<TFileDialog> asked;
};

QStringList Codecs(TWaveToMP3ConversionForm *window)
{
    QStringList names;
    for (int i = 0; i < window->codecNamesComboBox->count(); ++i)
        names << window->codecNamesComboBox->itemText(i);
    return names;
}

TEST_F(Mp3Export, StartWritesTheProcessedClipAsMp3AndRemovesTheTemporaryWave)
{
    answer = Path("song.mp3");
    QStringList codecs;
    QStringList during;
    Export([&](TWaveToMP3ConversionForm *window) {
        codecs = Codecs(window);
        during = TemporaryFiles();
        window->BitRateComboBox->setCurrentIndex(window->BitRateComboBox->findText("64"));
        QTest::mouseClick(window->StartButton, Qt::LeftButton);
    });
    EXPECT_EQ(codecs, (QStringList{"MPEG Layer-3 Codec", "Lame Encoder"}));
    ASSERT_EQ(during.size(), 1);
    EXPECT_TRUE(during[0].endsWith(".wav"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Kind, TFileDialog::TKind::Save);
    EXPECT_EQ(asked[0].FilterPattern, "*.mp3");
    EXPECT_EQ(asked[0].DefaultExt, "mp3");
    ASSERT_FALSE(messages.Shown.empty());
    EXPECT_EQ(messages.Shown.back(),
              std::make_pair("Export to " + answer + " was successful.", std::string("Glimmerbox")));
    const auto frames = Frames(ReadAll(answer));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Version, 2);
    EXPECT_EQ(frames[0].SampleRate, 22050);
    EXPECT_EQ(frames[0].BitRate, 64);
    // Half a second: 11025 / 576 = 19.1 frames of sound.
    EXPECT_GE(frames.size(), 20u);
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

TEST_F(Mp3Export, LameEncoderFromTheMenuWritesMp3)
{
    answer = Path("lame.mp3");
    Export([](TWaveToMP3ConversionForm *window) {
        window->codecNamesComboBox->setCurrentIndex(1);
        window->BitRateComboBox->setCurrentIndex(window->BitRateComboBox->findText("128"));
        QTest::mouseClick(window->StartButton, Qt::LeftButton);
    });
    EXPECT_EQ(messages.Shown.back().first, "Export to " + answer + " was successful.");
    const auto frames = Frames(ReadAll(answer));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].BitRate, 128);
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

TEST_F(Mp3Export, WithoutTheLameLibraryOnlyTheLibraryCodecIsOffered)
{
    SetLameLibraryFolder(QDir(folder.path()).filePath("empty").toStdString());
    QStringList codecs;
    Export([&](TWaveToMP3ConversionForm *window) {
        codecs = Codecs(window);
        QTest::mouseClick(window->CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(codecs, QStringList{"MPEG Layer-3 Codec"});
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

TEST_F(Mp3Export, RefusedBitRateThenCancelLeavesNoTemporaryFile)
{
    answer = Path("refused.mp3");
    Export([this](TWaveToMP3ConversionForm *window) {
        window->BitRateComboBox->setCurrentIndex(window->BitRateComboBox->findText("256"));
        QTest::mouseClick(window->StartButton, Qt::LeftButton);
        // The refusal arrives from the worker thread; the window stays up.
        ASSERT_TRUE(ProcessEventsUntil([this] { return !messages.Shown.empty(); }));
        EXPECT_TRUE(window->isVisible());
        QTest::mouseClick(window->CancelBtn, Qt::LeftButton);
    });
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first, "The selected Codec cannot produce MP3 files at 256 kbit Bitrate. Please "
                                       "select another bit-rate or a different codec and try again.");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(answer)));
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

// Every way an export can fail, through the window, with an MP3 already at
// the chosen name: it keeps every byte and nothing is left beside it.
TEST_F(Mp3Export, AFailedOrCancelledExportLeavesTheEarlierFileByteForByte)
{
    // A minute of tone, so that a conversion is still running when Cancel
    // comes, and its MP3 is larger than the file-size limit below.
    const std::string longVoice = Path("long.wav");
    WriteTone(longVoice, 22050, 1, 22050 * 60);
    answer = longVoice;
    form->Open1->trigger();
    ASSERT_EQ(form->Document.VoiceBytes, 22050 * 60 * 2);

    std::vector<uint8_t> earlier(100 * 1024);
    for (size_t i = 0; i < earlier.size(); ++i)
        earlier[i] = static_cast<uint8_t>(i * 31 + 5);
    const std::string target = Path("earlier.mp3");
    answer = target;

    auto pick = [](TWaveToMP3ConversionForm *window, int codec, const char *rate) {
        window->codecNamesComboBox->setCurrentIndex(codec);
        window->BitRateComboBox->setCurrentIndex(window->BitRateComboBox->findText(QString::fromLatin1(rate)));
    };
    const std::string refused = BitRateRefusedText(256);
    const struct {
        const char *Name;
        bool FastSqueaker;
        int Codec; // 0 the library, 1 the Lame Encoder
        const char *Rate;
        bool Cancel;      // Cancel right after Start
        bool LimitFiles;  // a file-size limit while converting, as a full disk
        bool StaysOpen;   // the window stays up for another try
        std::string Said; // the message
    } cases[] = {
        {"library, refused bit rate", false, 0, "256", false, false, true, refused},
        {"Lame, stream refused", true, 1, "8", false, false, true, ConversionErrorText(LameNoStream)},
        {"library, cancelled", false, 0, "64", true, false, false, "Error: User Abort"},
        {"Lame, cancelled", false, 1, "64", true, false, false, "Error: User Abort"},
        {"library, full disk", false, 0, "64", false, true, false, "Error: Space Not Available"},
        {"Lame, full disk", false, 1, "64", false, true, false, "Error: Space Not Available"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        if (form->FastSqueakButton->Down() != c.FastSqueaker)
            form->FastSqeaker1->trigger();
        std::ofstream(target, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(earlier.data()), static_cast<std::streamsize>(earlier.size()));
        messages.Shown.clear();
        bool stayedOpen = false;
        std::unique_ptr<fulldisk::FileSizeLimit> limit;
        Export([&](TWaveToMP3ConversionForm *window) {
            pick(window, c.Codec, c.Rate);
            // The processed clip is in the temporary WAVE by now: only the
            // MP3 meets the limit.
            if (c.LimitFiles)
                limit = std::make_unique<fulldisk::FileSizeLimit>(earlier.size() + 4096);
            QTest::mouseClick(window->StartButton, Qt::LeftButton);
            if (c.Cancel) {
                QTest::mouseClick(window->CancelBtn, Qt::LeftButton);
                return;
            }
            ASSERT_TRUE(ProcessEventsUntil([this] { return !messages.Shown.empty(); }, 60000));
            stayedOpen = window->isVisible();
            if (stayedOpen)
                QTest::mouseClick(window->CancelBtn, Qt::LeftButton);
        });
        ASSERT_TRUE(ProcessEventsUntil([this] { return !messages.Shown.empty(); }, 60000));
        limit.reset();
        EXPECT_EQ(messages.Shown.front().first, c.Said);
        EXPECT_EQ(stayedOpen, c.StaysOpen);
        EXPECT_EQ(ReadAll(target), earlier);
        for (const QString &name : QDir(folder.path()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_FALSE(name.startsWith(".gbx")) << name.toStdString();
        EXPECT_TRUE(TemporaryFiles().isEmpty());
    }
}

TEST_F(Mp3Export, TheBarStartsFromNothingAfterAnEarlierExport)
{
    // Where an earlier export that was cancelled left the shared word.
    LameProgress = 40;
    int shownAtStart = -1;
    answer = Path("second.mp3");
    Export([&](TWaveToMP3ConversionForm *window) {
        window->codecNamesComboBox->setCurrentIndex(1);
        window->BitRateComboBox->setCurrentIndex(window->BitRateComboBox->findText("256"));
        QTest::mouseClick(window->StartButton, Qt::LeftButton);
        // The first tick, before the worker has done anything it can report.
        window->PercentTimerTimer();
        shownAtStart = window->ProgressBar1->value();
        ASSERT_TRUE(ProcessEventsUntil([this] { return !messages.Shown.empty(); }));
        QTest::mouseClick(window->CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(shownAtStart, 0);
}

TEST_F(Mp3Export, WithoutAVoiceNothingOpens)
{
    form->New1->trigger();
    messages.Shown.clear();
    form->ExportToMP3File->trigger();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].first,
              "There is no voice in memory, either record a voice or load one from a file on disk.");
    EXPECT_TRUE(WaveToMP3ConversionForm == nullptr || !WaveToMP3ConversionForm->isVisible());
    EXPECT_TRUE(TemporaryFiles().isEmpty());
}

} // namespace
