// SPDX-License-Identifier: GPL-3.0-or-later
// Editing the voice: the Edit menu (shared by the main window and the
// editor window), undo and redo, and comparing the processed clip with the
// voice as it is, without effects, by holding D while it plays.
//
// The document does the edits and keeps their history; this file only
// greys what cannot apply and shows the outcome everywhere the voice is
// shown. Nothing here runs while recording or playing: the items are
// greyed then, and a key that slips through finds IsBusy.

#include "app/editorwindow.h"
#include "app/mfunit.h"
#include "app/seams.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

void TMainForm::BuildEditMenu()
{
    Edit1 = MainMenu1->addMenu(QStringLiteral("&Edit"));
    Undo1 = Edit1->addAction(QStringLiteral("&Undo"));
    Redo1 = Edit1->addAction(QStringLiteral("&Redo"));
    Edit1->addSeparator();
    Cut1 = Edit1->addAction(QStringLiteral("Cu&t"));
    CropToSelection1 = Edit1->addAction(QStringLiteral("C&rop to Selection"));
    TrimSilence1 = Edit1->addAction(QStringLiteral("Trim &Silence"));
    Normalise1 = Edit1->addAction(QStringLiteral("&Normalise"));
    Edit1->addSeparator();
    SelectAll1 = Edit1->addAction(QStringLiteral("Select &All"));
    Edit1->addSeparator();
    EditVoice1 = Edit1->addAction(QStringLiteral("&Edit Voice..."));

    Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    Redo1->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    Cut1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    CropToSelection1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    SelectAll1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    // Ctrl+E exports.
    EditVoice1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));

    const struct {
        QAction *Item;
        void (TMainForm::*Click)();
    } items[] = {
        {Undo1, &TMainForm::Undo1Click},
        {Redo1, &TMainForm::Redo1Click},
        {Cut1, &TMainForm::Cut1Click},
        {CropToSelection1, &TMainForm::CropToSelection1Click},
        {TrimSilence1, &TMainForm::TrimSilence1Click},
        {Normalise1, &TMainForm::Normalise1Click},
        {SelectAll1, &TMainForm::SelectAll1Click},
        {EditVoice1, &TMainForm::EditVoice1Click},
    };
    for (const auto &item : items)
        connect(item.Item, &QAction::triggered, this, [this, click = item.Click] {
            (this->*click)();
            UpdateFileMenus();
        });
    UpdateEditMenus();
}

void TMainForm::UpdateEditMenus()
{
    using E = TVoiceDocument::TEdit;
    const bool idle = !Recorder.Recording && !Player.Playing && !Live.Running();
    Undo1->setEnabled(idle && Document.CanUndo());
    Redo1->setEnabled(idle && Document.CanRedo());
    Cut1->setEnabled(idle && Document.CanEdit(E::Cut));
    CropToSelection1->setEnabled(idle && Document.CanEdit(E::Crop));
    TrimSilence1->setEnabled(idle && Document.CanEdit(E::TrimSilence));
    Normalise1->setEnabled(idle && Document.CanEdit(E::Normalise));
    SelectAll1->setEnabled(idle && Document.VoiceBytes > 0);
}

void TMainForm::VoiceChangedByEdit()
{
    ShowVoice();
    ShowVoiceLength();
    ShowEffects();
    UpdateFileMenus();
}

void TMainForm::RunEdit(TVoiceDocument::TEdit edit)
{
    if (IsBusy() || !Document.CanEdit(edit))
        return;
    switch (Document.Edit(edit)) {
    case TVoiceDocument::TEditResult::Done:
        break;
    case TVoiceDocument::TEditResult::Silent:
        // A silent voice is not made louder either, but that needs no word.
        if (edit == TVoiceDocument::TEdit::TrimSilence)
            Messages().ShowMessage("The voice is silent: there is nothing to trim.");
        break;
    case TVoiceDocument::TEditResult::NoMemory:
        Messages().ShowMessage("There is not enough memory to edit the voice.");
        break;
    }
    VoiceChangedByEdit();
}

void TMainForm::Undo1Click()
{
    if (IsBusy())
        return;
    if (Document.CanUndo() && !Document.Undo())
        Messages().ShowMessage("There is not enough memory to edit the voice.");
    VoiceChangedByEdit();
}

void TMainForm::Redo1Click()
{
    if (IsBusy())
        return;
    if (Document.CanRedo() && !Document.Redo())
        Messages().ShowMessage("There is not enough memory to edit the voice.");
    VoiceChangedByEdit();
}

// clang-format off
void TMainForm::Cut1Click() { RunEdit(TVoiceDocument::TEdit::Cut); }
void TMainForm::CropToSelection1Click() { RunEdit(TVoiceDocument::TEdit::Crop); }
void TMainForm::TrimSilence1Click() { RunEdit(TVoiceDocument::TEdit::TrimSilence); }
void TMainForm::Normalise1Click() { RunEdit(TVoiceDocument::TEdit::Normalise); }
// clang-format on

void TMainForm::SelectAll1Click()
{
    if (IsBusy() || Document.VoiceBytes <= 0)
        return;
    Document.Selection = {0, Document.VoiceSamples()};
    if (EditorWindow)
        EditorWindow->ShowDocument();
}

void TMainForm::EditVoice1Click()
{
    if (!EditorWindow)
        EditorWindow = new TEditorWindow(*this);
    EditorWindow->ShowDocument();
    EditorWindow->show();
    EditorWindow->raise();
    EditorWindow->activateWindow();
}

void TMainForm::SelectionChosen(int32_t start, int32_t end)
{
    Document.Selection = {start, end};
    UpdateEditMenus();
}

void TMainForm::CompareKey(bool held)
{
    // Only a playing voice is compared; the release goes back to the
    // selection as it is then, changes made meanwhile included.
    if (held && !Player.Playing)
        return;
    if (held == Comparing)
        return;
    Comparing = held;
    Player.Change(held ? TEffectSet{} : Document.Effects);
}
