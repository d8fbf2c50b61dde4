// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 export window on the offscreen platform, converting for real with
// both encoders.

#include "app/codecmessageunit.h"
#include "app/wavtomp3unit.h"
#include "audio/lameconvert.h"
#include "tests/app/apptest.h"
#include "tests/platform/test_mp3frames.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using namespace mp3test;

namespace {

const QStringList CodecRates = {"24",  "32",  "40",  "48",  "56",  "64",  "80", "96",
                                "112", "128", "160", "192", "224", "256", "320"};
const QStringList LameRates = {"8", "16", "24", "32", "40", "48", "56", "64", "80", "96", "112", "128", "144", "160"};

class ExportWindow : public testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        dir = fs::temp_directory_path() / ("glimmer-mp3dialog-" + std::to_string(::getpid()));
        fs::create_directories(dir / "empty");
        SetLameLibraryFolder(std::getenv("GLIMMER_BUILD_DIR"));
        source = (dir / "voice.wav").string();
        WriteTone(source, 22050, 1, 11025);

        form = std::make_unique<TWaveToMP3ConversionForm>();
        form->FormCreate();
        form->CodecBitRates = CodecRates;
        form->LameBitRates = LameRates;
        form->codecNamesComboBox->addItems({"MPEG Layer-3 (shine)", LameCodecName});
        form->RunFileSaveDialog = [this](TMp3SaveDialog &dialog, QWidget *) {
            asked.push_back(dialog);
            if (!answer)
                return false;
            dialog.FileName = *answer;
            return true;
        };
        form->ShowMessage = [this](const std::string &text, const std::string &caption) {
            shown.emplace_back(text, caption);
        };
        form->SetJob(std::make_shared<TConversionJob>(source));
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        SetLameLibraryFolder({});
        fs::remove_all(dir);
    }

    void ChooseCodec(int index, const QString &bitRate)
    {
        form->codecNamesComboBox->setCurrentIndex(index);
        form->BitRateComboBox->setCurrentIndex(form->BitRateComboBox->findText(bitRate));
        ASSERT_GE(form->BitRateComboBox->currentIndex(), 0);
    }
    bool StartAndWaitForMessage()
    {
        const size_t before = shown.size();
        QTest::mouseClick(form->StartButton, Qt::LeftButton);
        return ProcessEventsUntil([&] { return shown.size() > before; });
    }

    fs::path dir;
    std::string source;
    std::unique_ptr<TWaveToMP3ConversionForm> form;
    std::optional<std::string> answer;
    std::vector<TMp3SaveDialog> asked;
    std::vector<std::pair<std::string, std::string>> shown;
};

QStringList Items(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

TEST_F(ExportWindow, ComponentsCarryTheirTexts)
{
    EXPECT_EQ(form->windowTitle(), "Tamblor Vellum MP3 Conversion");
    EXPECT_EQ(form->size(), QSize(440, 112));
    EXPECT_EQ(form->Label1->text(), "Available Codecs ");
    EXPECT_EQ(form->Label2->text(), "BitRate (kbit)");
    EXPECT_EQ(form->StartButton->text(), "&Start");
    EXPECT_EQ(form->CancelBtn->text(), "&Cancel");
    EXPECT_EQ(form->PercentTimer->interval(), 500);
    EXPECT_FALSE(form->PercentTimer->isActive());
    EXPECT_EQ(form->ProgressBar1->maximum(), 100);
    TWaveToMP3ConversionForm fresh;
    EXPECT_EQ(Items(fresh.BitRateComboBox), CodecRates);
}

TEST_F(ExportWindow, ChoosingTheLameEncoderInAnyCaseSwitchesTheBitRates)
{
    form->codecNamesComboBox->setCurrentIndex(0);
    EXPECT_EQ(Items(form->BitRateComboBox), CodecRates);
    form->codecNamesComboBox->setCurrentIndex(1);
    EXPECT_EQ(Items(form->BitRateComboBox), LameRates);
    EXPECT_EQ(form->BitRateComboBox->currentText(), "8");
    form->codecNamesComboBox->addItem("LAME encoder");
    form->codecNamesComboBox->setCurrentIndex(2);
    EXPECT_EQ(Items(form->BitRateComboBox), LameRates);
    EXPECT_TRUE(form->StartButton->isEnabled());
    form->LameBitRates.clear();
    form->codecNamesComboBox->setCurrentIndex(1);
    EXPECT_EQ(form->BitRateComboBox->count(), 0);
    EXPECT_FALSE(form->StartButton->isEnabled());
}

TEST_F(ExportWindow, LibraryCodecExportWritesMp3AndSaysSo)
{
    ChooseCodec(0, "64");
    answer = (dir / "out.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].FilterName, "Mp3 files (*.mp3)");
    EXPECT_EQ(asked[0].FilterPattern, "*.mp3");
    EXPECT_EQ(asked[0].DefaultExt, "mp3");
    EXPECT_TRUE(asked[0].OverwritePrompt);
    EXPECT_EQ(shown.back().first, "Export to " + *answer + " was successful.");
    EXPECT_EQ(shown.back().second, "Glimmerbox");
    EXPECT_EQ(form->ConversionResult, 0);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->PercentTimer->isActive());
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    const auto frames = Frames(ReadAll(*answer));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].BitRate, 64);
    EXPECT_EQ(frames[0].SampleRate, 22050);
    EXPECT_EQ(form->Job(), nullptr);
}

TEST_F(ExportWindow, LameExportWritesMp3)
{
    ChooseCodec(1, "96");
    answer = (dir / "lame.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_EQ(shown.back().first, "Export to " + *answer + " was successful.");
    const auto frames = Frames(ReadAll(*answer));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].BitRate, 96);
    EXPECT_TRUE(frames[0].Crc);
}

TEST_F(ExportWindow, RefusedBitRateKeepsTheWindowAndJobForASecondStart)
{
    ChooseCodec(0, "192");
    answer = (dir / "again.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_EQ(shown.back().first, "The selected Codec cannot produce MP3 files at 192 kbit Bitrate. Please select "
                                  "another bit-rate or a different codec and try again.");
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->StartButton->isEnabled());
    EXPECT_FALSE(form->PercentTimer->isActive());
    ASSERT_NE(form->Job(), nullptr);
    EXPECT_FALSE(fs::exists(*answer));

    ChooseCodec(0, "160");
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_EQ(shown.back().first, "Export to " + *answer + " was successful.");
    EXPECT_FALSE(Frames(ReadAll(*answer)).empty());
}

TEST_F(ExportWindow, CancelledFileDialogClosesWithoutConverting)
{
    ChooseCodec(0, "64");
    QTest::mouseClick(form->StartButton, Qt::LeftButton);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->PercentTimer->isActive());
    EXPECT_TRUE(shown.empty());
}

TEST_F(ExportWindow, BlankFileNameStartsNothing)
{
    ChooseCodec(0, "64");
    answer = "   ";
    QTest::mouseClick(form->StartButton, Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->StartButton->isEnabled());
    EXPECT_FALSE(form->PercentTimer->isActive());
    EXPECT_EQ(form->Job()->Destination, "");
}

TEST_F(ExportWindow, MissingLameLibraryShows503Text)
{
    SetLameLibraryFolder((dir / "empty").string());
    ChooseCodec(1, "64");
    answer = (dir / "none.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_EQ(shown.back().first, ConversionErrorText(503));
    EXPECT_NE(shown.back().first.find("could not be loaded"), std::string::npos);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ExportWindow, MissingSourceShowsTheLibrarysText)
{
    form->SetJob(std::make_shared<TConversionJob>((dir / "gone.wav").string()));
    ChooseCodec(0, "64");
    answer = (dir / "none.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_EQ(shown.back().first, "Error: Unable to Open Input Wave File");
    EXPECT_EQ(form->ConversionResult, 433);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ExportWindow, ProgressOf100OrMoreLeavesTheBar)
{
    form->LameSelected = true;
    LameProgress = 40;
    form->PercentTimerTimer();
    EXPECT_EQ(form->ProgressBar1->value(), 40);
    LameProgress = 100;
    form->PercentTimerTimer();
    EXPECT_EQ(form->ProgressBar1->value(), 40);
}

TEST_F(ExportWindow, JobMadeForTheExportRemovesItsSourceWhenReleased)
{
    const std::string temporary = (dir / "temporary.wav").string();
    WriteTone(temporary, 22050, 1, 100);
    form->SetJob(std::make_shared<TConversionJob>(temporary, true));
    ChooseCodec(0, "64");
    answer = (dir / "t.mp3").string();
    ASSERT_TRUE(StartAndWaitForMessage());
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_TRUE(fs::exists(source)); // a job that does not own its source leaves it
}

struct CodeText {
    int code;
    const char *text;
};

class ConversionMessages : public testing::TestWithParam<CodeText> {};

TEST_P(ConversionMessages, CodeGivesItsText)
{
    EXPECT_EQ(ConversionErrorText(GetParam().code), GetParam().text) << GetParam().code;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConversionMessages,
    testing::Values(CodeText{400, "Error: Codec Not Found"}, CodeText{401, "Error: Codec Not Found"},
                    CodeText{402, "Error: Unable to Allocate Memory"}, CodeText{403, "Error: Driver is Disabled"},
                    CodeText{404, "Error: Could not load driver"}, CodeText{405, "Error: Could Not suggest Format"},
                    CodeText{406, "Error: Could not Open Codec Stream"},
                    CodeText{407, "Error: Could not Open Input File"},
                    CodeText{408, "Error: Could not Open Output File"}, CodeText{409, "Error: File closing Error"},
                    CodeText{410, "Error: File closing Error"}, CodeText{411, "Error: Calculation Error"},
                    CodeText{412, "Error: Unable to Allocate Memory"},
                    CodeText{413, "Error: Unable to Allocate Memory"}, CodeText{414, "Error: Header Prepration Error"},
                    CodeText{415, "Error: File Creating Error"}, CodeText{423, "Error: File Creating Error"},
                    CodeText{424, "Error: Stream not Created"}, CodeText{425, "Error: File Creating Error"},
                    CodeText{429, "Error: File Creating Error"}, CodeText{430, "Error: Unable to Allocate Memory"},
                    CodeText{431, "Error: User Abort"}, CodeText{432, "Error: Space Not Available"},
                    CodeText{433, "Error: Unable to Open Input Wave File"},
                    CodeText{434, "Error: RIFF Chunk not Found"}, CodeText{435, "Error: Data Chunk not Found"},
                    CodeText{507, "Error: User Abort"}, CodeText{509, "Not Opened"}, CodeText{399, ""},
                    CodeText{436, ""}, CodeText{499, ""}, CodeText{510, ""}, CodeText{0, ""}));

TEST(ConversionMessagesLame, EveryLameCodeHasAText)
{
    for (int code = 500; code <= 508; ++code)
        EXPECT_FALSE(ConversionErrorText(code).empty()) << code;
}

TEST(CodecMessageWindow, ShowsItsTextsAndOkCloses)
{
    TestApp();
    TCodecMessageForm form;
    EXPECT_EQ(form.windowTitle(), "Tamblor Quomble");
    EXPECT_EQ(form.size(), QSize(512, 171));
    EXPECT_EQ(form.MessageLabel->text(),
              "You have a version of the Fraunhofer MP3 converter installed on your computer that will only convert "
              "from MP3 to wave, not from wave to MP3.  There are two ways to correct this problem.");
    EXPECT_EQ(form.Message1Label1->text(), "1. Go to");
    EXPECT_EQ(form.WMP7WebLabel->text(), "https://lame.sourceforge.io/");
    EXPECT_TRUE(form.WMP7WebLabel->font().bold());
    EXPECT_TRUE(form.WMP7WebLabel->font().underline());
    EXPECT_EQ(form.Message1Label2->text(), "Follow the links to download and");
    EXPECT_EQ(form.Message1Label3->text(), "install the Lame encoder.");
    EXPECT_EQ(form.Message2Label->text(), "2. Find the file l3codecx.acm in your Windows\\System folder.  Rename this "
                                          "file, then re-install Windows Media Player 7.");
    EXPECT_EQ(form.Button1->text(), "OK");
    form.show();
    ASSERT_TRUE(form.isVisible());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

} // namespace
