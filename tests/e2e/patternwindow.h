#pragma once

#include <QColor>
#include <QList>
#include <QRect>
#include <QWidget>

// A window of big coloured blocks that the test puts where neither client
// covers the display: the teacher publishes the whole display, so the
// student's classroom screen shows the blocks, scaled.
class PatternWindow : public QWidget
{
public:
    struct Block
    {
        QRect rect; // on the display
        QColor colour;
    };

    PatternWindow(const QRect &geometry, int columns, int rows, const QList<QColor> &colours);

    void setColours(const QList<QColor> &colours);
    QList<Block> blocks() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_columns;
    int m_rows;
    QList<QColor> m_colours;
};
