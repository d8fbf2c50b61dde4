// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on a desktop: the keys of the menu commands, what a screen
// reader says about each control, a file named on the command line, and the
// question before changes that were never saved are lost.
//
// A recording exists nowhere but in memory until it is saved: the voice is
// then in Document.VoiceData with no VoiceFileName. An edited voice differs
// from its file, and so does a file of the user's whose effect selection
// changed. Every command that would replace or drop the voice (New, Open,
// the presets, a new recording, a dropped file, Exit and the close box)
// first calls VoiceMayGo:
//
//   nothing unsaved                 -> go on, nothing asked
//   "...Save it first?" (recording)
//   "...Save them first?" (changes)
//                        Save       -> Save (As); go on only if it saved
//                        Discard    -> go on
//                        Cancel     -> stop, everything as it was
//
// A preset voice whose effects were only switched is not asked about: its
// file is the program's, and nothing of the user's would be lost.

#include "app/effecttable.h"
#include "app/mfunit.h"
#include "app/question.h"
#include "app/startupunit.h"
#include "controls/qmblaccess.h"
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>

#include <vector>

void TMainForm::AssignShortcuts()
{
    const struct {
        QAction *Item;
        QKeySequence Keys;
    } keys[] = {
        {New1, QKeySequence(Qt::CTRL | Qt::Key_N)},
        {Open1, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {Save1, QKeySequence(Qt::CTRL | Qt::Key_S)},
        {SaveAs1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {ExportToWaveFormat1, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {Exit1, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {HelpTopics1, QKeySequence(Qt::Key_F1)},
        {LiveVoice1, QKeySequence(Qt::CTRL | Qt::Key_L)},
    };
    for (const auto &key : keys)
        key.Item->setShortcut(key.Keys);

    // Record has no menu item: its key belongs to the window.
    RecordKey = new QAction(QStringLiteral("Record"), this);
    RecordKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    addAction(RecordKey);
    connect(RecordKey, &QAction::triggered, this, &TMainForm::RecordKeyPress);
}

void TMainForm::RecordKeyPress()
{
    // As a click on the button: it flips, then its handler runs.
    RecordButton->SetDown(!RecordButton->Down());
    OldRecordButtonClick();
}

void TMainForm::SetAccessibleNames()
{
    const struct {
        QWidget *Control;
        const char *Name;
    } names[] = {
        {PlayButton, "Play"},           {RecordButton, "Record"},      {RecSourceToggleButton, "Next recording input"},
        {SF1Button, "Preset voice 1"},  {SF2Button, "Preset voice 2"}, {SF3Button, "Preset voice 3"},
        {MicSliderPanel, "Record"},     {SpkSliderPanel, "Play"},      {MikeSlider, "Record volume"},
        {SpeakerSlider, "Play volume"}, {PitchBar, "Pitch"},           {VolLED, "Level"},
        {WaveDisplay, "Waveform"},
    };
    for (const auto &name : names)
        name.Control->setAccessibleName(QString::fromLatin1(name.Name));
    for (const TEffectRow &row : EffectRows)
        (this->*row.Button)->setAccessibleName(QString::fromLatin1(row.AccessibleName));

    // The input button springs back: a plain button, not a toggle.
    RecSourceToggleButton->setProperty(QmblMomentaryProperty, true);
    RecSourceLabel->setAccessibleDescription(QStringLiteral("Recording input"));
    PitchBar->setAccessibleDescription(QStringLiteral("From Helium Breath at 0 to Sulphur Breath at 12; 6 keeps the "
                                                      "voice's own pitch"));
    VolLED->setAccessibleDescription(QStringLiteral("The sound level while recording or playing"));
    WaveDisplay->setAccessibleDescription(
        QStringLiteral("The waveform of the voice; while playing it scrolls with the sound"));
    // The time display's name is its text, as for every label.
    timeDisplay->setAccessibleDescription(QStringLiteral("Time"));

    // Tab goes as the eye reads the window: the left column, the sliders
    // and the pitch, the two rows of effects, the preset voices.
    std::vector<QWidget *> order{PlayButton, RecordButton, RecSourceToggleButton, MikeSlider, SpeakerSlider, PitchBar};
    // Sweep Up, Echo ... Fade Out, Sweep Down; Bass Only ... Treble Only.
    for (std::size_t row : {11, 0, 1, 2, 3, 4, 12, 5, 6, 7, 8, 9, 10})
        order.push_back(this->*EffectRows[row].Button);
    order.insert(order.end(), {SF1Button, SF2Button, SF3Button});
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

bool TMainForm::UnsavedRecording() const
{
    return Document.UnsavedRecording();
}

std::string TMainForm::UnsavedChangesQuestion() const
{
    if (UnsavedRecording())
        return "The recording has not been saved. Save it first?";
    if (Document.VoiceBytes > 0 && (Document.VoiceEdited() || (Document.EffectsChanged() && !Document.Preset))) {
        const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(Document.VoiceFileName))).fileName();
        return "The changes to " + name.toStdString() + " have not been saved. Save them first?";
    }
    return {};
}

bool TMainForm::VoiceMayGo()
{
    // A take still being recorded when the window closes ends here, so that
    // it can be kept like any other (a stop refused now is tried again by
    // the timer, and the window stays).
    if (Recorder.Recording && !EndRecording())
        return false;
    const std::string question = UnsavedChangesQuestion();
    if (question.empty())
        return true;
    switch (AskSaveFirst(question, this)) {
    case TSaveAnswer::Save:
        Save1Click();
        return UnsavedChangesQuestion().empty();
    case TSaveAnswer::Discard:
        return true;
    case TSaveAnswer::Cancel:
        break;
    }
    return false;
}

void TMainForm::OpenFileAtStart(const std::string &fileName)
{
    if (IsBusy())
        return;
    OpenVoiceFile(fileName);
    if (Document.VoiceBytes > 0 && TStartup::StoredPreferences().PlaySound) {
        // As a click on Play: the button goes down, then its handler runs.
        PlayButton->SetDown(true);
        PlayButtonClick();
    }
}
