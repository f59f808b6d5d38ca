#pragma once

#include "ui/iconbtn.h"

// A picture button that swaps between two pictures on every press, such as
// an arrow that folds a side panel and points back once it is folded.
class ReBtn : public IconBtn
{
    Q_OBJECT
public:
    ReBtn(QString first, QString second, bool hover, QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_first;
    QString m_second;
    bool m_showsSecond = false;
};
