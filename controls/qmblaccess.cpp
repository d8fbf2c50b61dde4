// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/qmblaccess.h"

#include "controls/qmblepnl.h"
#include "controls/qmblkeys.h"
#include "controls/qmblrbtn.h"
#include "controls/qmblsbtn.h"
#include "controls/qmblvled.h"
#include "controls/qmblwpnl.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>

namespace {

// The two image buttons: a name from accessibleName or the caption, and a
// press action that clicks the button. A saw-tooth button is a toggle unless
// marked momentary (looked at each time: Qt keeps this description for the
// button's life, and the mark may come after it was made).
template <typename Button> class TImageButtonAccessible : public QAccessibleWidget {
public:
    TImageButtonAccessible(Button *button, bool canToggle)
        : QAccessibleWidget(button, QAccessible::Button), canToggle_(canToggle)
    {
    }

    bool toggles() const { return canToggle_ && !widget()->property(QmblMomentaryProperty).toBool(); }

    Button *button() const { return static_cast<Button *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->Caption();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (toggles()) {
            s.checkable = true;
            s.checked = button()->Down();
        }
        s.pressed = button()->Down();
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names{pressAction()};
        if (toggles())
            names << toggleAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &name) override
    {
        if (!widget()->isEnabled())
            return;
        if (name == pressAction() || (toggles() && name == toggleAction()))
            ClickQmblControl(widget());
        else
            QAccessibleWidget::doAction(name);
    }

private:
    bool canToggle_;
};

// The LED meter: a level from 0 to 100 per cent.
class TLevelAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TLevelAccessible(TQMBL_VerticalLEDs *meter) : QAccessibleWidget(meter, QAccessible::ProgressBar) {}

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return QString::number(currentValue().toInt()) + QLatin1Char('%');
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override
    {
        return qRound(static_cast<TQMBL_VerticalLEDs *>(widget())->Progress() * 100.0f);
    }
    void setCurrentValue(const QVariant &) override {} // the level is only shown
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface *DescribeControl(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("TQMBL_SawToothButton"))
        return new TImageButtonAccessible<TQMBL_SawToothButton>(static_cast<TQMBL_SawToothButton *>(object), true);
    if (className == QLatin1String("TQMBL_EllipticalButton"))
        return new TImageButtonAccessible<TQMBL_EllipticalButton>(static_cast<TQMBL_EllipticalButton *>(object), false);
    if (className == QLatin1String("TQMBL_VerticalLEDs"))
        return new TLevelAccessible(static_cast<TQMBL_VerticalLEDs *>(object));
    if (className == QLatin1String("TQMBL_Wave_Display"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    if (className == QLatin1String("TQMBL_EllipticalPanel"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

void InstallQmblAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(DescribeControl);
        return true;
    }();
    (void)installed;
}

void NotifyQmblStateChanged(QObject *control)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.checked = true;
    changed.pressed = true;
    QAccessibleStateChangeEvent event(control, changed);
    QAccessible::updateAccessibility(&event);
}

void NotifyQmblValueChanged(QObject *control, double value)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(control, value);
    QAccessible::updateAccessibility(&event);
}
