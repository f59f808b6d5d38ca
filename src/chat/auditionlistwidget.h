#pragma once

#include <QListWidget>

// The audition list, the panel's third page. Nothing fills it yet and its
// tab is not offered.
class AuditionListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit AuditionListWidget(QWidget *parent = nullptr);
};
