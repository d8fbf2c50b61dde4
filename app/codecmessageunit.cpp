// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/codecmessageunit.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

TCodecMessageForm *CodecMessageForm = nullptr;

namespace {

QLabel *Label(QWidget *parent, const char *text, QRect geometry, bool wrap = false)
{
    auto *label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(geometry);
    label->setWordWrap(wrap);
    return label;
}

} // namespace

TCodecMessageForm::TCodecMessageForm(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Tamblor Quomble"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(512, 171);

    BaseBevel = new QFrame(this);
    BaseBevel->setFrameShape(QFrame::Box);
    BaseBevel->setFrameShadow(QFrame::Sunken);
    BaseBevel->setGeometry(8, 8, 496, 122);

    MessageLabel = Label(this,
                         "You have a version of the Fraunhofer MP3 converter installed on your computer that will "
                         "only convert from MP3 to wave, not from wave to MP3.  There are two ways to correct this "
                         "problem.",
                         QRect(16, 12, 480, 42), true);
    Message1Label1 = Label(this, "1. Go to", QRect(16, 58, 48, 16));
    WMP7WebLabel = Label(this, EncoderPageAddress, QRect(66, 58, 200, 16));
    QFont linkFont = WMP7WebLabel->font();
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    WMP7WebLabel->setFont(linkFont);
    WMP7WebLabel->setStyleSheet(QStringLiteral("color: blue"));
    WMP7WebLabel->setCursor(Qt::PointingHandCursor);
    // A click on the address opens it; the label has no click signal of its own.
    WMP7WebLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    WMP7WebLabel->installEventFilter(this);
    Message1Label2 = Label(this, "Follow the links to download and", QRect(270, 58, 226, 16));
    Message1Label3 = Label(this, "install the Lame encoder.", QRect(30, 74, 466, 16));
    Message2Label = Label(this,
                          "2. Find the file l3codecx.acm in your Windows\\System folder.  Rename this file, then "
                          "re-install Windows Media Player 7.",
                          QRect(16, 92, 480, 34), true);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(216, 138, 80, 25);
    connect(Button1, &QPushButton::clicked, this, &TCodecMessageForm::Button1Click);
}

bool TCodecMessageForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == WMP7WebLabel && event->type() == QEvent::MouseButtonRelease) {
        WMP7WebLabelClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TCodecMessageForm::WMP7WebLabelClick()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(EncoderPageAddress)));
}

void TCodecMessageForm::Button1Click()
{
    close();
}
