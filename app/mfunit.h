// TMainForm, the program's one main window, and the state the whole program
// shares through it. The window's operations are kept in files by concern,
// all parts of this one class:
//   app/mfunit.cpp       building the window, start-up and shut-down, the
//                        timer, the menus, help and about, the shared voice
//                        operations
//   app/mfmixer.cpp      the volume sliders and the recording input
//   app/mfrecord.cpp     recording: the Record button, the recorder's
//                        temporary file, the level meter and the elapsed time
//   app/mfplay.cpp       playback: the Play button, the two blocks streamed
//                        to the wave-out device, the time display
//   app/mflive.cpp       effect changes heard while playing, and the loop
//   app/mffiles.cpp      the File menu, the preset buttons, the preferences
//                        command and files dropped on the window
//   app/mfdesktop.cpp    keys, names for screen readers, the file named on
//                        the command line, the unsaved-recording question
//   app/mfeffects.cpp    the effect buttons, their menu items and the
//                        effect pipeline run over the controls
#pragma once

#include "app/seams.h"
#include "audio/effectsettings.h"
#include "effects/effectset.h"
#include "platform/waveout.h"

#include <QEvent>
#include <QMainWindow>
#include <QUrl>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;
class THelpWindow;
class TQMBL_EllipticalButton;
class TQMBL_EllipticalPanel;
class TQMBL_SawToothButton;
class TQMBL_TrackBar;
class TQMBL_VerticalLEDs;
class TQMBL_Wave_Display;

// The mixer's unit-level state, with the values it has before InitMixer runs.
struct TMixerState {
    int32_t OutputVolumeControlID = -1; // play volume control, -1 = none yet
    int32_t InputVolumeControlID = -1;  // record volume control
    int32_t SourceSelectControlID = -1; // the control that selects the recording input
    int32_t InputLineControlID = -1;    // a change here means: read source name and record volume again
    int32_t InputSourceIndex = -1;      // selected recording input, -1 = none yet
    int32_t InputSourceCount = 0;       // number of recording inputs
    bool MixerReady = false;            // control-change notices are ignored until set
};

// The one mixer state of the program (app/mfmixer.cpp).
extern TMixerState MixerState;

// Puts the mixer state back to its values at program start.
void ResetMixerGlobals();

// The event a mixer change arrives as: the identifier of the control that
// changed rides along. Posted from the mixer library's thread.
class TMixerControlChangeEvent : public QEvent {
public:
    static const QEvent::Type EventType;
    explicit TMixerControlChangeEvent(int32_t controlId) : QEvent(EventType), ControlId(controlId) {}
    const int32_t ControlId;
};

// The wave-out device's MM_WOM_DONE, as it reaches the window: the device
// and the block it has finished. Posted from the audio thread.
class TWaveOutDoneEvent : public QEvent {
public:
    static const QEvent::Type EventType;
    TWaveOutDoneEvent(HWAVEOUT device, WAVEHDR *header) : QEvent(EventType), Device(device), Header(header) {}
    HWAVEOUT const Device;
    WAVEHDR *const Header;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 608;
    static constexpr int ClientHeight = 393;
    static constexpr int DesignedLeft = 99;
    static constexpr int DesignedTop = 94;
    static constexpr int TimerInterval = 100;
    static constexpr int32_t PlayBlockBytes = 8096; // each of the two playback blocks

    // Builds the window and its components; FormCreate does the rest once the
    // window is in MainForm.
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // --- The window's state -------------------------------------------------
    HWAVEOUT WaveOut = nullptr;           // the open wave-out device; null when none is open
    int32_t VoiceBytes = 0;               // bytes of voice in VoiceData; 0 = no voice
    int32_t WorkBytes = 0;                // bytes of processed clip in WorkData
    int32_t PlayViewPosition = 0;         // byte offset last handed to WaveDisplay while playing
    int32_t WorkCapacity = 0;             // size of WorkData in bytes
    std::unique_ptr<int16_t[]> VoiceData; // the voice as recorded or loaded; effects never change it
    std::unique_ptr<int16_t[]> WorkData;  // the copy the effects alter and playback plays
    bool StartingUp = false;              // the window is being created; About does nothing
    bool PlayFinished = false;            // all playback blocks done, or a stop was asked
    bool Modified = false;                // clip or effects changed since the last save
    bool Recording = false;
    bool Playing = false;
    std::string VoiceFileName;              // current voice file; empty for a new voice
    bool SaveNeedsName = false;             // VoiceFileName is a preset or was converted on reading: Save asks
    std::array<char, 256> RecordFileName{}; // the recorder's temporary file, zero-terminated
    int32_t DoneHeader = 0;                 // playback block being refilled, 0 or 1
    std::array<WAVEHDR, 2> WaveHeaders{};   // the two playback blocks
    uint32_t RecordStartTime = 0;           // milliseconds; 0 when not recording
    int32_t BytesQueued = 0;                // bytes of WorkData handed to the device so far
    int32_t HeadersQueued = 0;              // blocks written since playback began
    bool OutputLost = false;                // the device refused a block: the output is gone
    bool WorkAltered = false;               // an effect has altered WorkData since start-up
    int16_t InputSource = 0;                // copy of MixerState.InputSourceIndex, handed to the recorder
    std::string PresetFolder;               // where SF1.WAV.. are looked for: the program's own folder

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
    // The window's shape for an outer size of width x height: square top
    // corners, bottom corners rounded on 150 x 150 ellipses.
    static QRegion WindowShape(int width, int height);
    // Whether the window must paint its shape itself, on a transparent
    // surface: on platforms (Wayland) where a top-level mask shapes only the
    // input, not what is seen. Elsewhere (X11) the mask alone shapes it.
    static bool ShapeIsPainted(const QString &platformName);

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
    // Drops the voice, makes a temporary file and starts the recorder on it.
    void StartRecording();
    // The message box for a recorder code 201..207; other codes show nothing.
    void ShowRecordError(int16_t code);
    // Loads what was recorded as the new voice and deletes the file.
    void FinishRecording();
    bool EndRecording();
    // Reads the recorded file into VoiceData with a copy in WorkData; false
    // (after a message) when that could not be done.
    bool LoadRecordedVoice();
    // Milliseconds since RecordStartTime.
    uint32_t RecordElapsedMs() const;
    // The two recording steps of a tick: retry a stop after Record was
    // released, show the input level and the elapsed time.
    void RecordTickStop();
    void RecordTickProgress();
    // Removes the file named by RecordFileName, when there is one.
    void DeleteRecordFile();

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

    // --- The desktop (app/mfdesktop.cpp) ------------------------------------------
    QAction *RecordKey = nullptr; // Ctrl+R, which clicks the Record button
    // The menu commands' keys and the Record key.
    void AssignShortcuts();
    void RecordKeyPress();
    // What a screen reader calls each control.
    void SetAccessibleNames();
    // A recorded voice that no file holds.
    bool UnsavedRecording() const;
    // Before a command drops the voice: false when an unsaved recording must
    // stay (the user cancelled, or did not save it after all).
    bool RecordingMayGo();
    // The FILE of "glimmerbox FILE": opened instead of the preferences'
    // start-up file, played only when the preferences say so.
    void OpenFileAtStart(const std::string &fileName);

    // --- Playback (app/mfplay.cpp) ------------------------------------------------
    void PlayButtonClick();
    // Processes the voice and starts streaming it at rate samples per second.
    void PlayVoice(uint32_t rate);
    void PrepareWaveHeader(int index);
    WAVEFORMATEX PlayFormat(uint32_t rate) const;
    void QueueNextBlock(int index);
    // QueueNextBlock, after starting the next pass when the loop is on and
    // everything of this pass is queued.
    void QueueFollowingBlock(int index);
    void ReleaseWaveHeaders();
    // MM_WOM_DONE: device has finished the block at header.
    void WaveOutDone(HWAVEOUT device, WAVEHDR *header);
    // The three playback steps of a tick: stop after Play was released,
    // follow the sound while playing, put Play up when idle.
    void PlayTickStop();
    void PlayTickProgress();
    void PlayTickIdle();
    // Resets and closes the device and shows the voice again from its start.
    void CloseWaveOut();
    // The sound output went away while playing: closes the device as a stop
    // would, puts Play up and says so once.
    void PlaybackLost();
    // The rate the effect buttons ask for: Slow Monster before Fast Squeaker.
    uint32_t PlaybackRate() const;
    // The time display: position in 32 units per second.
    void ShowPosition(int32_t position);
    void ShowVoiceLength();

    // --- Live changes and the loop (app/mflive.cpp) ---------------------------------
    // A stretch of the sound written to the device: from device byte
    // DeviceStart on, the clip Data (ClipBytes long, reversed when Backward)
    // plays from its byte ClipStart. A playback starts with one; every pass
    // of the loop and every switch to a newly processed clip adds one.
    struct TPlaySegment {
        int64_t DeviceStart = 0;
        int32_t ClipStart = 0;
        int32_t ClipBytes = 0;
        const int16_t *Data = nullptr;
        bool Backward = false;
    };
    bool LoopPlayback = false;           // Options, Loop: the voice plays again from its start
    bool HearChangesWhilePlaying = true; // the preference: effect changes are heard at once
    TEffectSet PlayingEffects;           // the selection WorkData was processed with while playing
    uint32_t PlayingRate = 0;            // the open device's rate
    int64_t DeviceBytesQueued = 0;       // bytes written to the open device
    std::vector<TPlaySegment> PlaySegments;
    std::vector<int16_t> FadeFrom; // what the old clip would have played next; the next block fades from it
    // The Options menu's Loop item: remembered with the preferences.
    void Loop1Click();
    // Every effect control calls this after changing the selection: while
    // playing (and when the preference allows) the voice is processed again
    // in the background and the sound goes over to the new clip.
    void EffectSelectionChanged();
    // The segment the device plays at byte position (the last one started).
    const TPlaySegment &SegmentAt(int64_t deviceBytes) const;
    // The processed clip the live run made, waiting for the next block.
    bool LiveClipWaiting() const { return pendingClip != nullptr; }
    // Cancels a background run and forgets a waiting clip.
    void StopLiveRun();
    // How the wave-out device's reports reach this window.
    static PostMessageFn WaveOutPost();

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

    // The effect selection as the controls hold it now.
    TEffectSet CurrentEffectSet() const;
    // Words 0..14 of record from the controls; the rest stays as given.
    void CaptureEffectSettings(TEffectSettings &record) const;
    // Sets the controls from record; does not mark the selection as changed.
    void ApplyEffectSettings(const TEffectSettings &record);
    // Every effect off, the pitch back to 6.
    void ResetEffects();
    // Runs the selected effects over a fresh copy of the voice, shows the
    // result in WaveDisplay and, with a file name, writes it as a WAVE file.
    // Returns the sample rate the processed clip plays at.
    uint32_t ApplyEffects(const std::string &fileName);

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
    void DrawButtonArtwork();
    bool destroyed = false;
    bool closeAnswered = false;                        // Exit has asked about an unsaved recording already
    std::array<std::unique_ptr<char[]>, 2> playBlocks; // the data of WaveHeaders while playing

    // Live changes: the background run, the clip it made and the clips that
    // segments still play or the waveform display still shows.
    std::thread liveWorker;
    std::shared_ptr<std::atomic<bool>> liveCancel;
    uint64_t liveGeneration = 0; // a finished run counts only if no newer one started
    std::unique_ptr<int16_t[]> pendingClip;
    int32_t pendingBytes = 0;
    TEffectSet pendingEffects;
    std::vector<std::unique_ptr<int16_t[]>> retiredClips;
    void StartLiveRun(const TEffectSet &effects);
    // Stops a background run; a clip it made already stays waiting.
    void CancelLiveRun();
    void LiveRunFinished(uint64_t generation, std::unique_ptr<int16_t[]> clip, int32_t bytes,
                         const TEffectSet &effects);
    // At a block boundary: goes on in the waiting clip from the same point.
    void TakeWaitingClip();
    // A waiting clip at the same rate: what the device holds beyond its
    // short lead is dropped and the waiting clip goes on from there.
    void CutToWaitingClip();
    // A waiting clip at another rate: the device is opened again at that
    // rate and plays on from the point heard now.
    void ReopenForWaitingClip(uint32_t rate);
    // With the device's queue empty, the waiting clip goes on from the
    // point of the voice the segment heard had reached at device byte
    // heardAt; both blocks are written.
    void GoOnInWaitingClip(const TPlaySegment &heard, int64_t heardAt);
    // Makes the waiting clip WorkData, going on from the point of the voice
    // that index next of the old clip (oldSamples long, reversed when
    // oldBackward) plays, or from its start where the loop would begin a new
    // pass; its first block fades from what the old clip plays there.
    void AdoptWaitingClip(const int16_t *old, int32_t oldSamples, bool oldBackward, int32_t next);
    void StartNextPass();
    void PruneRetiredClips();
};

extern TMainForm *MainForm;
