// The File menu, the three preset buttons, the preferences command and WAVE
// files dropped on the window. Every command first asks the busy guard: while
// recording or playing it refuses with a message and does nothing else.
//
// Save writes the unprocessed voice together with the effect selection (the
// "qmbl" chunk), so a saved file opens again with the same voice and the same
// buttons pressed. Export writes the processed clip, without the selection,
// at the rate Slow Monster or Fast Squeaker choose.

#include "app/mfunit.h"
#include "app/progressunit.h"
#include "app/startupunit.h"
#include "app/waitcursor.h"
#include "audio/lameconvert.h"
#include "audio/soundfile.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "audio/wavtomp3unit.h"
#include "controls/qmblsbtn.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>

namespace {

constexpr const char *LibraryCodecName = "MPEG Layer-3 Codec";

// A new empty file for the clip the MP3 export converts; empty on failure.
std::string TemporaryExportFile()
{
    QByteArray name = QDir::tempPath().toLocal8Bit() + "/glimmerbox-mp3-XXXXXX.wav";
    const int descriptor = mkstemps(name.data(), 4);
    if (descriptor < 0)
        return {};
    close(descriptor);
    return name.toStdString();
}

// The reader's conversion fills the progress window's gauge.
void ShowProgressForm(void *)
{
    ProgressForm->ShowAndWaitUntilOnScreen();
}

void HideProgressForm(void *)
{
    ProgressForm->hide();
}

// The local sound file a drop carries, or an empty string. Only a single
// file whose extension is one the program opens (any case) is taken.
QString DroppedWaveFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    return IsSoundFileName(path.toStdString()) ? path : QString();
}

} // namespace

bool TMainForm::NoVoice()
{
    if (VoiceBytes > 0)
        return false;
    Messages().ShowMessage("There is no voice in memory, either record a voice or load one from a file on disk.");
    return true;
}

void TMainForm::New1Click()
{
    if (IsBusy())
        return;
    ResetEffects();
    ClearVoice();
    Save1->setEnabled(false);
    SaveAs1->setEnabled(false);
    Export1->menuAction()->setEnabled(false);
}

void TMainForm::Open1Click()
{
    if (IsBusy())
        return;
    if (!OpenFileDialog.Execute(this) || OpenFileDialog.FileName.empty())
        return;
    OpenVoiceFile(OpenFileDialog.FileName);
}

void TMainForm::OpenVoiceFile(const std::string &fileName)
{
    ClearVoice();
    VoiceFileName = fileName;
    // A file without a settings chunk leaves every effect off.
    ResetEffects();
    TEffectSettings settings;
    CaptureEffectSettings(settings);

    {
        WaitCursor hourglass;
        ReadWaveHooks hooks;
        if (ProgressForm) {
            hooks.Gauge = ProgressForm->ProgressGauge;
            hooks.ShowGauge = ShowProgressForm;
            hooks.HideGauge = HideProgressForm;
        }
        int32_t byteCount = 0;
        std::unique_ptr<int16_t[]> samples;
        try {
            samples = ReadWaveFile(VoiceFileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample,
                                   VoiceFormat.Channels, byteCount, settings, Messages(), hooks);
            if (samples && byteCount > 0) {
                // The working copy starts as the voice itself.
                auto work = std::make_unique<int16_t[]>(static_cast<size_t>(byteCount) / 2 + 1);
                std::memcpy(work.get(), samples.get(), static_cast<size_t>(byteCount));
                VoiceData = std::move(samples);
                VoiceBytes = byteCount;
                WorkData = std::move(work);
                WorkCapacity = byteCount;
            }
        } catch (const std::bad_alloc &) {
            Messages().ShowMessage("Cannot allocate buffer for audio data, Terminating...");
        }
    }

    ShowVoiceLength();
    ApplyEffectSettings(settings);
    if (VoiceBytes <= 0) {
        ClearVoice();
        return;
    }
    UpdateTitle();
    ShowVoice();
    Save1->setEnabled(true);
    SaveAs1->setEnabled(true);
    Export1->menuAction()->setEnabled(true);
}

void TMainForm::OpenPresetFile(int number)
{
    if (IsBusy())
        return;
    const std::string name = (QString::fromStdString(PresetFolder) + QStringLiteral("/SF") + QString::number(number) +
                              QStringLiteral(".WAV"))
                                 .toStdString();
    if (QFileInfo(QString::fromStdString(name)).isFile())
        OpenVoiceFile(name);
    else
        Messages().ShowMessage("Error: The file named " + name + " does not exist.");
}

void TMainForm::SF1ButtonClick()
{
    OpenPresetFile(1);
}

void TMainForm::SF2ButtonClick()
{
    OpenPresetFile(2);
}

void TMainForm::SF3ButtonClick()
{
    OpenPresetFile(3);
}

bool TMainForm::SaveVoiceFile(const std::string &fileName)
{
    TEffectSettings settings;
    CaptureEffectSettings(settings);
    if (!WriteWaveFileWithSettings(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                   VoiceData.get(), static_cast<uint32_t>(VoiceBytes), settings)) {
        // The writer leaves a file that was there as it was.
        Messages().ShowMessage("Cannot write the file " + fileName);
        return false;
    }
    VoiceFileName = fileName;
    UpdateTitle();
    Modified = false;
    return true;
}

void TMainForm::Save1Click()
{
    if (IsBusy())
        return;
    if (NoVoice())
        return;
    // A voice that has no file yet (a recording) is named first.
    if (VoiceFileName.empty()) {
        SaveAs1Click();
        return;
    }
    SaveVoiceFile(VoiceFileName);
}

void TMainForm::SaveAs1Click()
{
    if (IsBusy())
        return;
    if (NoVoice())
        return;
    SaveFileDialog.FileName = VoiceFileName;
    if (!SaveFileDialog.Execute(this) || SaveFileDialog.FileName.empty())
        return;
    SaveVoiceFile(SaveFileDialog.FileName);
}

void TMainForm::ExportToWaveFormat1Click()
{
    if (IsBusy())
        return;
    if (NoVoice())
        return;
    if (!ExportFileDialog.Execute(this) || ExportFileDialog.FileName.empty())
        return;
    try {
        ApplyEffects(ExportFileDialog.FileName);
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("There is not enough memory to process the voice.");
    }
}

void TMainForm::ExportToRealAudioFormat1Click()
{
    if (IsBusy())
        return;
    Messages().ShowMessage("Export to RealAudio files is not available. Please use Export, to WAVE File... instead.");
}

void TMainForm::ExportToMP3FileClick()
{
    if (IsBusy())
        return;
    if (NoVoice())
        return;
    // The processed clip goes to a temporary WAVE file; the job removes it
    // once the conversion, or the window, is done with it.
    const std::string temporary = TemporaryExportFile();
    if (temporary.empty()) {
        Messages().ShowMessage("Cannot write a temporary file for the export.");
        return;
    }
    auto job = std::make_shared<TConversionJob>(temporary, true);
    try {
        ApplyEffects(temporary);
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("There is not enough memory to process the voice.");
        return;
    }
    // ApplyEffects has said so when the file could not be written.
    if (QFileInfo(QString::fromStdString(temporary)).size() <= 44)
        return;

    CreateMp3ExportForms(this);
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
    form->codecNamesComboBox->addItem(QString::fromLatin1(LibraryCodecName));
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

void TMainForm::Preferences1Click()
{
    if (!Startup)
        Startup = new TStartup(this);
    Startup->LoadPreferences();
    if (Startup->exec() == QDialog::Accepted)
        Startup->SavePreferences();
}

void TMainForm::OpenStartupFile()
{
    const TStartupPreferences preferences = TStartup::StoredPreferences();
    if (preferences.FileName.empty())
        return;
    if (!QFileInfo(QString::fromStdString(preferences.FileName)).isFile()) {
        Messages().ShowMessage("Error: The file named " + preferences.FileName + " does not exist.");
        return;
    }
    if (IsBusy())
        return;
    OpenVoiceFile(preferences.FileName);
    if (preferences.PlaySound && VoiceBytes > 0) {
        // As a click on Play: the button goes down, then its handler runs.
        PlayButton->SetDown(true);
        PlayButtonClick();
    }
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedWaveFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    const QString path = DroppedWaveFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    if (IsBusy())
        return;
    OpenVoiceFile(path.toStdString());
}
