// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 export window: the user picks a codec and a bit rate, presses
// Start, names the MP3 file, and watches the bar while a worker thread runs
// the conversion. "Lame Encoder" runs the LAME path (audio/lameconvert.h);
// every other codec runs the conversion library (platform/tmwavmp3.h).
#pragma once

#include <QDialog>
#include <QStringList>

#include <atomic>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// One conversion: made by whoever opens the window, kept by it and by the
// worker thread while either needs it. A source made only for the export
// is removed when the last holder lets go of the job.
struct TConversionJob {
    std::string Source;
    std::string Destination;
    int32_t BitRate = 0; // kbit/s
    bool RemoveSource = false;
    // Set by the window's Cancel; a worker that has not called the encoder
    // yet does not call it at all.
    std::atomic<bool> Cancelled{false};

    TConversionJob() = default;
    explicit TConversionJob(std::string source, bool removeSource = false);
    ~TConversionJob();
    TConversionJob(const TConversionJob &) = delete;
    TConversionJob &operator=(const TConversionJob &) = delete;
};

// The save dialog the Start button runs, as the window sets it up.
struct TMp3SaveDialog {
    std::string FilterName;    // "Mp3 files (*.mp3)"
    std::string FilterPattern; // "*.mp3"
    std::string DefaultExt;    // "mp3"
    std::string FileName;      // chosen after Execute
    bool OverwritePrompt = true;
    bool HideReadOnly = true;
    bool PathMustExist = true;
};

inline constexpr const char *LameCodecName = "Lame Encoder";

// The text shown for a result code of either encoder (empty for a code no
// table knows). 406 has its own message, given by BitRateRefusedText.
std::string ConversionErrorText(int code);
std::string BitRateRefusedText(int32_t bitRate);

class TWaveToMP3ConversionForm : public QDialog {
    Q_OBJECT
public:
    explicit TWaveToMP3ConversionForm(QWidget *parent = nullptr);
    ~TWaveToMP3ConversionForm() override;

    void FormCreate();
    // Hands the window the job the next Start converts.
    void SetJob(std::shared_ptr<TConversionJob> job);
    const std::shared_ptr<TConversionJob> &Job() const { return ConversionJob; }

    QLabel *Label1;
    QComboBox *codecNamesComboBox;
    QLabel *Label2;
    QComboBox *BitRateComboBox;
    QProgressBar *ProgressBar1;
    QPushButton *StartButton;
    QPushButton *CancelBtn;
    QTimer *PercentTimer;
    TMp3SaveDialog FileSaveDialog;

    // Filled by the caller; offered for the library's codecs and for the Lame Encoder.
    QStringList CodecBitRates;
    QStringList LameBitRates;

    // Where the window asks for a file name and shows its messages. Both
    // default to the desktop's dialogs; the program routes them through its
    // own seams, tests answer them.
    std::function<bool(TMp3SaveDialog &dialog, QWidget *parent)> RunFileSaveDialog;
    std::function<void(const std::string &text, const std::string &caption)> ShowMessage;
    // Shown after a result that says the machine's codec is missing.
    QDialog *CodecMessage = nullptr;

    bool LameSelected = false;
    int16_t ConversionResult = 0;

    void codecNamesComboBoxChange();
    void StartButtonClick();
    void PercentTimerTimer();
    void CancelBtnClick();
    void FormClose();
    void StopConversion();
    // Waits for a worker thread that is still finishing (after a cancel).
    void WaitForConversion();

    void done(int result) override;

private:
    // Runs on the worker thread; hands its outcome to ReportConversion.
    void ConversionThread(std::shared_ptr<TConversionJob> job, bool lame);
    // done: the job the worker converted, which RunningJob still holds, so
    // that the job (and the temporary source it removes) always goes on the
    // user-interface thread, before the window's caller looks again.
    void ReportConversion(const TConversionJob *done, int16_t result, bool callFailed);

    std::shared_ptr<TConversionJob> ConversionJob;
    // The job a worker is converting, from Start until its report arrives.
    std::shared_ptr<TConversionJob> RunningJob;
    std::thread Worker;
};

extern TWaveToMP3ConversionForm *WaveToMP3ConversionForm;

// Makes the export window and the codec message window, owned by owner, when
// they do not exist yet; each global is cleared again when its window goes.
void CreateMp3ExportForms(QWidget *owner);

// The export window over owner, for the processed clip in job's temporary
// WAVE file: the library's codec first, the Lame Encoder when its library
// lies beside the program; the save dialog and the messages go through the
// program's own (app/seams.h). Returns when the window is closed.
void RunMp3Export(QWidget *owner, std::shared_ptr<TConversionJob> job);
