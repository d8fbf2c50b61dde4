// SPDX-License-Identifier: GPL-3.0-or-later
// The codec message window: what to do when the MP3 codec on the machine
// can only decode. Purely informative; its link opens the encoder page.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// The LAME project's own pages, where its encoder is downloaded.
inline constexpr const char *EncoderPageAddress = "https://lame.sourceforge.io/";

class TCodecMessageForm : public QDialog {
    Q_OBJECT
public:
    explicit TCodecMessageForm(QWidget *parent = nullptr);

    QFrame *BaseBevel;
    QLabel *MessageLabel;
    QLabel *Message1Label1;
    QLabel *WMP7WebLabel;
    QLabel *Message1Label2;
    QLabel *Message1Label3;
    QLabel *Message2Label;
    QPushButton *Button1;

    void WMP7WebLabelClick();
    void Button1Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

extern TCodecMessageForm *CodecMessageForm;
