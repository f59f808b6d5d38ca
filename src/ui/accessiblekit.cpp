#include "ui/accessiblekit.h"

#include "ui/label.h"
#include "ui/textbtn.h"

#include <QAbstractButton>
#include <QRegularExpression>

namespace {
bool isKitButton(const QString &className)
{
    static const QStringList kit = {QStringLiteral("ColorBtn"),     QStringLiteral("TextBtn"),
                                    QStringLiteral("CommonButton"), QStringLiteral("IconBtn"),
                                    QStringLiteral("playBtn"),      QStringLiteral("ReBtn"),
                                    QStringLiteral("pixButton")};
    return kit.contains(className);
}

QAccessibleInterface *kitFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("Label"))
        return static_cast<Label *>(object)->isClickable() ? new AccessibleKitButton(static_cast<QWidget *>(object))
                                                           : nullptr;
    return isKitButton(className) ? new AccessibleKitButton(static_cast<QWidget *>(object)) : nullptr;
}
} // namespace

AccessibleKitButton::AccessibleKitButton(QWidget *widget) : QAccessibleWidget(widget, QAccessible::Button) {}

void AccessibleKitButton::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(kitFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString AccessibleKitButton::spokenText(const QString &text)
{
    QString spoken = text.trimmed();
    if (spoken.startsWith(QLatin1Char('[')) && spoken.endsWith(QLatin1Char(']')))
        spoken = spoken.mid(1, spoken.size() - 2).trimmed();
    // Spaces that only spread Chinese characters apart.
    static const QRegularExpression spread(QStringLiteral("(?<=[\\x{3400}-\\x{9fff}])\\s+(?=[\\x{3400}-\\x{9fff}])"));
    return spoken.replace(spread, QString());
}

QString AccessibleKitButton::text(QAccessible::Text t) const
{
    if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
        return QAccessibleWidget::text(t);
    QString shown;
    if (auto *label = qobject_cast<Label *>(widget()))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget()))
        shown = button->text();
    if (auto *tab = qobject_cast<TextBtn *>(widget()))
        shown += QLatin1Char(' ') + tab->text2();
    shown = spokenText(shown);
    // A picture button without a name still says what its tip says.
    return shown.isEmpty() ? widget()->toolTip() : shown;
}

QStringList AccessibleKitButton::actionNames() const
{
    return widget()->isEnabled() ? QStringList{pressAction()} : QStringList();
}

void AccessibleKitButton::doAction(const QString &actionName)
{
    if (actionName != pressAction())
        return;
    if (auto *label = qobject_cast<Label *>(widget()))
        label->click();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget()))
        button->click();
}
