#include "base/picturefit.h"

#include <QtGlobal>

QSize fittedPictureSize(const QSize &source, const QSize &area)
{
    if (source.width() <= 0 || source.height() <= 0)
        return QSize();
    if (area.width() <= 0 || area.height() <= 0 || (source.width() <= area.width() && source.height() <= area.height()))
        return source;
    const double scale = qMin(double(area.width()) / source.width(), double(area.height()) / source.height());
    const int w = qBound(1, int(source.width() * scale + 0.5), area.width());
    const int h = qBound(1, int(source.height() * scale + 0.5), area.height());
    return QSize(w, h);
}
