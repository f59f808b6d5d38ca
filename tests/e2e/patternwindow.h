#pragma once

#include <QPainter>
#include <QWidget>

// A window of big coloured blocks that the test puts where neither client covers the display: the teacher publishes the
// whole display, so the student's classroom screen shows the blocks, scaled.
class PatternWindow : public QWidget
{
public:
    struct Block
    {
        QRect rect; // on the display
        QColor colour;
    };

    PatternWindow(const QRect &geometry, int columns, int rows, const QList<QColor> &colours)
        : QWidget(nullptr, Qt::FramelessWindowHint), m_columns(columns), m_rows(rows), m_colours(colours)
    {
        setGeometry(geometry);
        setFixedSize(geometry.size());
    }
    void setColours(const QList<QColor> &colours)
    {
        m_colours = colours;
        repaint();
    }
    QList<Block> blocks() const
    {
        QList<Block> list;
        const int w = width() / m_columns, h = height() / m_rows;
        for (int i = 0; i < m_rows * m_columns; ++i)
            list.append(
                {QRect(x() + i % m_columns * w, y() + i / m_columns * h, w, h), m_colours.value(i % m_colours.size())});
        return list;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        for (const Block &block : blocks())
            painter.fillRect(block.rect.translated(-pos()), block.colour);
    }

private:
    int m_columns;
    int m_rows;
    QList<QColor> m_colours;
};
