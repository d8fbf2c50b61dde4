// File, Export, to MP3 File... from the main window: the processed clip goes
// through a temporary WAVE file into the export window and out as MP3.

#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/lameconvert.h"
#include "audio/wavefile.h"
#include "audio/wavtomp3unit.h"
#include "tests/app/apptest.h"
#include "tests/platform/test_mp3frames.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
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
        ASSERT_GT(form->VoiceBytes, 0u);
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
