// SPDX-License-Identifier: GPL-3.0-or-later
// The preferences dialog TStartup: a voice file to open when the program
// starts, whether to play it then, and whether effect changes are heard
// while the voice plays. All are kept between runs in the user's settings
// (organisation "Tamblor", application "Glimmerbox"), with the Options
// menu's Loop.
#pragma once

#include "app/seams.h"

#include <QDialog>
#include <QSize>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Where Live Voice plays.
enum class TLiveOutput { VirtualMic = 0, Speakers = 1, Both = 2 };

// What the preferences hold between runs.
struct TStartupPreferences {
    std::string FileName; // absolute; empty: no start-up file
    bool PlaySound = false;
    bool HearChanges = true; // effect changes are heard while playing
    bool Loop = false;       // the voice plays again from its start until Play
    TLiveOutput LiveOutput = TLiveOutput::VirtualMic;
    bool HeadphonesWarned = false; // said once: live on the speakers wants headphones
};

class TStartup : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 351;
    static constexpr int ClientHeight = 186;

    explicit TStartup(QWidget *parent = nullptr);
    ~TStartup() override;

    QCheckBox *PlaySoundAtStartup;
    QCheckBox *HearEffectChanges;
    QLabel *LiveOutputLabel;
    QComboBox *LiveOutput; // in TLiveOutput's order
    QLabel *Label1;
    QLineEdit *FileName;
    QPushButton *BrowseButton;
    QPushButton *okButton;
    QPushButton *cancelButton;
    TFileDialog BrowseFileDialog;

    void BrowseButtonClick();
    // Ends the dialog with OK when FileName is empty (no start-up file) or
    // names an existing file, which it then shows as an absolute name.
    void okButtonClick();
    void cancelButtonClick();

    // The controls show what is stored (an empty name while nothing is).
    void LoadPreferences();
    // Stores what the controls show.
    void SavePreferences() const;
    static TStartupPreferences StoredPreferences();
    // Stores "no start-up file"; the play choice stays.
    static void ForgetStartupFile();
    // Stores the Options menu's Loop.
    static void StoreLoop(bool loop);
    // The editor window's size when it was last closed; empty when never.
    static QSize StoredEditorSize();
    static void StoreEditorSize(QSize size);
    // Live Voice on the speakers has been warned about.
    static void StoreHeadphonesWarned();
};

extern TStartup *Startup;
