// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/progressunit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWindow>

TProgressForm *ProgressForm = nullptr;

TProgressGauge::TProgressGauge(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TProgressGauge::PercentChanged(int32_t /*percent*/)
{
    // The computation that moved the gauge processes no events until it is
    // done, so a later update() would never be seen: paint now.
    repaint();
}

void TProgressGauge::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(rect(), QColor::fromRgb(BackColor));

    // The bar grows with the percentage shown, so it never moves without the
    // text changing too.
    const int percent = Percent();
    const int filled = inner.width() * percent / 100;
    if (filled > 0)
        painter.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), QColor::fromRgb(ForeColor));

    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawText(inner, Qt::AlignCenter, QString::number(percent) + QLatin1Char('%'));
}

TProgressForm::TProgressForm(QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      mainWindow(mainWindow)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(ClientWidth, ClientHeight);
    move(DesignedLeft, DesignedTop);

    ProgressGauge = new TProgressGauge(this);
    ProgressGauge->setGeometry(0, 0, ClientWidth, ClientHeight);
}

void TProgressForm::FormCreate()
{
    // Outer widths on both sides; the division truncates toward zero.
    const int left =
        mainWindow->frameGeometry().left() + (mainWindow->frameGeometry().width() - frameGeometry().width()) / 2;
    move(left, DesignedTop);
    setWindowTitle(QStringLiteral(" "));
}

void TProgressForm::ShowAndWaitUntilOnScreen()
{
    show();
    QElapsedTimer waited;
    waited.start();
    while (!(windowHandle() && windowHandle()->isExposed()) && waited.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    repaint();
}
