#pragma once

#include <QAccessibleWidget>

// The painted widget kit as assistive tools should see it: its buttons and
// clickable labels ("[结束]") as push buttons named by what they say, with a
// press action that clicks them.
class AccessibleKitButton : public QAccessibleWidget
{
public:
    explicit AccessibleKitButton(QWidget *widget);

    // Registers the kit's interfaces with Qt; once is enough.
    static void install();
    // What a reader should say for a shown text: "[结束]" -> "结束",
    // "发 言" -> "发言" (the brackets and the spaces are a look, not words).
    static QString spokenText(const QString &text);

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
};
