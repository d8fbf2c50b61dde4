// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mfunit.h"
#include "app/editorwindow.h"
#include "app/effecttable.h"
#include "platform/virtualmic.h"

#include "app/aboutunit.h"
#include "app/artwork.h"
#include "app/helpunit.h"
#include "app/look.h"
#include "app/startupunit.h"
#include "audio/soundfile.h"
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <utility>

TMainForm *MainForm = nullptr;

namespace {

// A checkable menu item as this window uses it: the handlers decide the check
// mark themselves. Qt flips a checkable action before it reports the
// trigger, so the flip is taken back first and the handler sees the item as
// it was when the user chose it.
template <typename Handler> void ConnectMenuClick(QAction *item, TMainForm *form, Handler handler)
{
    QObject::connect(item, &QAction::triggered, form, [item, form, handler](bool checked) {
        if (item->isCheckable())
            item->setChecked(!checked);
        (form->*handler)();
        form->UpdateFileMenus();
    });
}

} // namespace

TMainForm::TMainForm(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      Player(Document, [this](std::function<void()> call) {
          QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
      })
{
    // Whenever the device closes, the voice and its length are shown again.
    Player.WhenClosed = [this] {
        Comparing = false;
        ShowVoice();
        ShowVoiceLength();
        if (EditorWindow)
            EditorWindow->ShowStatus();
    };
    setFont(FormFont());
    setWindowIcon(ProgramIcon());
    // Where the mask only shapes input, the window paints its own shape on
    // a transparent surface; this must be known before the window exists.
    if (ShapeIsPainted(QGuiApplication::platformName()))
        setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(palette);

    BuildComponents();
    BuildMenu();
    AssignShortcuts();
    DrawButtonArtwork();
    SetAccessibleNames();

    // The client area keeps its designed size; the window is that plus its
    // menu, whatever height the menu bar has on this desktop.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    move(DesignedLeft, DesignedTop);

    SaveFileDialog = {
        TFileDialog::TKind::Save, "Save Voice As File", "Wave Files", "*.wav", "wav", "", true, true, false};
    // Every kind of sound file opens; WAVE files and all files are offered too.
    OpenFileDialog = {
        TFileDialog::TKind::Open, "Open a Voice File", "Sound Files", SoundFilePattern(), "wav", "", false, true, true};
    OpenFileDialog.MoreFilters = {{"Wave Files", "*.wav"}, {"All Files", "*"}};
    ExportFileDialog = {
        TFileDialog::TKind::Save, "Export File As", "Wave Files", "*.wav", "wav", "", true, true, false};

    Timer = new QTimer(this);
    Timer->setInterval(TimerInterval);
    connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
    Timer->start();

    PresetFolder = QCoreApplication::applicationDirPath().toStdString();
    // WAVE files dropped anywhere on the window are opened.
    setAcceptDrops(true);

    // Keys typed anywhere in the window reach FormKeyPress before the control
    // that has the focus.
    qApp->installEventFilter(this);
}

TMainForm::~TMainForm()
{
    qApp->removeEventFilter(this);
    FormDestroy();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BuildComponents()
{
    ClientArea = new QWidget(this);
    ClientArea->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(ClientArea);
    QWidget *client = ClientArea;

    QuombleLabel = new QLabel(client);
    QuombleLabel->setGeometry(0, 0, ClientWidth, 20);
    QuombleLabel->setAlignment(Qt::AlignCenter);
    QuombleLabel->setFont(BoldFont(16));
    SetBackColor(QuombleLabel, QColor(0, 255, 0));

    PlayButton = MakeSawToothButton(client, 12, 50, 86, 52, 2, 0, 1, 0, 12);
    RecordButton = MakeSawToothButton(client, 9, 158, 96, 53, 3, 0, 1, 0, 12);

    VolLED = new TQMBL_VerticalLEDs(client);
    VolLED->setGeometry(19, 100, 71, 34);
    VolLED->SetNumLEDs(8);
    VolLED->SetLEDOnColor(QColor(255, 0, 0));
    VolLED->SetLEDOffColor(QColor(128, 0, 0));
    VolLED->SetColor(Qt::black);

    TimePanel = new QFrame(client);
    TimePanel->setGeometry(9, 143, 95, 20);
    SetBackColor(TimePanel, Qt::black);
    timeDisplay = new QLabel(QStringLiteral(" POS: 00:00:00 "), TimePanel);
    timeDisplay->setFont(BoldFont(11));
    SetTextColor(timeDisplay, QColor(0, 255, 0));
    timeDisplay->setGeometry(0, 0, 95, 20);
    timeDisplay->setAlignment(Qt::AlignCenter);

    RecSourceToggleButton = MakeSawToothButton(client, -8, 197, 68, 41, 0, 0, 0, 0, 10);

    RecSourceLabel = new QLabel(QStringLiteral("Mic"), client);
    RecSourceLabel->setGeometry(50, 207, 79, 20);
    RecSourceLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    RecSourceLabel->setAlignment(Qt::AlignCenter);
    RecSourceLabel->setTextFormat(Qt::PlainText); // the server's name for the input
    RecSourceLabel->setFont(BoldFont(10));
    SetBackColor(RecSourceLabel, Qt::black);
    SetTextColor(RecSourceLabel, QColor(255, 0, 0));
    RecSourceLabel->setToolTip(QStringLiteral("Mic"));

    MicSliderPanel = new TQMBL_EllipticalPanel(client);
    MicSliderPanel->setGeometry(121, 34, 91, 207);
    RecordLabel = MakeLabel(MicSliderPanel, QStringLiteral("Record"), 0, 22, BoldFont(13), QColor(255, 0, 0));
    Label2 = MakeLabel(MicSliderPanel, QStringLiteral("LOUD"), 0, 50, BoldFont(10), QColor(128, 0, 0));
    Label5 = MakeLabel(MicSliderPanel, QStringLiteral("soft"), 0, 184, BoldFont(10), QColor(128, 0, 0));
    MikeSlider =
        MakeVerticalTrackBar(MicSliderPanel, 28, 67, 35, 117, 255, 10, TTickMark::tmTopLeft, TTickStyle::tsNone);

    SpkSliderPanel = new TQMBL_EllipticalPanel(client);
    SpkSliderPanel->setGeometry(425, 34, 91, 207);
    Label11 = MakeLabel(SpkSliderPanel, QStringLiteral("Play"), 0, 22, BoldFont(13), QColor(0, 128, 0));
    Label10 = MakeLabel(SpkSliderPanel, QStringLiteral("LOUD"), 0, 50, BoldFont(10), QColor(0, 128, 0));
    Label3 = MakeLabel(SpkSliderPanel, QStringLiteral("soft"), 0, 184, BoldFont(10), QColor(0, 128, 0));
    SpeakerSlider =
        MakeVerticalTrackBar(SpkSliderPanel, 29, 67, 35, 117, 255, 0, TTickMark::tmBottomRight, TTickStyle::tsNone);
    // The panel labels sit centred across their oval.
    for (QLabel *label : {RecordLabel, Label2, Label5, Label11, Label10, Label3})
        label->move((91 - label->width()) / 2, label->y());

    WaveDisplay = new TQMBL_Wave_Display(client);
    WaveDisplay->setGeometry(215, 55, 206, 165);
    WaveDisplay->SetStartingPosition(0);
    WaveDisplay->SetSamplesPerPixel(40);

    PitchBar = MakeVerticalTrackBar(client, 536, 82, 45, 134, 12, 6, TTickMark::tmBottomRight, TTickStyle::tsAuto);
    // Small enough that "Sulphur Breath" ends inside the window.
    QFont breathFont = FormFont();
    breathFont.setPixelSize(11);
    Label8 = MakeLabel(client, QStringLiteral("Helium Breath"), 520, 63, breathFont, Qt::black);
    Label9 = MakeLabel(client, QStringLiteral("Sulphur Breath"), 520, 216, breathFont, Qt::black);

    // The grey band behind the effect buttons; the buttons, made after it,
    // lie on top.
    Shape1 = new QWidget(client);
    Shape1->setGeometry(16, 247, 579, 85);
    SetBackColor(Shape1, QColor::fromRgb(0x81, 0x81, 0x81));

    for (const TEffectRow &row : EffectRows)
        this->*row.Button = MakeSawToothButton(client, row.Left, row.Top, row.Width, row.Height, row.LeftTeeth,
                                               row.TopTeeth, row.RightTeeth, row.BottomTeeth, row.ToothSize);

    SF1Button = new TQMBL_EllipticalButton(client);
    SF1Button->setGeometry(168, 335, 58, 58);
    SF2Button = new TQMBL_EllipticalButton(client);
    SF2Button->setGeometry(276, 336, 58, 58);
    SF3Button = new TQMBL_EllipticalButton(client);
    SF3Button->setGeometry(383, 336, 58, 58);
    for (TQMBL_EllipticalButton *button : {SF1Button, SF2Button, SF3Button})
        button->SetCaption(QStringLiteral("SF1"));

    connect(PlayButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::PlayButtonClick);
    connect(RecordButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::OldRecordButtonClick);
    connect(RecSourceToggleButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::RecSourceToggleButtonClick);
    connect(MikeSlider, &TQMBL_TrackBar::OnChange, this, &TMainForm::MikeSliderChange);
    connect(SpeakerSlider, &TQMBL_TrackBar::OnChange, this, &TMainForm::SpeakerSliderChange);
    connect(PitchBar, &TQMBL_TrackBar::OnChange, this, &TMainForm::PitchBarChange);
    for (const TEffectRow &row : EffectRows)
        connect(this->*row.Button, &TQMBL_SawToothButton::OnClick, this, row.ButtonClick);
    connect(SF1Button, &TQMBL_EllipticalButton::OnClick, this, &TMainForm::SF1ButtonClick);
    connect(SF2Button, &TQMBL_EllipticalButton::OnClick, this, &TMainForm::SF2ButtonClick);
    connect(SF3Button, &TQMBL_EllipticalButton::OnClick, this, &TMainForm::SF3ButtonClick);
}

void TMainForm::BuildMenu()
{
    MainMenu1 = new QMenuBar(this);
    setMenuBar(MainMenu1);

    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    New1 = File1->addAction(QStringLiteral("&New"));
    Open1 = File1->addAction(QStringLiteral("&Open..."));
    Save1 = File1->addAction(QStringLiteral("&Save"));
    SaveAs1 = File1->addAction(QStringLiteral("Save &As..."));
    Export1 = File1->addMenu(QStringLiteral("&Export"));
    ExportToWaveFormat1 = Export1->addAction(QStringLiteral("to WAVE File..."));
    ExportToRealAudioFormat1 = Export1->addAction(QStringLiteral("to RealAudio File..."));
    ExportToMP3File = Export1->addAction(QStringLiteral("to MP3 File..."));
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("E&xit"));
    Save1->setEnabled(false);
    SaveAs1->setEnabled(false);
    Export1->menuAction()->setEnabled(false);

    BuildEditMenu();

    Options1 = MainMenu1->addMenu(QStringLiteral("&Options"));
    for (const TEffectRow &row : EffectRows)
        this->*row.Item = Options1->addAction(QString::fromLatin1(row.MenuText));
    for (QAction *item : Options1->actions())
        item->setCheckable(true);
    Options1->addSeparator();
    Loop1 = Options1->addAction(QStringLiteral("Loop"));
    Loop1->setCheckable(true);
    LiveVoice1 = Options1->addAction(QStringLiteral("&Live Voice"));
    LiveVoice1->setCheckable(true);
    Preferences1 = Options1->addAction(QStringLiteral("&Preferences..."));

    Help1 = MainMenu1->addMenu(QStringLiteral("&Help"));
    HelpTopics1 = Help1->addAction(QStringLiteral("Help &Topics"));
    HowToUseHelp1 = Help1->addAction(QStringLiteral("How To Use &Help"));
    Help1->addSeparator();
    About1 = Help1->addAction(QStringLiteral("&About"));

    ConnectMenuClick(New1, this, &TMainForm::New1Click);
    ConnectMenuClick(Open1, this, &TMainForm::Open1Click);
    ConnectMenuClick(Save1, this, &TMainForm::Save1Click);
    ConnectMenuClick(SaveAs1, this, &TMainForm::SaveAs1Click);
    ConnectMenuClick(ExportToWaveFormat1, this, &TMainForm::ExportToWaveFormat1Click);
    ConnectMenuClick(ExportToRealAudioFormat1, this, &TMainForm::ExportToRealAudioFormat1Click);
    ConnectMenuClick(ExportToMP3File, this, &TMainForm::ExportToMP3FileClick);
    ConnectMenuClick(Exit1, this, &TMainForm::Exit1Click);
    for (const TEffectRow &row : EffectRows)
        ConnectMenuClick(this->*row.Item, this, row.ItemClick);
    ConnectMenuClick(Loop1, this, &TMainForm::Loop1Click);
    ConnectMenuClick(LiveVoice1, this, &TMainForm::LiveVoice1Click);
    ConnectMenuClick(Preferences1, this, &TMainForm::Preferences1Click);
    ConnectMenuClick(HelpTopics1, this, &TMainForm::HelpTopics1Click);
    ConnectMenuClick(HowToUseHelp1, this, &TMainForm::HowToUseHelp1Click);
    ConnectMenuClick(About1, this, &TMainForm::About1Click);
}

void TMainForm::DrawButtonArtwork()
{
    struct Art {
        TQMBL_SawToothButton *Button;
        const char *Text;
        QColor Ink;
        TLettering Lettering;
    };
    const Art controls[] = {
        {PlayButton, "Play", QColor(0, 170, 0), TLettering::Across},
        {RecordButton, "Record", QColor(220, 0, 0), TLettering::Across},
        {RecSourceToggleButton, "Input", QColor(230, 160, 0), TLettering::Across},
    };
    std::vector<Art> pictures(std::begin(controls), std::end(controls));
    for (const TEffectRow &row : EffectRows)
        pictures.push_back({this->*row.Button, row.Caption, QColor::fromRgb(row.Ink), row.Lettering});
    for (const Art &art : pictures) {
        // The picture fills the plate inside the teeth, less a pixel all round.
        const int inset = 2 * art.Button->ToothSize() + 2;
        const QSize size(art.Button->width() - inset, art.Button->height() - inset);
        const TButtonPictures images = LabelPictures(QString::fromUtf8(art.Text), size, art.Ink, art.Lettering);
        art.Button->SetUpImage(images.Up);
        art.Button->SetDownImage(images.Down);
    }

    const char *presets[] = {"SF1", "SF2", "SF3"};
    TQMBL_EllipticalButton *presetButtons[] = {SF1Button, SF2Button, SF3Button};
    for (int i = 0; i < 3; ++i) {
        const TButtonPictures images =
            LabelPictures(QString::fromLatin1(presets[i]), QSize(38, 18), QColor(0, 0, 160), TLettering::Across);
        presetButtons[i]->SetUpImage(images.Up);
        presetButtons[i]->SetDownImage(images.Down);
    }
}

// ---------------------------------------------------------------------------
// Start-up and shut-down

void TMainForm::FormCreate()
{
    // The about box doubles as the splash.
    AboutBox = new TAboutBox(this);
    connect(AboutBox, &TAboutBox::HelpPageWanted, this, &TMainForm::ShowHelpPage);
    AboutBox->ShowAsSplash();

    StartingUp = true;
    InitMixer();
    Document.VoiceFileName.clear();
    UpdateTitle();
    Document.Modified = false;
    VolLED->SetProgress(0);
    // The playback choices kept with the preferences.
    const TStartupPreferences preferences = TStartup::StoredPreferences();
    Player.LoopPlayback = preferences.Loop;
    Loop1->setChecked(Player.LoopPlayback);
    HearChangesWhilePlaying = preferences.HearChanges;

    if (StartingUp) {
        AboutBox->EndSplash();
        StartingUp = false;
    }
    QuombleLabel->setText(QStringLiteral("Tamblor Quomble"));
}

void TMainForm::FormShow()
{
    setMask(MainWindowShape(width(), height()));
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    FormShow();
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (isVisible())
        FormShow();
}

void TMainForm::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    QPainter painter(this);
    PaintWindowFace(painter, *this, testAttribute(Qt::WA_TranslucentBackground));
}

void TMainForm::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    // The program ends with its window: so do Live Voice and the virtual
    // microphone it offered.
    std::string ignored;
    Live.Stop(ignored);
    platform::TVirtualMicrophone::Withdraw();
    Player.StopLiveRun();
    CloseMixer();
    // A device still playing (the window closed by its close box) is closed
    // here; a recording still running is stopped and not loaded, and nobody
    // will read its file any more.
    Player.Shutdown();
    Recorder.Abandon();
    Document.DropSamples();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Closing the main window ends the program, unless it would lose a
    // recording the user wants to keep.
    if (!std::exchange(closeAnswered, false) && !VoiceMayGo()) {
        event->ignore();
        return;
    }
    event->accept();
    if (Live.Running())
        StopLiveVoice();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Timer, keyboard, menus

void TMainForm::TimerTimer()
{
    // 1. Recording stopped with the Record button, or a refused stop tried again.
    RecordTickStop();
    // 2. Recording level and elapsed time, or, when not recording, releasing
    //    a Record button left down (a click on Record while playing).
    if (Recorder.Recording)
        RecordTickProgress();
    else if (RecordButton->Down())
        RecordButton->SetDown(false);
    // 3. Playback stop, progress and end, or releasing a Play button left down.
    if (Player.Playing)
        PlayTickProgress();
    else
        PlayTickIdle();

    // 4. The momentary buttons spring back within one tick of a click.
    for (TQMBL_EllipticalButton *button : {SF1Button, SF2Button, SF3Button})
        if (button->Down())
            button->SetDown(false);
    if (RecSourceToggleButton->Down())
        RecSourceToggleButton->SetDown(false);

    // Live Voice: a fault, the input level and what is sent.
    if (Live.Running())
        LiveTick();

    // 5. The buttons and the Options check marks show the selection.
    ShowEffects();
    UpdateEditMenus();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    // A key travels from the focused control up through its parents; it is
    // looked at once, where it first arrives.
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : widget->window();
        if (widget == target && widget->window() == this) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // D held compares with the voice without effects; the keyboard's
            // repeats change nothing, and a release ends it whatever else
            // is held.
            if (key->key() == Qt::Key_D && !key->isAutoRepeat() &&
                (!press || (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier))
                CompareKey(press);
            const QString text = key->text();
            if (press && text.size() == 1 && text.at(0).unicode() < 128)
                FormKeyPress(static_cast<char>(text.at(0).unicode()));
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormKeyPress(char key)
{
    // The space bar clicks Play: a press and a release at the button's corner,
    // posted so that the button handles them as it would the mouse's.
    if (key != ' ')
        return;
    const QPointF corner(0, 0);
    const QPointF global = PlayButton->mapToGlobal(corner);
    QCoreApplication::postEvent(PlayButton, new QMouseEvent(QEvent::MouseButtonPress, corner, global, Qt::LeftButton,
                                                            Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(PlayButton, new QMouseEvent(QEvent::MouseButtonRelease, corner, global, Qt::LeftButton,
                                                            Qt::NoButton, Qt::NoModifier));
}

bool TMainForm::event(QEvent *event)
{
    if (event->type() == TMixerControlChangeEvent::EventType) {
        MixerControlChange(static_cast<TMixerControlChangeEvent *>(event)->ControlId);
        return true;
    }
    // A D let go in another window never arrives here.
    if (event->type() == QEvent::WindowDeactivate)
        CompareKey(false);
    return QMainWindow::event(event);
}

void TMainForm::Exit1Click()
{
    if (!VoiceMayGo())
        return;
    // A playing device goes silent at once; the window's end releases the rest.
    Player.Silence();
    closeAnswered = true;
    close();
}

void TMainForm::About1Click()
{
    if (!StartingUp)
        AboutBox->exec();
}

// The help window is made the first time help is asked for.
void TMainForm::HelpTopics1Click()
{
    ShowHelpPage(QUrl(QString::fromLatin1(HelpContentsPage)));
}

void TMainForm::HowToUseHelp1Click()
{
    ShowHelpPage(QUrl(QString::fromLatin1(HelpOnHelpPage)));
}

void TMainForm::ShowHelpPage(const QUrl &page)
{
    if (!HelpWindow)
        HelpWindow = new THelpWindow(this);
    HelpWindow->ShowPage(page);
}

// ---------------------------------------------------------------------------
// Shared voice operations

bool TMainForm::IsBusy()
{
    if (Recorder.Recording) {
        Messages().ShowMessage("Please Wait until recording is over");
        return true;
    }
    if (Player.Playing) {
        Messages().ShowMessage("Please Wait until playback is over");
        return true;
    }
    return LiveBusy();
}

void TMainForm::ShowVoice()
{
    WaveDisplay->SetSampleData(Document.VoiceData.get(), Document.VoiceBytes);
    WaveDisplay->SetStartingPosition(0);
    // The editor reads the same samples: it must never be left with a
    // voice that is gone.
    if (EditorWindow)
        EditorWindow->ShowDocument();
}

void TMainForm::ClearVoice()
{
    Document.Clear();
    timeDisplay->setText(QStringLiteral(" POS: 00:00:00 "));
    UpdateTitle();
    ShowVoice();
    UpdateFileMenus();
}

void TMainForm::UpdateTitle()
{
    if (Document.VoiceFileName.empty())
        setWindowTitle(QStringLiteral("Glimmerbox - New File"));
    else
        setWindowTitle(QStringLiteral("Glimmerbox - ") +
                       QFileInfo(QFile::decodeName(QByteArray::fromStdString(Document.VoiceFileName))).fileName());
}
