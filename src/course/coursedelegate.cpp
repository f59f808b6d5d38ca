#include "course/coursedelegate.h"

#include "course/courselistitem.h"

#include <QListWidget>
#include <QPainter>

CourseDelegate::CourseDelegate(QListWidget *list) : QStyledItemDelegate(list), m_list(list) {}

bool CourseDelegate::highlighted(bool underMouse, bool selectedRow, bool entrySelected)
{
    return (underMouse && !entrySelected) || (selectedRow && entrySelected);
}

void CourseDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    auto *entry = qobject_cast<CourseListItem *>(m_list->itemWidget(m_list->item(index.row())));
    const bool entrySelected = entry && entry->selected;
    painter->save();
    if (highlighted(option.state & QStyle::State_MouseOver, option.state & QStyle::State_Selected, entrySelected))
        painter->fillRect(option.rect, highlightColor());
    painter->restore();
}

QSize CourseDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(230, 84);
}
