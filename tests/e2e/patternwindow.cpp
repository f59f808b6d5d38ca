#include "patternwindow.h"

#include <QPainter>

PatternWindow::PatternWindow(const QRect &geometry, int columns, int rows, const QList<QColor> &colours)
    : QWidget(nullptr, Qt::FramelessWindowHint), m_columns(columns), m_rows(rows), m_colours(colours)
{
    setGeometry(geometry);
    setFixedSize(geometry.size());
}

void PatternWindow::setColours(const QList<QColor> &colours)
{
    m_colours = colours;
    repaint();
}

QList<PatternWindow::Block> PatternWindow::blocks() const
{
    QList<Block> list;
    const int w = width() / m_columns;
    const int h = height() / m_rows;
    for (int row = 0; row < m_rows; ++row) {
        for (int column = 0; column < m_columns; ++column) {
            const int i = row * m_columns + column;
            list.append({QRect(x() + column * w, y() + row * h, w, h), m_colours.value(i % m_colours.size())});
        }
    }
    return list;
}

void PatternWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (const Block &block : blocks())
        painter.fillRect(block.rect.translated(-pos()), block.colour);
}
