#pragma once

#include <QDialog>
#include <QString>

class QLabel;

// The application's modal yes/no question: "确定" closes it and emits
// doAccept(); "取消" and the close icon only close it.
class MessageBox : public QDialog
{
    Q_OBJECT
public:
    explicit MessageBox(QWidget *parent = nullptr);

    void setText(QString text);
    QString text() const;

signals:
    void doAccept();

private:
    QLabel *textLabel;
};
