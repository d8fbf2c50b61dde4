// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/aboutunit.h"

#include "app/artwork.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#ifndef GLIMMER_VERSION
#define GLIMMER_VERSION ""
#endif
#ifndef GLIMMER_HOME_PAGE
#define GLIMMER_HOME_PAGE ""
#endif

TAboutBox *AboutBox = nullptr;

std::string FileVersionFrom(const char *embedded)
{
    if (embedded == nullptr || *embedded == '\0')
        return NoVersionInformation;
    return embedded;
}

std::string GetFileVersionString()
{
    return FileVersionFrom(GLIMMER_VERSION);
}

QUrl WebSiteAddressFrom(const char *configured)
{
    const QString address = QString::fromUtf8(configured == nullptr ? "" : configured).trimmed();
    if (address.isEmpty())
        return QUrl(QString::fromLatin1(AboutHelpPage));
    return QUrl(address);
}

QUrl WebSiteAddress()
{
    return WebSiteAddressFrom(GLIMMER_HOME_PAGE);
}

namespace {

QFont ComicFont(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

TAboutBox::TAboutBox(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QStringLiteral("About Quomble"));
    setFixedSize(ClientWidth, ClientHeight);

    Panel = new QFrame(this);
    Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel->setLineWidth(2);
    Panel->setGeometry(8, 8, 351, 173);

    ProgramIcon = new QLabel(Panel);
    ProgramIcon->setPixmap(ProgramIconPixmap(48));
    ProgramIcon->setGeometry(16, 16, 48, 48);

    QPalette green = palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));

    ProductName = new QLabel(QStringLiteral("Quomble"), Panel);
    ProductName->setFont(ComicFont(36, true));
    ProductName->setPalette(green);
    ProductName->setGeometry(80, 12, 260, 52);

    Version = new QLabel(Panel);
    Version->setFont(ComicFont(14, false));
    Version->setPalette(green);
    Version->setGeometry(82, 72, 260, 22);

    WebButton = new QPushButton(QStringLiteral("Visit the &Web Site"), Panel);
    WebButton->setGeometry(82, 116, 180, 32);
    WebButton->setAutoDefault(false);
    connect(WebButton, &QPushButton::clicked, this, &TAboutBox::WebButtonClick);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(146, 189, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    WebAddress = WebSiteAddress();
    FormCreate();
}

void TAboutBox::FormCreate()
{
    Version->setText(QStringLiteral("Version ") + QString::fromStdString(GetFileVersionString()));
}

void TAboutBox::WebButtonClick()
{
    if (WebAddress.scheme() == QStringLiteral("qrc"))
        emit HelpPageWanted(WebAddress);
    else
        QDesktopServices::openUrl(WebAddress);
    close();
}

void TAboutBox::OKButtonClick()
{
    accept();
}

void TAboutBox::showEvent(QShowEvent *event)
{
    // Centred on the screen, splash or dialog.
    if (QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
    QDialog::showEvent(event);
}

void TAboutBox::ShowAsSplash()
{
    OKButton->hide();
    setFixedHeight(OKButton->y());
    show();
    repaint();
}

void TAboutBox::EndSplash()
{
    hide();
    OKButton->show();
    setFixedHeight(OKButton->y() + OKButton->height() + 12);
}
