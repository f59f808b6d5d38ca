#pragma once

#include <QWidget>

// The empty strip at the bottom of the main window.
class StatusWidget : public QWidget
{
    Q_OBJECT
public:
    explicit StatusWidget(QWidget *parent = nullptr);
};
