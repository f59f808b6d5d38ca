#include "ui/rebtn.h"

ReBtn::ReBtn(QString first, QString second, bool hover, QWidget *parent)
    : IconBtn(first, hover, parent), m_first(std::move(first)), m_second(std::move(second))
{
}

void ReBtn::mousePressEvent(QMouseEvent *event)
{
    IconBtn::mousePressEvent(event);
    m_showsSecond = !m_showsSecond;
    setPicture(m_showsSecond ? m_second : m_first);
}
