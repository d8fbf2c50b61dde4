// SPDX-License-Identifier: GPL-3.0-or-later
// Opening sound files of every kind in the main window: the Open dialog's
// filters, a 48 kHz file whose settings chunk puts the effect buttons back
// while the progress window's gauge follows the conversion, and MP3, FLAC
// and a phone's M4A voice memo through the menu and by dropping them, FFmpeg
// coming into the process only for the memo.
#include "app/mfunit.h"
#include "app/progressunit.h"
#include "audio/soundfile.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "tests/app/apptest.h"
#include "tests/mediatesting.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <numbers>
#include <vector>

namespace {

void Put16(std::string &s, uint32_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string &s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A 16-bit mono WAVE file at 48 kHz holding a 440 Hz tone, with a "qmbl"
// record of Echo, Flange and the pitch at 3 after its data, where another
// program appending chunks would put it.
void Write48kWithSettings(const std::string &name, uint32_t frames)
{
    std::string data;
    for (uint32_t n = 0; n < frames; ++n)
        Put16(data,
              static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * n / 48000))));
    std::string record;
    const uint16_t words[15] = {14, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0};
    for (uint16_t w : words)
        Put16(record, w);
    record.resize(514, '\0');

    std::string body = "WAVEfmt ";
    Put32(body, 16);
    Put16(body, 1);
    Put16(body, 1);
    Put32(body, 48000);
    Put32(body, 96000);
    Put16(body, 2);
    Put16(body, 16);
    body += "data";
    Put32(body, static_cast<uint32_t>(data.size()));
    body += data;
    body += "qmbl";
    Put32(body, 514);
    body += record;
    std::string file = "RIFF";
    Put32(file, static_cast<uint32_t>(body.size()));
    std::ofstream(name, std::ios::binary) << file + body;
}

bool WriteTone(const std::string &name, int format, int rate, int frames)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = format;
    SNDFILE *file = sf_open(name.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<double> values;
    for (int n = 0; n < frames; ++n) {
        values.push_back(0.4 * std::sin(2 * std::numbers::pi * 300 * n / rate));
        values.push_back(0.2 * std::sin(2 * std::numbers::pi * 300 * n / rate));
    }
    const bool written = sf_writef_double(file, values.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

class OpenFormats : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(folder.isValid());
        form = std::make_unique<TMainForm>();
        form->Timer->stop();
        form->UpdateTitle();
        ProgressForm = new TProgressForm(form.get());
        ProgressForm->FormCreate();
        SetFileDialogAnswerer([this](TFileDialog &dialog, QWidget *) {
            asked.push_back(dialog);
            if (answer.empty())
                return false;
            dialog.FileName = answer;
            return true;
        });
    }

    void TearDown() override
    {
        SetFileDialogAnswerer({});
        delete ProgressForm;
        ProgressForm = nullptr;
        form.reset();
    }

    std::string Path(const char *name) const { return folder.filePath(QString::fromLatin1(name)).toStdString(); }

    void OpenThroughTheMenu(const std::string &name)
    {
        answer = name;
        form->Open1->trigger();
        answer.clear();
    }

    std::vector<TQMBL_SawToothButton *> Pressed() const
    {
        std::vector<TQMBL_SawToothButton *> down;
        for (TQMBL_SawToothButton *button :
             {form->EchoButton, form->ChorusButton, form->FlangeButton, form->FadeInButton, form->fadeOutButton,
              form->BassOnlyButton, form->RobotvoiceButton, form->BackwardButton, form->SlowMonstButton,
              form->FastSqueakButton, form->TrebleOnlyButton, form->SweepUpButton, form->SweepDownButton})
            if (button->Down())
                down.push_back(button);
        return down;
    }

    RecordedMessages messages;
    QTemporaryDir folder;
    std::unique_ptr<TMainForm> form;
    std::string answer;
    std::vector<TFileDialog> asked;
};

TEST_F(OpenFormats, OpenOffersSoundFilesThenWaveFilesThenAllFiles)
{
    form->Open1->trigger(); // answered with a cancel
    ASSERT_EQ(asked.size(), 1u);
    const TFileDialog &dialog = asked[0];
    EXPECT_EQ(dialog.Title, "Open a Voice File");
    EXPECT_EQ(dialog.FilterName, "Sound Files");
    EXPECT_EQ(dialog.FilterPattern, SoundFilePattern());
    for (const char *pattern :
         {"*.wav", "*.mp3", "*.flac", "*.ogg", "*.opus", "*.aiff", "*.m4a", "*.webm", "*.amr", "*.mp4"})
        EXPECT_NE(dialog.FilterPattern.find(pattern), std::string::npos) << pattern;
    EXPECT_EQ(dialog.MoreFilters,
              (std::vector<std::pair<std::string, std::string>>{{"Wave Files", "*.wav"}, {"All Files", "*"}}));
    EXPECT_TRUE(dialog.FileMustExist);
}

TEST_F(OpenFormats, A48kHzFileWithSettingsRestoresTheEffectButtons)
{
    const std::string name = Path("memo.wav");
    Write48kWithSettings(name, 96000); // two seconds
    // Something else on the gauge before: the conversion resets it to 90.
    ProgressForm->ProgressGauge->SetMaxValue(120);
    ProgressForm->ProgressGauge->SetProgress(7);

    OpenThroughTheMenu(name);
    EXPECT_TRUE(messages.Shown.empty());
    EXPECT_EQ(Pressed(), (std::vector<TQMBL_SawToothButton *>{form->EchoButton, form->FlangeButton}));
    EXPECT_EQ(form->PitchBar->Position(), 3);
    EXPECT_EQ(form->Document.VoiceBytes, 2 * 44100);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - memo.wav"));
    EXPECT_EQ(ProgressForm->ProgressGauge->MaxValue(), 90);
    EXPECT_EQ(ProgressForm->ProgressGauge->Progress(), 90);
    EXPECT_FALSE(ProgressForm->isVisible());
}

TEST_F(OpenFormats, Mp3FlacAndAPhonesMemoOpenThroughTheMenuAndByDropping)
{
    struct Case {
        const char *Name;
        int Format;
        int Rate;
    };
    // The memo is AAC in M4A, made by the ffmpeg command from a WAVE file.
    for (const Case &c : {Case{"song.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100},
                          Case{"take.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000},
                          Case{"memo.m4a", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100}}) {
        SCOPED_TRACE(c.Name);
        const std::string name = Path(c.Name);
        const bool memo = name.ends_with(".m4a");
        if (memo) {
            const std::string source = Path("memo-source.wav");
            ASSERT_TRUE(WriteTone(source, c.Format, c.Rate, c.Rate));
            ASSERT_TRUE(
                mediatesting::Ffmpeg("-i " + mediatesting::Quoted(source) + " -c:a aac " + mediatesting::Quoted(name)));
        } else {
            ASSERT_TRUE(WriteTone(name, c.Format, c.Rate, c.Rate)); // one second
        }
        // The window, MP3 and FLAC have all done without FFmpeg.
        EXPECT_EQ(mediatesting::FfmpegMapped(), false);
        form->New1->trigger();
        OpenThroughTheMenu(name);
        EXPECT_TRUE(messages.Shown.empty());
        // AAC ends on a whole frame of 1024 samples at 44100 Hz.
        const int slack = memo ? 1024 : 2;
        EXPECT_NEAR(form->Document.VoiceBytes, 44100, slack);
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Glimmerbox - ") + QString::fromLatin1(c.Name));
        // The mean of the two channels: a 300 Hz tone at 0.3 of full scale
        // (in the middle: a codec may ring where the tone starts and stops).
        double peak = 0;
        for (int32_t i = form->Document.VoiceBytes / 8; i < form->Document.VoiceBytes * 3 / 8; ++i)
            peak = std::max(peak, std::abs(static_cast<double>(form->Document.VoiceData[static_cast<std::size_t>(i)])));
        EXPECT_NEAR(peak, 0.3 * 32768, 0.03 * 32768);
        EXPECT_EQ(mediatesting::FfmpegMapped(), memo);

        form->New1->trigger();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(name))});
        QDragEnterEvent enter(QPoint(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(form.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(300, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        EXPECT_NEAR(form->Document.VoiceBytes, 44100, slack);
    }
}

} // namespace
