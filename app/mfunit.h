// SPDX-License-Identifier: GPL-3.0-or-later
// TMainForm, the program's one main window, and the state the whole program
// shares through it. The window's operations are kept in files by concern,
// all parts of this one class:
//   app/mfunit.cpp       building the window, start-up and shut-down, the
//                        timer, the menus, help and about, the shared voice
//                        operations
//   app/mfmixer.cpp      the volume sliders and the recording input
//   app/mfrecord.cpp     recording: the Record button, the level meter and
//                        the elapsed time (the session is engine/recordsession)
//   app/mfplay.cpp       playback: the Play button, the loop item, the time
//                        display (the player is engine/voiceplayer)
//   app/mffiles.cpp      the File menu, the preset buttons, the preferences
//                        command and files dropped on the window
//   app/mfdesktop.cpp    keys, names for screen readers, the file named on
//                        the command line, the unsaved-changes question
//   app/mfedit.cpp       the Edit menu, the editor window, undo and redo,
//                        comparing with the voice without effects
//   app/mfeffects.cpp    the effect table: the buttons and menu items that
//                        show Document's effect selection, and the pitch bar
#pragma once

#include "app/mixerstate.h"
#include "app/seams.h"
#include "engine/livevoice.h"
#include "engine/recordsession.h"
#include "engine/voicedocument.h"
#include "engine/voiceplayer.h"

#include <QMainWindow>
#include <QUrl>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;
class TEditorWindow;
class THelpWindow;
class TQMBL_EllipticalButton;
class TQMBL_EllipticalPanel;
class TQMBL_SawToothButton;
class TQMBL_TrackBar;
class TQMBL_VerticalLEDs;
class TQMBL_Wave_Display;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 608;
    static constexpr int ClientHeight = 393;
    static constexpr int DesignedLeft = 99;
    static constexpr int DesignedTop = 94;
    static constexpr int TimerInterval = 100;

    // Builds the window and its components; FormCreate does the rest once the
    // window is in MainForm.
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // --- What the window works on and with --------------------------------------
    TVoiceDocument Document;             // the voice, its file and the effect selection
    TVoicePlayer Player;                 // plays Document's processed clip
    TRecordSession Recorder;             // records a new voice into Document
    TLiveVoice Live;                     // the microphone through the effects as you speak
    bool StartingUp = false;             // the window is being created; About does nothing
    bool HearChangesWhilePlaying = true; // the preference: effect changes are heard at once
    std::string PresetFolder;            // where SF1.WAV.. are looked for: the program's own folder

    // --- Components, in the order the window is built --------------------------
    QWidget *ClientArea;
    QLabel *QuombleLabel;
    TQMBL_SawToothButton *PlayButton;
    TQMBL_SawToothButton *RecordButton;
    TQMBL_VerticalLEDs *VolLED;
    QFrame *TimePanel;
    QLabel *timeDisplay;
    TQMBL_SawToothButton *RecSourceToggleButton;
    QLabel *RecSourceLabel;
    TQMBL_EllipticalPanel *MicSliderPanel;
    QLabel *RecordLabel;
    QLabel *Label2;
    QLabel *Label5;
    TQMBL_TrackBar *MikeSlider;
    TQMBL_EllipticalPanel *SpkSliderPanel;
    QLabel *Label11;
    QLabel *Label10;
    QLabel *Label3;
    TQMBL_TrackBar *SpeakerSlider;
    TQMBL_Wave_Display *WaveDisplay;
    TQMBL_TrackBar *PitchBar;
    QLabel *Label8;
    QLabel *Label9;
    QWidget *Shape1;
    TQMBL_SawToothButton *EchoButton;
    TQMBL_SawToothButton *ChorusButton;
    TQMBL_SawToothButton *FlangeButton;
    TQMBL_SawToothButton *FadeInButton;
    TQMBL_SawToothButton *fadeOutButton;
    TQMBL_SawToothButton *BassOnlyButton;
    TQMBL_SawToothButton *RobotvoiceButton;
    TQMBL_SawToothButton *BackwardButton;
    TQMBL_SawToothButton *SlowMonstButton;
    TQMBL_SawToothButton *FastSqueakButton;
    TQMBL_SawToothButton *TrebleOnlyButton;
    TQMBL_SawToothButton *SweepUpButton;
    TQMBL_SawToothButton *SweepDownButton;
    TQMBL_EllipticalButton *SF1Button;
    TQMBL_EllipticalButton *SF2Button;
    TQMBL_EllipticalButton *SF3Button;

    QMenuBar *MainMenu1;
    QMenu *File1;
    QAction *New1;
    QAction *Open1;
    QAction *Save1;
    QAction *SaveAs1;
    QMenu *Export1;
    QAction *ExportToWaveFormat1;
    QAction *ExportToRealAudioFormat1;
    QAction *ExportToMP3File;
    QAction *Exit1;
    QMenu *Edit1;
    QAction *Undo1;
    QAction *Redo1;
    QAction *Cut1;
    QAction *CropToSelection1;
    QAction *TrimSilence1;
    QAction *Normalise1;
    QAction *SelectAll1;
    QAction *EditVoice1;
    QMenu *Options1;
    QAction *Echo1;
    QAction *Chorus1;
    QAction *Flange1;
    QAction *FadeIn1;
    QAction *FadeOut1;
    QAction *BassOnly1;
    QAction *Robotvoice1;
    QAction *Backward1;
    QAction *SlowMonster1;
    QAction *FastSqeaker1;
    QAction *TrebleOnly1;
    QAction *SweepUp1;
    QAction *SweepDown1;
    QAction *Loop1;
    QAction *LiveVoice1;
    QAction *Preferences1;
    QMenu *Help1;
    QAction *HelpTopics1;
    QAction *HowToUseHelp1;
    QAction *About1;

    QTimer *Timer;
    TFileDialog SaveFileDialog;
    TFileDialog OpenFileDialog;
    TFileDialog ExportFileDialog;
    THelpWindow *HelpWindow = nullptr; // made the first time help is asked for

    // --- Start-up and shut-down -------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormDestroy();

    // --- Timer, keyboard, menus -------------------------------------------------
    void TimerTimer();
    void FormKeyPress(char key);
    void Exit1Click();
    void About1Click();
    void HelpTopics1Click();
    void HowToUseHelp1Click();
    // A page of the help window, as the about box's web button asks for.
    void ShowHelpPage(const QUrl &page);

    // --- Recording (app/mfrecord.cpp) ----------------------------------------------
    // The Record button: starts a recording when idle, stops it when running.
    void OldRecordButtonClick();
    // Drops the voice and starts the recorder on a new temporary file.
    void StartRecording();
    // The message box for a recorder code 201..207; other codes show nothing.
    void ShowRecordError(int16_t code);
    // Loads what was recorded as the new voice and deletes the file.
    void FinishRecording();
    // Stops the recorder and loads the take; false when the recorder refused
    // to stop, which the timer tries again.
    bool EndRecording();
    // The two recording steps of a tick: retry a stop after Record was
    // released, show the input level and the elapsed time.
    void RecordTickStop();
    void RecordTickProgress();

    // --- File commands (app/mffiles.cpp) ------------------------------------------
    void New1Click();
    void Open1Click();
    void Save1Click();
    void SaveAs1Click();
    void ExportToWaveFormat1Click();
    void ExportToRealAudioFormat1Click();
    void ExportToMP3FileClick();
    void SF1ButtonClick();
    void SF2ButtonClick();
    void SF3ButtonClick();
    void Preferences1Click();
    // Replaces the voice and the effect selection with those of fileName;
    // true when a voice was read. A missing file ("File not found: " +
    // name) or a conversion the temporary folder cannot take changes
    // nothing; a rejected file leaves no voice.
    bool OpenVoiceFile(const std::string &fileName);
    // The one place that decides whether Save, Save As and Export can be
    // chosen: exactly when a voice is in memory. Runs after every menu
    // command and wherever the voice comes or goes.
    void UpdateFileMenus();
    // Opens SF<number>.WAV from PresetFolder, or says that it is missing.
    void OpenPresetFile(int number);
    // Writes the unprocessed voice with the effect selection to fileName;
    // on success the voice is that file's from now on. False (and a
    // message) when it could not be written.
    bool SaveVoiceFile(const std::string &fileName);
    // Says so and answers true when there is no voice to save or export.
    bool NoVoice();
    // At start-up: opens the file the preferences name, and plays it when
    // they say so.
    void OpenStartupFile();

    // --- Editing (app/mfedit.cpp) -------------------------------------------------
    TEditorWindow *EditorWindow = nullptr; // made the first time Edit Voice is chosen
    void Undo1Click();
    void Redo1Click();
    void Cut1Click();
    void CropToSelection1Click();
    void TrimSilence1Click();
    void Normalise1Click();
    void SelectAll1Click();
    void EditVoice1Click();
    // The editor window chose samples start..end (end exclusive).
    void SelectionChosen(int32_t start, int32_t end);
    // Which Edit items can be chosen: none while recording or playing.
    void UpdateEditMenus();
    // The voice, its selection or its effects were changed by an edit, an
    // undo or a redo: every view of them shows it.
    void VoiceChangedByEdit();
    // The D key held (true) or released while playing: the voice is heard
    // without effects, then with them again.
    void CompareKey(bool held);
    bool Comparing = false;

    // --- Live Voice (app/mflive.cpp) ---------------------------------------------
    void LiveVoice1Click();
    void StopLiveVoice();
    // The whole-clip effects greyed (live) or back.
    void ShowLiveControls(bool live);
    // The live step of a tick: a fault, the input level, what is sent.
    void LiveTick();
    // Says "Please stop Live Voice first" and answers true while it runs.
    bool LiveBusy();
    std::vector<int16_t> LiveView; // what the waveform shows while live
    std::string LiveKeepInput;     // with a name: what came in, kept as a WAVE file
    std::string LiveKeepOutput;    // and what went out

    // --- The desktop (app/mfdesktop.cpp) ------------------------------------------
    QAction *RecordKey = nullptr; // Ctrl+R, which clicks the Record button
    // The menu commands' keys and the Record key.
    void AssignShortcuts();
    void RecordKeyPress();
    // What a screen reader calls each control.
    void SetAccessibleNames();
    // A recorded voice that no file holds.
    bool UnsavedRecording() const;
    // The question asked before the voice is dropped; empty when nothing
    // unsaved would be lost.
    std::string UnsavedChangesQuestion() const;
    // Before a command drops the voice: false when unsaved changes must
    // stay (the user cancelled, or did not save them after all).
    bool VoiceMayGo();
    // The FILE of "glimmerbox FILE": opened instead of the preferences'
    // start-up file, played only when the preferences say so.
    void OpenFileAtStart(const std::string &fileName);

    // --- Playback (app/mfplay.cpp) ------------------------------------------------
    void PlayButtonClick();
    // Processes the voice and starts playing it at rate samples per second.
    void PlayVoice(uint32_t rate);
    // The playback steps of a tick: follow the sound while playing, put Play
    // up when idle.
    void PlayTickProgress();
    void PlayTickIdle();
    // The sound output went away while playing: Play goes up, said once.
    void PlaybackLost();
    // The time display: position in 32 units per second.
    void ShowPosition(int32_t position);
    void ShowVoiceLength();
    // The Options menu's Loop item: remembered with the preferences.
    void Loop1Click();
    // Every effect control calls this after changing the selection: while
    // playing (and when the preference allows) the sound goes over to the
    // newly processed clip.
    void EffectSelectionChanged();

    // --- Shared voice operations ------------------------------------------------
    // Refuses (with a message) while recording or playing.
    bool IsBusy();
    void ShowVoice();
    void ClearVoice();
    void UpdateTitle();

    // --- Mixer (app/mfmixer.cpp) ------------------------------------------------
    void InitMixer();
    void CloseMixer();
    void MikeSliderChange();
    void SpeakerSliderChange();
    void RecSourceToggleButtonClick();
    void MixerControlChange(int32_t controlId);
    void SetRecordVolume(uint16_t level);
    void SetPlayVolume(uint16_t level);
    void ShowRecordVolume();
    void ShowPlayVolume();
    void ShowRecordSource();

    // --- Effect set (app/mfeffects.cpp) --------------------------------------------
    void EchoButtonClick();
    void ChorusButtonClick();
    void FlangeButtonClick();
    void FadeInButtonClick();
    void fadeOutButtonClick();
    void BassOnlyButtonClick();
    void RobotvoiceButtonClick();
    void BackwardButtonClick();
    void TrebleOnlyButtonClick();
    void SweepUpButtonClick();
    void SweepDownButtonClick();
    void SlowMonstButtonClick();
    void FastSqueakButtonClick();
    void Echo1Click();
    void Chorus1Click();
    void Flange1Click();
    void FadeIn1Click();
    void FadeOut1Click();
    void BassOnly1Click();
    void Robotvoice1Click();
    void Backward1Click();
    void TrebleOnly1Click();
    void SweepUp1Click();
    void SweepDown1Click();
    void SlowMonster1Click();
    void FastSqeaker1Click();
    void PitchBarChange();

    // The buttons, the menu items and the pitch bar show Document.Effects.
    void ShowEffects();
    // Every effect off, the pitch back to 6.
    void ResetEffects();
    // Words 0..14 of record from the selection; the rest stays as given.
    void CaptureEffectSettings(TEffectSettings &record) const { ::CaptureEffectSettings(Document.Effects, record); }
    // The selection as record stores it, shown; not a change to save. The
    // sweeps of an older, shorter record stay as they are.
    void ApplyEffectSettings(const TEffectSettings &record)
    {
        Document.Effects = ::ApplyEffectSettings(Document.Effects, record);
        ShowEffects();
    }
    // Runs the selected effects over a fresh copy of the voice, shows the
    // result in WaveDisplay and, with a file name, writes it as a WAVE file.
    // Returns the sample rate the processed clip plays at.
    // A played clip is the part chosen in the editor while it is open; an
    // exported one always the whole voice.
    enum class TClip { Exported, Played };
    uint32_t ApplyEffects(const std::string &fileName, TClip clip = TClip::Exported);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildComponents();
    void BuildMenu();
    void BuildEditMenu();
    void RunEdit(TVoiceDocument::TEdit edit);
    void DrawButtonArtwork();
    // An effect's button was clicked (it has flipped already), or its menu
    // item chosen: the selection changes and the controls show it.
    void ToggleEffect(bool TEffectSet::*flag);
    bool destroyed = false;
    bool closeAnswered = false; // Exit has asked about an unsaved recording already
};

extern TMainForm *MainForm;
