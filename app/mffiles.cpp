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
#include "app/wavtomp3unit.h"
#include "audio/lameconvert.h"
#include "audio/realaudio.h"
#include "audio/soundfile.h"
#include "audio/voiceformat.h"
#include "audio/wavefile.h"
#include "controls/qmblsbtn.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QTimer>
#include <QUrl>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>
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
// file whose extension is one the program opens (any case) is taken. The
// name is read byte for byte from the drop's own list of links
// (percent-encoded bytes), not through Qt's URL text, so a name that is not
// valid UTF-8 (an old Latin-1 "\xe9t\xe9.wav") still reaches its file.
std::string DroppedWaveFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    QList<QByteArray> links;
    for (QByteArray line : data->data(QStringLiteral("text/uri-list")).split('\n')) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            links.append(line);
    }
    if (links.size() != 1)
        return {};
    // file:///path or file://localhost/path; any other host is not local.
    QByteArray link = links.constFirst();
    if (!link.startsWith("file://"))
        return {};
    link.remove(0, 7);
    if (link.startsWith("localhost/"))
        link.remove(0, 9);
    if (!link.startsWith('/'))
        return {};
    const std::string path = QByteArray::fromPercentEncoding(link).toStdString();
    return IsSoundFileName(path) ? path : std::string();
}

bool FileExists(const std::string &fileName)
{
    struct stat info {};
    return ::stat(fileName.c_str(), &info) == 0;
}

// The folder a file lies in, with a closing slash, for a save dialog to
// start in.
std::string FolderOf(const std::string &fileName)
{
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string("./") : fileName.substr(0, slash + 1);
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
    if (IsBusy() || !RecordingMayGo())
        return;
    ResetEffects();
    ClearVoice();
}

void TMainForm::Open1Click()
{
    if (IsBusy() || !RecordingMayGo())
        return;
    if (!OpenFileDialog.Execute(this) || OpenFileDialog.FileName.empty())
        return;
    OpenVoiceFile(OpenFileDialog.FileName);
}

void TMainForm::UpdateFileMenus()
{
    const bool voice = VoiceBytes > 0;
    Save1->setEnabled(voice);
    SaveAs1->setEnabled(voice);
    Export1->menuAction()->setEnabled(voice);
}

bool TMainForm::OpenVoiceFile(const std::string &fileName)
{
    // A name that leads nowhere changes nothing: the voice, its name and
    // the effects stay as they were.
    if (!FileExists(fileName)) {
        Messages().ShowMessage("File not found: " + fileName);
        return false;
    }

    // A file without a settings chunk leaves every effect off.
    TEffectSettings settings;
    ::CaptureEffectSettings(TEffectSet{}, settings);
    ReadWaveReport report;
    int32_t byteCount = 0;
    std::unique_ptr<int16_t[]> samples;
    std::unique_ptr<int16_t[]> work;
    {
        WaitCursor hourglass;
        ReadWaveHooks hooks;
        if (ProgressForm) {
            hooks.Gauge = ProgressForm->ProgressGauge;
            hooks.ShowGauge = ShowProgressForm;
            hooks.HideGauge = HideProgressForm;
        }
        hooks.Report = &report;
        try {
            samples = ReadWaveFile(fileName, VoiceFormat.SamplesPerSec, VoiceFormat.BitsPerSample, VoiceFormat.Channels,
                                   byteCount, settings, Messages(), hooks);
            if (samples && byteCount > 0) {
                // The working copy starts as the voice itself.
                work = std::make_unique<int16_t[]>(static_cast<size_t>(byteCount) / 2 + 1);
                std::memcpy(work.get(), samples.get(), static_cast<size_t>(byteCount));
            }
        } catch (const std::bad_alloc &) {
            samples.reset();
            Messages().ShowMessage("Cannot allocate buffer for audio data, Terminating...");
        }
    }
    // Gone since the check, or a temporary folder that could not take the
    // conversion: nothing was read and nothing changes.
    if (report.Result == ReadWaveResult::Missing) {
        Messages().ShowMessage("File not found: " + fileName);
        return false;
    }
    if (report.Result == ReadWaveResult::NoTemporary)
        return false;

    // The file replaces the voice and the effect selection together; an
    // unreadable one leaves no voice.
    ClearVoice();
    ResetEffects();
    VoiceFileName = fileName;
    if (work) {
        VoiceData = std::move(samples);
        VoiceBytes = byteCount;
        WorkData = std::move(work);
        WorkCapacity = byteCount;
    }
    ShowVoiceLength();
    ApplyEffectSettings(settings);
    if (VoiceBytes <= 0) {
        ClearVoice();
        return false;
    }
    // A file in another layout was converted on reading: saving over it
    // would lower its quality for good, so Save asks for a name.
    SaveNeedsName = report.Converted;
    UpdateTitle();
    ShowVoice();
    UpdateFileMenus();
    return true;
}

void TMainForm::OpenPresetFile(int number)
{
    if (IsBusy())
        return;
    const std::string name = (QString::fromStdString(PresetFolder) + QStringLiteral("/SF") + QString::number(number) +
                              QStringLiteral(".WAV"))
                                 .toStdString();
    if (!QFileInfo(QString::fromStdString(name)).isFile()) {
        Messages().ShowMessage("Error: The file named " + name + " does not exist.");
        return;
    }
    if (!RecordingMayGo())
        return;
    // A preset voice is never written over by Save.
    if (OpenVoiceFile(name))
        SaveNeedsName = true;
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
    SaveNeedsName = false; // the file now holds the voice as it is in memory
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
    // A voice that has no file yet (a recording), one converted on reading
    // and a preset voice are named first.
    if (VoiceFileName.empty() || SaveNeedsName) {
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
    // A file that is not to be written over is not offered: the dialog
    // starts in its folder with no name.
    SaveFileDialog.FileName = SaveNeedsName ? FolderOf(VoiceFileName) : VoiceFileName;
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
    if (NoVoice())
        return;
    TFileDialog dialog = {
        TFileDialog::TKind::Save, "Export to RealAudio File", "RealAudio Files", "*.ra", "ra", "", true, true, false};
    if (!dialog.Execute(this) || dialog.FileName.empty())
        return;
    uint32_t sampleRate = 0;
    try {
        sampleRate = ApplyEffects("");
    } catch (const std::bad_alloc &) {
        Messages().ShowMessage("There is not enough memory to process the voice.");
        return;
    }
    // The processed clip, now in the working buffer, is encoded with the
    // progress window up and the timer at rest.
    std::string error;
    bool written = false;
    {
        const bool timerWasActive = Timer->isActive();
        Timer->stop();
        ProgressGauge *gauge = nullptr;
        if (ProgressForm) {
            ProgressForm->ShowAndWaitUntilOnScreen();
            gauge = ProgressForm->ProgressGauge;
        }
        written = WriteRealAudioFile(dialog.FileName, WorkData.get(), static_cast<std::size_t>(WorkBytes / 2),
                                     sampleRate, gauge, error);
        if (ProgressForm)
            ProgressForm->hide();
        if (timerWasActive)
            Timer->start();
    }
    if (!written)
        Messages().ShowMessage("Cannot write the file " + dialog.FileName + ": " + error);
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
    if (Startup->exec() == QDialog::Accepted) {
        Startup->SavePreferences();
        HearChangesWhilePlaying = Startup->HearEffectChanges->isChecked();
    }
}

void TMainForm::OpenStartupFile()
{
    const TStartupPreferences preferences = TStartup::StoredPreferences();
    if (preferences.FileName.empty())
        return;
    if (!QFileInfo(QString::fromStdString(preferences.FileName)).isFile()) {
        // Said once: the setting goes, so the next start is quiet.
        TStartup::ForgetStartupFile();
        Messages().ShowMessage("Start-up file not found: " + preferences.FileName +
                               ". It is no longer opened at start-up; Options, Preferences names another.");
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
    if (!DroppedWaveFile(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    const std::string path = DroppedWaveFile(event->mimeData());
    if (path.empty())
        return;
    event->acceptProposedAction();
    if (IsBusy() || !RecordingMayGo())
        return;
    OpenVoiceFile(path);
}
