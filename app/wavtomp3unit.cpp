// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/wavtomp3unit.h"

#include "app/codecmessageunit.h"
#include "app/seams.h"
#include "audio/lameconvert.h"
#include "platform/tmwavmp3.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <system_error>
#include <utility>

TWaveToMP3ConversionForm *WaveToMP3ConversionForm = nullptr;

namespace {

constexpr const char *MessageCaption = "Glimmerbox";

bool DesktopSaveDialog(TMp3SaveDialog &dialog, QWidget *parent)
{
    QFileDialog box(parent);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    box.setNameFilter(QString::fromStdString(dialog.FilterName));
    box.setDefaultSuffix(QString::fromStdString(dialog.DefaultExt));
    if (!dialog.OverwritePrompt)
        box.setOption(QFileDialog::DontConfirmOverwrite);
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return false;
    dialog.FileName = box.selectedFiles().constFirst().toStdString();
    return true;
}

void DesktopMessage(const std::string &text, const std::string &caption)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool Blank(const std::string &text)
{
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

TConversionJob::TConversionJob(std::string source, bool removeSource)
    : Source(std::move(source)), RemoveSource(removeSource)
{
}

TConversionJob::~TConversionJob()
{
    if (RemoveSource) {
        std::error_code ignored;
        std::filesystem::remove(Source, ignored);
    }
}

std::string ConversionErrorText(int code)
{
    if (code >= 415 && code <= 423)
        return "Error: File Creating Error";
    if (code >= 425 && code <= 429)
        return "Error: File Creating Error";
    switch (code) {
    case 400:
    case 401:
        return "Error: Codec Not Found";
    case 402:
    case 412:
    case 413:
    case 430:
        return "Error: Unable to Allocate Memory";
    case 403:
        return "Error: Driver is Disabled";
    case 404:
        return "Error: Could not load driver";
    case 405:
        return "Error: Could Not suggest Format";
    case 406:
        return "Error: Could not Open Codec Stream";
    case 407:
        return "Error: Could not Open Input File";
    case 408:
        return "Error: Could not Open Output File";
    case 409:
    case 410:
        return "Error: File closing Error";
    case 411:
        return "Error: Calculation Error";
    case 414:
        return "Error: Header Prepration Error";
    case 424:
        return "Error: Stream not Created";
    case 431:
        return "Error: User Abort";
    case 432:
        return "Error: Space Not Available";
    case 433:
        return "Error: Unable to Open Input Wave File";
    case 434:
        return "Error: RIFF Chunk not Found";
    case 435:
        return "Error: Data Chunk not Found";
    // The LAME path.
    case LameTooShort:
        return "Error: The wave file is too short to hold any sound.";
    case LameNotWave:
        return "Error: The file to convert is not a wave file.";
    case LameNoStream:
        return "Error: The Lame Encoder cannot encode this file at the selected bit-rate.";
    case LameNoLibrary:
        return "Error: The Lame Encoder library (liblame_enc.so) could not be loaded. It belongs in the folder "
               "of the program; please reinstall Glimmerbox or choose another codec.";
    case LameNoMemory:
        return "Error: Unable to Allocate Memory";
    case LameReadFailed:
        return "Error: Could not read the wave file.";
    case LameEncodeFailed:
        return "Error: The Lame Encoder failed while encoding.";
    case LameStopped:
        return "Error: User Abort";
    case LameWriteFailed:
        return "Error: Space Not Available";
    case LameNotOpened:
        return "Not Opened";
    default:
        return {};
    }
}

std::string BitRateRefusedText(int32_t bitRate)
{
    return "The selected Codec cannot produce MP3 files at " + std::to_string(bitRate) + " " +
           "kbit Bitrate. Please select another bit-rate or a different codec and try again.";
}

TWaveToMP3ConversionForm::TWaveToMP3ConversionForm(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(440, 112);

    Label1 = new QLabel(QStringLiteral("Available Codecs "), this);
    Label1->setGeometry(8, 10, 120, 16);
    codecNamesComboBox = new QComboBox(this);
    codecNamesComboBox->setGeometry(8, 28, 260, 24);
    Label2 = new QLabel(QStringLiteral("BitRate (kbit)"), this);
    Label2->setGeometry(280, 10, 100, 16);
    BitRateComboBox = new QComboBox(this);
    BitRateComboBox->setGeometry(280, 28, 72, 24);
    BitRateComboBox->addItems(
        {"24", "32", "40", "48", "56", "64", "80", "96", "112", "128", "160", "192", "224", "256", "320"});
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(8, 64, 344, 18);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StartButton = new QPushButton(QStringLiteral("&Start"), this);
    StartButton->setGeometry(360, 26, 72, 26);
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setGeometry(360, 60, 72, 26);
    PercentTimer = new QTimer(this);
    PercentTimer->setInterval(500);

    connect(codecNamesComboBox, &QComboBox::currentIndexChanged, this,
            &TWaveToMP3ConversionForm::codecNamesComboBoxChange);
    connect(StartButton, &QPushButton::clicked, this, &TWaveToMP3ConversionForm::StartButtonClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TWaveToMP3ConversionForm::CancelBtnClick);
    connect(PercentTimer, &QTimer::timeout, this, &TWaveToMP3ConversionForm::PercentTimerTimer);

    RunFileSaveDialog = DesktopSaveDialog;
    ShowMessage = DesktopMessage;
}

TWaveToMP3ConversionForm::~TWaveToMP3ConversionForm()
{
    StopConversion();
    WaitForConversion();
}

void TWaveToMP3ConversionForm::FormCreate()
{
    setWindowTitle(QStringLiteral("Tamblor Vellum MP3 Conversion"));
    CodecBitRates.clear();
    LameBitRates.clear();
}

void TWaveToMP3ConversionForm::SetJob(std::shared_ptr<TConversionJob> job)
{
    ConversionJob = std::move(job);
}

void TWaveToMP3ConversionForm::codecNamesComboBoxChange()
{
    BitRateComboBox->clear();
    const bool lame = codecNamesComboBox->currentText().compare(QLatin1String(LameCodecName), Qt::CaseInsensitive) == 0;
    BitRateComboBox->addItems(lame ? LameBitRates : CodecBitRates);
    BitRateComboBox->setCurrentIndex(BitRateComboBox->count() > 0 ? 0 : -1);
    StartButton->setEnabled(BitRateComboBox->count() > 0);
}

void TWaveToMP3ConversionForm::StartButtonClick()
{
    FileSaveDialog.FileName.clear();
    FileSaveDialog.FilterName = "Mp3 files (*.mp3)";
    FileSaveDialog.FilterPattern = "*.mp3";
    FileSaveDialog.DefaultExt = "mp3";
    if (!RunFileSaveDialog(FileSaveDialog, this)) {
        close();
        return;
    }
    if (Blank(FileSaveDialog.FileName))
        return;
    // Without a job there is nothing to convert: the window closes instead of
    // starting a thread with no source.
    if (!ConversionJob) {
        close();
        return;
    }
    ConversionJob->Destination = FileSaveDialog.FileName;
    ConversionJob->Cancelled = false;
    // The bar starts from nothing, not from the last export's percentage,
    // and a stop from an earlier conversion does not reach this one.
    LameProgress = 0;
    LameStopRequested = false;
    PercentTimer->start();
    ProgressBar1->setValue(0);
    const QString codecName = codecNamesComboBox->currentText();
    ConversionJob->BitRate = BitRateComboBox->currentText().toInt();
    LameSelected = codecName.compare(QLatin1String(LameCodecName), Qt::CaseInsensitive) == 0;
    StartButton->setEnabled(false);

    WaitForConversion();
    RunningJob = ConversionJob;
    try {
        Worker = std::thread(&TWaveToMP3ConversionForm::ConversionThread, this, ConversionJob, LameSelected);
    } catch (const std::system_error &) {
        RunningJob.reset();
        ShowMessage("Error In creating thread", MessageCaption);
    }
}

void TWaveToMP3ConversionForm::ConversionThread(std::shared_ptr<TConversionJob> job, bool lame)
{
    int16_t result = 0;
    bool callFailed = false;
    if (job->Cancelled) {
        // Cancelled before the worker got here: nothing is converted.
        result = lame ? int16_t{LameStopped} : int16_t{TMWAVMP3_USER_ABORT};
    } else if (lame) {
        result = LameConvertFile(job->Source, job->Destination, job->BitRate);
    } else if (job->BitRate > 0) {
        try {
            result = ConvertWaveFileToMp3(job->Source.c_str(), job->Destination.c_str(), job->BitRate * 1000);
        } catch (...) {
            callFailed = true;
        }
    }
    // The report touches widgets: it runs on the user-interface thread. It
    // carries no share of the job: a share released here, after the report
    // has run, would remove the temporary source at an unknown moment.
    const TConversionJob *const done = job.get();
    job.reset();
    QMetaObject::invokeMethod(
        this, [this, done, result, callFailed] { ReportConversion(done, result, callFailed); }, Qt::QueuedConnection);
}

void TWaveToMP3ConversionForm::ReportConversion(const TConversionJob *done, int16_t result, bool callFailed)
{
    if (!RunningJob || RunningJob.get() != done)
        return;
    const std::shared_ptr<TConversionJob> job = std::move(RunningJob);
    if (callFailed) {
        PercentTimer->stop();
        StartButton->setEnabled(true);
        ShowMessage("Error: Could not make a required call into the tmwavmp3.dll while converting. Please contact "
                    "Tamblor Support for more information.",
                    MessageCaption);
        close();
        return;
    }
    ConversionResult = result;
    if (result == 0) {
        PercentTimer->stop();
        ProgressBar1->setValue(0);
        ShowMessage("Export to " + job->Destination + " was successful.", MessageCaption);
        close();
    } else if (result == TMWAVMP3_BITRATE || (LameSelected && result == LameNoStream)) {
        // A bit rate either encoder refuses: the window stays open with the
        // same job for another bit rate or codec.
        PercentTimer->stop();
        StartButton->setEnabled(true);
        ShowMessage(result == TMWAVMP3_BITRATE ? BitRateRefusedText(job->BitRate) : ConversionErrorText(result),
                    MessageCaption);
        return;
    } else {
        ShowMessage(ConversionErrorText(result), MessageCaption);
        close();
        if ((result == TMWAVMP3_CODEC_NOT_FOUND || result == 401) && CodecMessage)
            CodecMessage->exec();
    }
    PercentTimer->stop();
    StartButton->setEnabled(true);
    // The job is done with; a later Start needs a new one from the caller.
    if (ConversionJob == job)
        ConversionJob.reset();
}

void TWaveToMP3ConversionForm::PercentTimerTimer()
{
    if (RunningJob && RunningJob->Cancelled) {
        // The conversion library forgets a stop that came before its
        // conversion began: asked again until the worker reports.
        if (!LameSelected)
            StopConversionWavToMP3();
        return;
    }
    int percent = 0;
    try {
        percent = LameSelected ? LameProgress.load() : GetStatusWavToMP3();
    } catch (...) {
        ShowMessage("Error : Could not get status.", MessageCaption);
        CancelBtnClick();
        return;
    }
    if (percent < 100)
        ProgressBar1->setValue(percent);
}

void TWaveToMP3ConversionForm::CancelBtnClick()
{
    StopConversion();
    close();
}

void TWaveToMP3ConversionForm::FormClose()
{
    StopConversion();
}

void TWaveToMP3ConversionForm::StopConversion()
{
    if (!RunningJob) {
        PercentTimer->stop();
        return;
    }
    RunningJob->Cancelled = true;
    if (LameSelected) {
        PercentTimer->stop();
        LameStopRequested = true;
    } else {
        // The timer goes on and repeats the stop until the worker reports.
        try {
            StopConversionWavToMP3();
        } catch (...) {
        }
    }
}

void TWaveToMP3ConversionForm::WaitForConversion()
{
    if (Worker.joinable())
        Worker.join();
}

void TWaveToMP3ConversionForm::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void CreateMp3ExportForms(QWidget *owner)
{
    if (!WaveToMP3ConversionForm) {
        WaveToMP3ConversionForm = new TWaveToMP3ConversionForm(owner);
        WaveToMP3ConversionForm->FormCreate();
        QObject::connect(WaveToMP3ConversionForm, &QObject::destroyed, [] { WaveToMP3ConversionForm = nullptr; });
    }
    if (!CodecMessageForm) {
        CodecMessageForm = new TCodecMessageForm(owner);
        QObject::connect(CodecMessageForm, &QObject::destroyed, [] { CodecMessageForm = nullptr; });
    }
    WaveToMP3ConversionForm->CodecMessage = CodecMessageForm;
}

void RunMp3Export(QWidget *owner, std::shared_ptr<TConversionJob> job)
{
    CreateMp3ExportForms(owner);
    TWaveToMP3ConversionForm *form = WaveToMP3ConversionForm;
    form->RunFileSaveDialog = [](TMp3SaveDialog &request, QWidget *parent) {
        TFileDialog dialog;
        dialog.Kind = TFileDialog::TKind::Save;
        dialog.Title = "Export to MP3 File";
        dialog.FilterName = "Mp3 files";
        dialog.FilterPattern = request.FilterPattern;
        dialog.DefaultExt = request.DefaultExt;
        dialog.FileName = request.FileName;
        dialog.OverwritePrompt = request.OverwritePrompt;
        dialog.PathMustExist = request.PathMustExist;
        if (!dialog.Execute(parent))
            return false;
        request.FileName = dialog.FileName;
        return true;
    };
    form->ShowMessage = [](const std::string &text, const std::string &caption) {
        Messages().ShowMessage(text, caption);
    };
    // The library's codec works at every rate the export writes; the Lame
    // Encoder is offered when its library lies beside the program.
    form->CodecBitRates = {"24",  "32",  "40",  "48",  "56",  "64",  "80", "96",
                           "112", "128", "160", "192", "224", "256", "320"};
    form->LameBitRates = {"8",  "16",  "24",  "32",  "40",  "48",  "56",  "64",  "80",
                          "96", "112", "128", "144", "160", "192", "224", "256", "320"};
    form->codecNamesComboBox->blockSignals(true);
    form->codecNamesComboBox->clear();
    form->codecNamesComboBox->addItem(QStringLiteral("MPEG Layer-3 Codec"));
    if (LameLibraryAvailable())
        form->codecNamesComboBox->addItem(QString::fromLatin1(LameCodecName));
    form->codecNamesComboBox->setCurrentIndex(0);
    form->codecNamesComboBox->blockSignals(false);
    form->codecNamesComboBoxChange();
    form->ProgressBar1->setValue(0);
    form->SetJob(std::move(job));
    form->exec();
    // A job the window still holds (a refused bit rate, then Cancel) goes now;
    // one a finishing conversion holds goes when that conversion ends.
    form->SetJob(nullptr);
}
