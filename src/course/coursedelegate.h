#pragma once

#include <QStyledItemDelegate>

class QListWidget;

// Paints only the background of the course rows (the entries draw the
// rest): red-orange under the mouse, or for the row of the class being
// entered.
class CourseDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CourseDelegate(QListWidget *list);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static QColor highlightColor() { return QColor(222, 49, 32, 230); }
    // Whether a row with that state and entry mark gets the highlight.
    static bool highlighted(bool underMouse, bool selectedRow, bool entrySelected);

private:
    QListWidget *m_list;
};
