#include "record/recordmessagebox.h"

#include "record/recordnotice.h"

#include <QMessageBox>

void installRecordMessageBoxes(bool replace)
{
    if (!replace && recordNotice::hasHandler())
        return;
    recordNotice::setHandler(
        [](const QString &text) { QMessageBox::critical(nullptr, QStringLiteral("提示"), text, QMessageBox::Ok); });
}
