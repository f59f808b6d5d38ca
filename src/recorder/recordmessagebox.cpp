#include "recorder/recordmessagebox.h"

#include "record/recordnotice.h"

#include <QCoreApplication>
#include <QMessageBox>

void installRecordMessageBoxes(bool replace)
{
    if (!replace && recordNotice::hasHandler())
        return;
    recordNotice::setHandler([](const QString &text) {
        auto *box = new QMessageBox(QMessageBox::Critical, QCoreApplication::translate("recordWindow", "提示"), text,
                                    QMessageBox::Ok);
        box->setWindowModality(Qt::ApplicationModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Closing it while the main window sits in the tray must not end the
        // program.
        box->setAttribute(Qt::WA_QuitOnClose, false);
        box->show();
    });
}
