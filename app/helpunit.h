// SPDX-License-Identifier: GPL-3.0-or-later
// The help window: the program's own help pages, compiled into the program,
// shown in a browser window with Contents, Back and Forward.
#pragma once

#include <QWidget>

class QTextBrowser;
class QToolButton;
class QUrl;

inline constexpr const char *HelpContentsPage = "qrc:/help/index.html";
inline constexpr const char *HelpOnHelpPage = "qrc:/help/usinghelp.html";

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget *owner);

    // The contents page, as Help Topics opens it.
    void ShowContents();
    // The page on using the help window, as How To Use Help opens it.
    void ShowHelpOnHelp();
    // Any page of the help, shown and brought to the front.
    void ShowPage(const QUrl &page);

    QTextBrowser *Browser;
    QToolButton *ContentsButton;
    QToolButton *BackButton;
    QToolButton *ForwardButton;
};
