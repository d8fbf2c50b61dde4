#include "app/mfunit.h"

#include "app/aboutunit.h"
#include "app/artwork.h"
#include "app/helpunit.h"
#include "app/startupunit.h"
#include "audio/soundfile.h"
#include "controls/qmblepnl.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmbltbar.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"
#include "platform/sqwaveplayer.h"
#include "platform/waveout.h"

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

QFont FormFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(12);
    return font;
}

QFont BoldFont(int pixelSize)
{
    QFont font = FormFont();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

void SetTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void SetBackColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int left, int top, const QFont &font, const QColor &color)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    SetTextColor(label, color);
    label->move(left, top);
    label->adjustSize();
    return label;
}

TQMBL_SawToothButton *MakeSawToothButton(QWidget *parent, int left, int top, int width, int height, int leftTeeth,
                                         int topTeeth, int rightTeeth, int bottomTeeth, int toothSize)
{
    auto *button = new TQMBL_SawToothButton(parent);
    button->SetLeftTeeth(leftTeeth);
    button->SetTopTeeth(topTeeth);
    button->SetRightTeeth(rightTeeth);
    button->SetBottomTeeth(bottomTeeth);
    button->SetToothSize(toothSize);
    button->setGeometry(left, top, width, height);
    return button;
}

TQMBL_TrackBar *MakeVerticalTrackBar(QWidget *parent, int left, int top, int width, int height, int max, int position,
                                     TTickMark marks, TTickStyle style)
{
    auto *bar = new TQMBL_TrackBar(parent);
    bar->SetOrientation(TTrackBarOrientation::trVertical);
    bar->SetMin(0);
    bar->SetMax(max);
    bar->SetPosition(position);
    bar->SetFrequency(1);
    bar->SetTickMarks(marks);
    bar->SetTickStyle(style);
    bar->setGeometry(left, top, width, height);
    return bar;
}

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
                              Qt::MSWindowsFixedSizeDialogHint)
{
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
    OpenFileDialog = {TFileDialog::TKind::Open,
                      "Open a Voice File",
                      "Sound Files",
                      SoundFilePattern(),
                      "wav",
                      "",
                      false,
                      true,
                      true,
                      {{"Wave Files", "*.wav"}, {"All Files", "*"}}};
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

    EchoButton = MakeSawToothButton(client, 22, 234, 132, 61, 0, 0, 0, 3, 12);
    ChorusButton = MakeSawToothButton(client, 130, 234, 132, 61, 0, 0, 0, 3, 12);
    FlangeButton = MakeSawToothButton(client, 238, 234, 132, 61, 0, 0, 0, 3, 12);
    FadeInButton = MakeSawToothButton(client, 346, 234, 132, 61, 0, 0, 0, 3, 12);
    fadeOutButton = MakeSawToothButton(client, 454, 234, 132, 61, 0, 0, 0, 3, 12);
    BassOnlyButton = MakeSawToothButton(client, 22, 282, 96, 60, 0, -2, 0, 0, 12);
    RobotvoiceButton = MakeSawToothButton(client, 94, 282, 132, 60, 0, -3, 0, 0, 12);
    BackwardButton = MakeSawToothButton(client, 202, 282, 132, 60, 0, -3, 0, 0, 12);
    SlowMonstButton = MakeSawToothButton(client, 310, 282, 96, 60, 0, -2, 0, 0, 12);
    FastSqueakButton = MakeSawToothButton(client, 382, 282, 132, 60, 0, -3, 0, 0, 12);
    TrebleOnlyButton = MakeSawToothButton(client, 490, 282, 96, 60, 0, -2, 0, 0, 12);
    SweepUpButton = MakeSawToothButton(client, 5, 236, 39, 104, 0, 0, 0, 0, 10);
    SweepDownButton = MakeSawToothButton(client, 564, 236, 39, 104, 0, 0, 0, 0, 10);

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
    connect(EchoButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::EchoButtonClick);
    connect(ChorusButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::ChorusButtonClick);
    connect(FlangeButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::FlangeButtonClick);
    connect(FadeInButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::FadeInButtonClick);
    connect(fadeOutButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::fadeOutButtonClick);
    connect(BassOnlyButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::BassOnlyButtonClick);
    connect(RobotvoiceButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::RobotvoiceButtonClick);
    connect(BackwardButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::BackwardButtonClick);
    connect(SlowMonstButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::SlowMonstButtonClick);
    connect(FastSqueakButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::FastSqueakButtonClick);
    connect(TrebleOnlyButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::TrebleOnlyButtonClick);
    connect(SweepUpButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::SweepUpButtonClick);
    connect(SweepDownButton, &TQMBL_SawToothButton::OnClick, this, &TMainForm::SweepDownButtonClick);
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

    Options1 = MainMenu1->addMenu(QStringLiteral("&Options"));
    Echo1 = Options1->addAction(QStringLiteral("&Echo"));
    Chorus1 = Options1->addAction(QStringLiteral("&Chorus"));
    Flange1 = Options1->addAction(QStringLiteral("&Flange"));
    FadeIn1 = Options1->addAction(QStringLiteral("Fade &In"));
    FadeOut1 = Options1->addAction(QStringLiteral("Fade &Out"));
    BassOnly1 = Options1->addAction(QStringLiteral("&Bass Only"));
    Robotvoice1 = Options1->addAction(QStringLiteral("&Robotvoice"));
    Backward1 = Options1->addAction(QStringLiteral("Back&ward"));
    SlowMonster1 = Options1->addAction(QStringLiteral("Slow &Monster"));
    FastSqeaker1 = Options1->addAction(QStringLiteral("Fast S&queaker"));
    TrebleOnly1 = Options1->addAction(QStringLiteral("&Treble Only"));
    SweepUp1 = Options1->addAction(QStringLiteral("Sweep &Up"));
    SweepDown1 = Options1->addAction(QStringLiteral("Sweep &Down"));
    for (QAction *item : Options1->actions())
        item->setCheckable(true);
    Options1->addSeparator();
    Loop1 = Options1->addAction(QStringLiteral("Loop"));
    Loop1->setCheckable(true);
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
    ConnectMenuClick(Echo1, this, &TMainForm::Echo1Click);
    ConnectMenuClick(Chorus1, this, &TMainForm::Chorus1Click);
    ConnectMenuClick(Flange1, this, &TMainForm::Flange1Click);
    ConnectMenuClick(FadeIn1, this, &TMainForm::FadeIn1Click);
    ConnectMenuClick(FadeOut1, this, &TMainForm::FadeOut1Click);
    ConnectMenuClick(BassOnly1, this, &TMainForm::BassOnly1Click);
    ConnectMenuClick(Robotvoice1, this, &TMainForm::Robotvoice1Click);
    ConnectMenuClick(Backward1, this, &TMainForm::Backward1Click);
    ConnectMenuClick(SlowMonster1, this, &TMainForm::SlowMonster1Click);
    ConnectMenuClick(FastSqeaker1, this, &TMainForm::FastSqeaker1Click);
    ConnectMenuClick(TrebleOnly1, this, &TMainForm::TrebleOnly1Click);
    ConnectMenuClick(SweepUp1, this, &TMainForm::SweepUp1Click);
    ConnectMenuClick(SweepDown1, this, &TMainForm::SweepDown1Click);
    ConnectMenuClick(Loop1, this, &TMainForm::Loop1Click);
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
    const Art pictures[] = {
        {PlayButton, "Play", QColor(0, 170, 0), TLettering::Across},
        {RecordButton, "Record", QColor(220, 0, 0), TLettering::Across},
        {RecSourceToggleButton, "Input", QColor(230, 160, 0), TLettering::Across},
        {EchoButton, "Echo", QColor(255, 120, 0), TLettering::Across},
        {ChorusButton, "Chorus", QColor(0, 150, 230), TLettering::Across},
        {FlangeButton, "Flange", QColor(200, 0, 200), TLettering::Across},
        {FadeInButton, "Fade In", QColor(0, 170, 90), TLettering::Across},
        {fadeOutButton, "Fade Out", QColor(0, 130, 140), TLettering::Across},
        {BassOnlyButton, "Bass\nOnly", QColor(170, 60, 0), TLettering::Across},
        {RobotvoiceButton, "Robot Voice", QColor(70, 100, 170), TLettering::Across},
        {BackwardButton, "Backward", QColor(130, 40, 200), TLettering::Across},
        {SlowMonstButton, "Slow\nMonster", QColor(40, 130, 0), TLettering::Across},
        {FastSqueakButton, "Fast\nSqueaker", QColor(240, 40, 140), TLettering::Across},
        {TrebleOnlyButton, "Treble\nOnly", QColor(210, 170, 0), TLettering::Across},
        {SweepUpButton, "Sweep Up", QColor(230, 30, 30), TLettering::Rising},
        {SweepDownButton, "Sweep Down", QColor(30, 60, 230), TLettering::Falling},
    };
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
    // The about box doubles as the splash: no OK button, its row cut off.
    AboutBox = new TAboutBox(this);
    connect(AboutBox, &TAboutBox::HelpPageWanted, this, &TMainForm::ShowHelpPage);
    AboutBox->OKButton->hide();
    AboutBox->setFixedHeight(AboutBox->OKButton->y());
    AboutBox->show();
    AboutBox->repaint();

    StartingUp = true;
    InitMixer();
    PlayFinished = true;
    VoiceFileName.clear();
    UpdateTitle();
    Modified = false;
    Recording = false;
    Playing = false;
    VoiceBytes = 0;
    WorkBytes = 0;
    WorkAltered = false;
    VolLED->SetProgress(0);
    // The playback choices kept with the preferences.
    const TStartupPreferences preferences = TStartup::StoredPreferences();
    LoopPlayback = preferences.Loop;
    Loop1->setChecked(LoopPlayback);
    HearChangesWhilePlaying = preferences.HearChanges;

    if (StartingUp) {
        AboutBox->hide();
        AboutBox->OKButton->show();
        AboutBox->setFixedHeight(AboutBox->OKButton->y() + AboutBox->OKButton->height() + 12);
        StartingUp = false;
    }
    QuombleLabel->setText(QStringLiteral("Tamblor Quomble"));
}

QRegion TMainForm::WindowShape(int width, int height)
{
    // A rectangle one pixel larger than the window, its corners rounded on
    // 150 x 150 ellipses, joined with a rectangle that squares off the top
    // corners again.
    const int right = width + 1;
    const int bottom = height + 1;
    QRegion rounded(0, 75, right, bottom - 150);
    rounded += QRegion(75, 0, right - 150, bottom);
    rounded += QRegion(QRect(0, 0, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(right - 150, 0, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(0, bottom - 150, 150, 150), QRegion::Ellipse);
    rounded += QRegion(QRect(right - 150, bottom - 150, 150, 150), QRegion::Ellipse);
    return rounded.united(QRegion(0, 0, right, height - 150));
}

bool TMainForm::ShapeIsPainted(const QString &platformName)
{
    return platformName.startsWith(QStringLiteral("wayland"));
}

void TMainForm::FormShow()
{
    setMask(WindowShape(width(), height()));
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

    const int w = width();
    const int h = height();
    QPainter painter(this);
    // On a transparent surface the window's face is painted inside its
    // shape only; outside it, what lies behind the window shows.
    if (testAttribute(Qt::WA_TranslucentBackground)) {
        painter.setClipRegion(WindowShape(w, h));
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setClipping(false);
    }
    // A bevel along the two rounded corners: grey and black outside on the
    // right, white and light grey inside on the left. Arcs are given by their
    // bounding box and run counter-clockwise between two directions.
    auto arc = [&painter](QRgb color, int left, int top, int right, int bottom, int fromDegrees, int spanDegrees) {
        painter.setPen(QPen(QColor::fromRgb(color), 2));
        painter.drawArc(QRectF(left, top, right - left - 1, bottom - top - 1), fromDegrees * 16, spanDegrees * 16);
    };
    arc(0x808080, w - 150, h - 150, w, h, 270, 90);
    arc(0x808080, 0, h - 150, 150, h, 225, 45);
    arc(0x000000, w - 149, h - 149, w + 1, h + 1, 270, 90);
    arc(0x000000, -1, h - 149, 149, h + 1, 225, 45);
    arc(0xFFFFFF, 1, h - 150, 151, h, 180, 45);
    arc(0xC0C0C0, 0, h - 150, 150, h, 180, 45);
}

void TMainForm::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    StopLiveRun();
    CloseMixer();
    // A device still playing (the window closed by its close box) is closed
    // here: it must not report to a window that is gone.
    if (WaveOut) {
        waveOutReset(WaveOut);
        ReleaseWaveHeaders();
        waveOutClose(WaveOut);
        WaveOut = nullptr;
        Playing = false;
    }
    // A recording still running is stopped and not loaded; nobody will
    // read its file any more.
    if (Recording) {
        AudioStopRecord();
        Recording = false;
        DeleteRecordFile();
    }
    VoiceData.reset();
    WorkData.reset();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Closing the main window ends the program, unless it would lose a
    // recording the user wants to keep.
    if (!std::exchange(closeAnswered, false) && !RecordingMayGo()) {
        event->ignore();
        return;
    }
    event->accept();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Timer, keyboard, menus

void TMainForm::TimerTimer()
{
    // 1. Playback stopped with the Play button.
    PlayTickStop();
    // 2. Recording stopped with the Record button, or a refused stop tried again.
    RecordTickStop();
    // 3. Recording level and elapsed time, or, when not recording, releasing
    //    a Record button left down (a click on Record while playing).
    if (Recording)
        RecordTickProgress();
    else if (RecordButton->Down())
        RecordButton->SetDown(false);
    // 4. Playback progress and end, or releasing a Play button left down.
    if (Playing)
        PlayTickProgress();
    else
        PlayTickIdle();

    // 5. The momentary buttons spring back within one tick of a click.
    for (TQMBL_EllipticalButton *button : {SF1Button, SF2Button, SF3Button})
        if (button->Down())
            button->SetDown(false);
    if (RecSourceToggleButton->Down())
        RecSourceToggleButton->SetDown(false);

    // 6. The Options check marks follow the effect buttons.
    Echo1->setChecked(EchoButton->Down());
    Chorus1->setChecked(ChorusButton->Down());
    Robotvoice1->setChecked(RobotvoiceButton->Down());
    Backward1->setChecked(BackwardButton->Down());
    Flange1->setChecked(FlangeButton->Down());
    FadeIn1->setChecked(FadeInButton->Down());
    FadeOut1->setChecked(fadeOutButton->Down());
    BassOnly1->setChecked(BassOnlyButton->Down());
    TrebleOnly1->setChecked(TrebleOnlyButton->Down());
    SweepUp1->setChecked(SweepUpButton->Down());
    SweepDown1->setChecked(SweepDownButton->Down());
    SlowMonster1->setChecked(SlowMonstButton->Down());
    FastSqeaker1->setChecked(FastSqueakButton->Down());
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    // A key travels from the focused control up through its parents; it is
    // looked at once, where it first arrives.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : widget->window();
        if (widget == target && widget->window() == this) {
            const QString text = static_cast<QKeyEvent *>(event)->text();
            if (text.size() == 1 && text.at(0).unicode() < 128)
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
    if (event->type() == TWaveOutDoneEvent::EventType) {
        const auto *done = static_cast<TWaveOutDoneEvent *>(event);
        WaveOutDone(done->Device, done->Header);
        return true;
    }
    if (event->type() == TMixerControlChangeEvent::EventType) {
        MixerControlChange(static_cast<TMixerControlChangeEvent *>(event)->ControlId);
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::Exit1Click()
{
    if (!RecordingMayGo())
        return;
    // A playing device goes silent at once; the window's end releases the rest.
    if (Playing)
        waveOutReset(WaveOut);
    closeAnswered = true;
    close();
}

void TMainForm::About1Click()
{
    if (!StartingUp)
        AboutBox->exec();
}

void TMainForm::HelpTopics1Click()
{
    if (!HelpWindow)
        HelpWindow = new THelpWindow(this);
    HelpWindow->ShowContents();
}

void TMainForm::HowToUseHelp1Click()
{
    if (!HelpWindow)
        HelpWindow = new THelpWindow(this);
    HelpWindow->ShowHelpOnHelp();
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
    if (Recording) {
        Messages().ShowMessage("Please Wait until recording is over");
        return true;
    }
    if (Playing) {
        Messages().ShowMessage("Please Wait until playback is over");
        return true;
    }
    return false;
}

void TMainForm::ShowVoice()
{
    WaveDisplay->SetSampleData(VoiceData.get(), VoiceBytes);
    WaveDisplay->SetStartingPosition(0);
}

void TMainForm::ClearVoice()
{
    // The sizes go with the buffers they describe, so nothing can later
    // reach into a buffer that is gone.
    VoiceData.reset();
    WorkData.reset();
    WorkCapacity = 0;
    WorkBytes = 0;
    timeDisplay->setText(QStringLiteral(" POS: 00:00:00 "));
    VoiceBytes = 0;
    Modified = false;
    VoiceFileName.clear();
    SaveNeedsName = false;
    UpdateTitle();
    ShowVoice();
    UpdateFileMenus();
}

void TMainForm::UpdateTitle()
{
    if (VoiceFileName.empty())
        setWindowTitle(QStringLiteral("Glimmerbox - New File"));
    else
        setWindowTitle(QStringLiteral("Glimmerbox - ") +
                       QFileInfo(QFile::decodeName(QByteArray::fromStdString(VoiceFileName))).fileName());
}
