// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/editorwindow.h"

#include "app/mfunit.h"
#include "app/startupunit.h"
#include "audio/voiceformat.h"
#include "controls/qmblovw.h"
#include "controls/qmblsbtn.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

TEditorWindow::TEditorWindow(TMainForm &form) : QWidget(&form, Qt::Window), form(form)
{
    setWindowTitle(QStringLiteral("Glimmerbox - Edit Voice"));
    setObjectName(QStringLiteral("EditorWindow"));
    const QSize stored = TStartup::StoredEditorSize();
    resize(stored.isValid() && !stored.isEmpty() ? stored : QSize(720, 300));

    // The same items as the main window's Edit menu: one set of actions,
    // greyed and enabled together, whose keys work in either window.
    MenuBar = new QMenuBar(this);
    QMenu *edit = MenuBar->addMenu(QStringLiteral("&Edit"));
    edit->addActions({form.Undo1, form.Redo1});
    edit->addSeparator();
    edit->addActions({form.Cut1, form.CropToSelection1, form.TrimSilence1, form.Normalise1});
    edit->addSeparator();
    edit->addAction(form.SelectAll1);

    Overview = new TQMBL_VoiceOverview(this);
    Overview->setAccessibleName(QStringLiteral("Voice"));
    PlayButton = new QPushButton(QStringLiteral("&Play"), this);
    PlayButton->setAccessibleName(QStringLiteral("Play"));
    PlayButton->setAccessibleDescription(QStringLiteral("Plays the selection, or the whole voice without one"));
    StatusLine = new QLabel(this);
    StatusLine->setAccessibleName(QStringLiteral("Selection"));
    StatusLine->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(PlayButton);
    bottom->addWidget(StatusLine, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MenuBar);
    layout->addWidget(Overview, 1);
    layout->addLayout(bottom);
    setTabOrder(Overview, PlayButton);
    setTabOrder(PlayButton, StatusLine);

    // Esc and Ctrl+W close the window; Space plays, as in the main window.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *close = new QAction(this);
        close->setShortcut(keys);
        connect(close, &QAction::triggered, this, &QWidget::close);
        addAction(close);
    }
    auto *play = new QAction(this);
    play->setShortcut(QKeySequence(Qt::Key_Space));
    connect(play, &QAction::triggered, this, &TEditorWindow::PlayClick);
    addAction(play);

    connect(PlayButton, &QPushButton::clicked, this, &TEditorWindow::PlayClick);
    connect(Overview, &TQMBL_VoiceOverview::SelectionChanged, this, [this](int32_t start, int32_t end) {
        this->form.SelectionChosen(start, end);
        ShowStatus();
    });
}

void TEditorWindow::ShowDocument()
{
    const TVoiceDocument &document = form.Document;
    const QSignalBlocker quiet(Overview); // showing is not choosing
    // The view stays as it is while the voice does (the end of playback
    // shows the voice again).
    if (Overview->Samples() != document.VoiceData.get() || Overview->SampleCount() != document.VoiceSamples())
        Overview->SetSamples(document.VoiceData.get(), document.VoiceSamples(), VoiceFormat.SamplesPerSec);
    Overview->SetSelection(document.Selection.Start, document.Selection.End);
    ShowStatus();
}

void TEditorWindow::ShowStatus()
{
    const TSampleSpan span = form.Document.Selection;
    StatusLine->setText(QString::fromStdString(SelectionStatusText(span.Start, span.End, VoiceFormat.SamplesPerSec)));
    PlayButton->setText(form.Player.Playing ? QStringLiteral("&Stop") : QStringLiteral("&Play"));
}

void TEditorWindow::PlayClick()
{
    // As a click on the main window's Play button: it goes down (or up),
    // then its handler runs.
    form.PlayButton->SetDown(!form.Player.Playing);
    form.PlayButtonClick();
    ShowStatus();
}

void TEditorWindow::showEvent(QShowEvent *event)
{
    form.Document.PlaySelectionOnly = true;
    QWidget::showEvent(event);
}

void TEditorWindow::hideEvent(QHideEvent *event)
{
    form.Document.PlaySelectionOnly = false;
    QWidget::hideEvent(event);
}

void TEditorWindow::closeEvent(QCloseEvent *event)
{
    TStartup::StoreEditorSize(size());
    event->accept();
}
