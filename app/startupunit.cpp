// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startupunit.h"

#include "audio/soundfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

TStartup *Startup = nullptr;

namespace {

const char *const PlaySoundKey = "Startup/PlaySound";
const char *const FileNameKey = "Startup/FileName";
const char *const HearChangesKey = "Playback/HearChanges";
const char *const LoopKey = "Playback/Loop";
const char *const EditorSizeKey = "Editor/Size";
const char *const LiveOutputKey = "Live/Output";
const char *const HeadphonesWarnedKey = "Live/HeadphonesWarned";

const char *const Organisation = "Tamblor";
const char *const Application = "Glimmerbox";

} // namespace

TStartup::TStartup(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Preferences"));
    setFixedSize(ClientWidth, ClientHeight);

    PlaySoundAtStartup = new QCheckBox(QStringLiteral("Play Sound at Startup"), this);
    PlaySoundAtStartup->setGeometry(16, 12, 220, 22);
    Label1 = new QLabel(QStringLiteral("Startup File Name"), this);
    Label1->setGeometry(16, 44, 220, 16);
    // Empty: no start-up file.
    FileName = new QLineEdit(this);
    FileName->setGeometry(16, 62, 240, 24);
    BrowseButton = new QPushButton(QStringLiteral("&Browse"), this);
    BrowseButton->setGeometry(264, 62, 75, 24);
    HearEffectChanges = new QCheckBox(QStringLiteral("Hear effect changes while playing"), this);
    HearEffectChanges->setGeometry(16, 94, 320, 22);
    HearEffectChanges->setChecked(true);
    LiveOutputLabel = new QLabel(QStringLiteral("&Live Voice plays into"), this);
    LiveOutputLabel->setGeometry(16, 124, 140, 22);
    LiveOutput = new QComboBox(this);
    LiveOutput->addItems({QStringLiteral("the virtual microphone"), QStringLiteral("the speakers or headphones"),
                          QStringLiteral("both")});
    LiveOutput->setGeometry(160, 122, 179, 24);
    LiveOutputLabel->setBuddy(LiveOutput);
    okButton = new QPushButton(QStringLiteral("&Ok"), this);
    okButton->setGeometry(184, 152, 75, 25);
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton->setGeometry(264, 152, 75, 25);
    BrowseButton->setAutoDefault(false);
    cancelButton->setAutoDefault(false);

    BrowseFileDialog = {TFileDialog::TKind::Open,
                        "Browse",
                        "Sound Files",
                        SoundFilePattern(),
                        "wav",
                        "",
                        false,
                        true,
                        true,
                        {{"Wave Files", "*.wav"}, {"All Files", "*"}}};

    connect(BrowseButton, &QPushButton::clicked, this, &TStartup::BrowseButtonClick);
    connect(okButton, &QPushButton::clicked, this, &TStartup::okButtonClick);
    connect(cancelButton, &QPushButton::clicked, this, &TStartup::cancelButtonClick);
}

TStartup::~TStartup()
{
    if (Startup == this)
        Startup = nullptr;
}

void TStartup::BrowseButtonClick()
{
    if (BrowseFileDialog.Execute(this) && !BrowseFileDialog.FileName.empty())
        FileName->setText(QString::fromStdString(BrowseFileDialog.FileName));
}

void TStartup::okButtonClick()
{
    // An empty name means no start-up file.
    if (FileName->text().trimmed().isEmpty()) {
        FileName->clear();
        accept();
        return;
    }
    const QFileInfo file(FileName->text());
    // A folder or a name that leads nowhere fails here.
    if (file.isFile()) {
        // Kept absolute, so that it still names the file when the program
        // starts in another folder.
        FileName->setText(QDir::cleanPath(file.absoluteFilePath()));
        accept();
        return;
    }
    Messages().ShowMessage("File : " + FileName->text().toStdString() + " : does not exist!", "File Name Error");
}

void TStartup::cancelButtonClick()
{
    reject();
}

void TStartup::LoadPreferences()
{
    const TStartupPreferences stored = StoredPreferences();
    PlaySoundAtStartup->setChecked(stored.PlaySound);
    HearEffectChanges->setChecked(stored.HearChanges);
    LiveOutput->setCurrentIndex(static_cast<int>(stored.LiveOutput));
    FileName->setText(QString::fromStdString(stored.FileName));
}

void TStartup::SavePreferences() const
{
    QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    settings.setValue(QLatin1String(PlaySoundKey), PlaySoundAtStartup->isChecked());
    settings.setValue(QLatin1String(FileNameKey), FileName->text());
    settings.setValue(QLatin1String(HearChangesKey), HearEffectChanges->isChecked());
    settings.setValue(QLatin1String(LiveOutputKey), LiveOutput->currentIndex());
    settings.sync();
}

TStartupPreferences TStartup::StoredPreferences()
{
    const QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    TStartupPreferences stored;
    stored.FileName = settings.value(QLatin1String(FileNameKey)).toString().toStdString();
    stored.PlaySound = settings.value(QLatin1String(PlaySoundKey), false).toBool();
    stored.HearChanges = settings.value(QLatin1String(HearChangesKey), true).toBool();
    stored.Loop = settings.value(QLatin1String(LoopKey), false).toBool();
    const int output = settings.value(QLatin1String(LiveOutputKey), 0).toInt();
    stored.LiveOutput = output >= 0 && output <= 2 ? static_cast<TLiveOutput>(output) : TLiveOutput::VirtualMic;
    stored.HeadphonesWarned = settings.value(QLatin1String(HeadphonesWarnedKey), false).toBool();
    return stored;
}

void TStartup::ForgetStartupFile()
{
    QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    settings.setValue(QLatin1String(FileNameKey), QString());
    settings.sync();
}

void TStartup::StoreLoop(bool loop)
{
    QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    settings.setValue(QLatin1String(LoopKey), loop);
    settings.sync();
}

QSize TStartup::StoredEditorSize()
{
    const QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    return settings.value(QLatin1String(EditorSizeKey)).toSize();
}

void TStartup::StoreEditorSize(QSize size)
{
    QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    settings.setValue(QLatin1String(EditorSizeKey), size);
    settings.sync();
}

void TStartup::StoreHeadphonesWarned()
{
    QSettings settings{QString::fromLatin1(Organisation), QString::fromLatin1(Application)};
    settings.setValue(QLatin1String(HeadphonesWarnedKey), true);
    settings.sync();
}
