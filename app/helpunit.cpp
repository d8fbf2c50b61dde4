// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/helpunit.h"

#include <QAction>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

// The pages live in the glimmer_app library's resources; a static library's
// resources must be registered by name before the first use.
static void RegisterHelpPages()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)registered;
}

THelpWindow::THelpWindow(QWidget *owner) : QWidget(owner, Qt::Window)
{
    RegisterHelpPages();
    setWindowTitle(QStringLiteral("Glimmerbox Help"));
    resize(560, 520);

    ContentsButton = new QToolButton(this);
    ContentsButton->setText(QStringLiteral("&Contents"));
    BackButton = new QToolButton(this);
    BackButton->setText(QStringLiteral("&Back"));
    BackButton->setEnabled(false);
    ForwardButton = new QToolButton(this);
    ForwardButton->setText(QStringLiteral("&Forward"));
    ForwardButton->setEnabled(false);

    Browser = new QTextBrowser(this);
    Browser->setOpenExternalLinks(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    // Esc and Ctrl+W close the window, as they close a desktop's help.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *close = new QAction(this);
        close->setShortcut(keys);
        close->setShortcutContext(Qt::WindowShortcut);
        connect(close, &QAction::triggered, this, &QWidget::close);
        addAction(close);
    }
    connect(ContentsButton, &QToolButton::clicked, this, &THelpWindow::ShowContents);
    connect(BackButton, &QToolButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardButton, &QToolButton::clicked, Browser, &QTextBrowser::forward);
    connect(Browser, &QTextBrowser::backwardAvailable, BackButton, &QToolButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardButton, &QToolButton::setEnabled);
}

void THelpWindow::ShowContents()
{
    ShowPage(QUrl(QString::fromLatin1(HelpContentsPage)));
}

void THelpWindow::ShowHelpOnHelp()
{
    ShowPage(QUrl(QString::fromLatin1(HelpOnHelpPage)));
}

void THelpWindow::ShowPage(const QUrl &page)
{
    Browser->setSource(page);
    show();
    raise();
    activateWindow();
}
