// SPDX-License-Identifier: GPL-3.0-or-later
// The File menu, the three preset buttons, the preferences command and WAVE
// files dropped on the window. Every command first asks the busy guard: while
// recording or playing it refuses with a message and does nothing else.
//
// Save writes the unprocessed voice together with the effect selection (the
// "qmbl" chunk), so a saved file opens again with the same voice and the same
// buttons pressed. Export writes the processed clip, without the selection,
// at the rate Slow Monster or Fast Squeaker choose.

#include "app/droppedfile.h"
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
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include <unistd.h>

namespace {

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
    if (Document.VoiceBytes > 0)
        return false;
    Messages().ShowMessage("There is no voice in memory, either record a voice or load one from a file on disk.");
    return true;
}

void TMainForm::New1Click()
{
    if (IsBusy() || !VoiceMayGo())
        return;
    ResetEffects();
    ClearVoice();
}

void TMainForm::Open1Click()
{
    if (IsBusy() || !VoiceMayGo())
        return;
    if (!OpenFileDialog.Execute(this) || OpenFileDialog.FileName.empty())
        return;
    OpenVoiceFile(OpenFileDialog.FileName);
}

void TMainForm::UpdateFileMenus()
{
    const bool voice = Document.VoiceBytes > 0;
    Save1->setEnabled(voice);
    SaveAs1->setEnabled(voice);
    Export1->menuAction()->setEnabled(voice);
    UpdateEditMenus();
}

bool TMainForm::OpenVoiceFile(const std::string &fileName)
{
    // A name that leads nowhere changes nothing: the voice, its name and
    // the effects stay as they were.
    if (std::error_code error; !std::filesystem::exists(fileName, error)) {
        Messages().ShowMessage("File not found: " + fileName);
        return false;
    }
    TVoiceDocument::TOpenResult result;
    {
        WaitCursor hourglass;
        ReadWaveHooks hooks;
        if (ProgressForm) {
            hooks.Gauge = ProgressForm->ProgressGauge;
            hooks.ShowGauge = ShowProgressForm;
            hooks.HideGauge = HideProgressForm;
        }
        result = Document.Open(fileName, Messages(), hooks);
    }
    // Gone since the check: said as before. A temporary folder that could
    // not take the conversion has said so itself.
    if (result == TVoiceDocument::TOpenResult::Missing)
        Messages().ShowMessage("File not found: " + fileName);
    if (result == TVoiceDocument::TOpenResult::Missing || result == TVoiceDocument::TOpenResult::NoTemporary)
        return false;
    // The file's selection is shown whether or not it held a voice.
    ShowEffects();
    if (result == TVoiceDocument::TOpenResult::Rejected) {
        ClearVoice();
        return false;
    }
    ShowVoiceLength();
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
    if (!VoiceMayGo())
        return;
    // A preset voice is never written over by Save.
    if (OpenVoiceFile(name)) {
        Document.SaveNeedsName = true;
        Document.Preset = true;
    }
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
    if (!Document.Save(fileName)) {
        // The writer leaves a file that was there as it was.
        Messages().ShowMessage("Cannot write the file " + fileName);
        return false;
    }
    UpdateTitle();
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
    if (Document.VoiceFileName.empty() || Document.SaveNeedsName) {
        SaveAs1Click();
        return;
    }
    SaveVoiceFile(Document.VoiceFileName);
}

void TMainForm::SaveAs1Click()
{
    if (IsBusy())
        return;
    if (NoVoice())
        return;
    // A file that is not to be written over is not offered: the dialog
    // starts in its folder with no name.
    SaveFileDialog.FileName = Document.SaveNeedsName ? FolderOf(Document.VoiceFileName) : Document.VoiceFileName;
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
    // The processed clip is encoded with the progress window up.
    std::string error;
    bool written = false;
    {
        TProgressShown progress(true, Timer);
        written = Document.WriteProcessedRealAudio(dialog.FileName, sampleRate, progress.Gauge(), error);
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

    RunMp3Export(this, std::move(job));
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
    OpenFileAtStart(preferences.FileName);
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DroppedSoundFile(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    const std::string path = DroppedSoundFile(event->mimeData());
    if (path.empty())
        return;
    event->acceptProposedAction();
    if (IsBusy() || !VoiceMayGo())
        return;
    OpenVoiceFile(path);
}
