#pragma once

#include <QDialog>
#include <QString>

class QLabel;

// The application's modal yes/no question: "确定" (or Return) closes it
// and emits doAccept(); "取消", Escape and the close icon only close it.
// Shown, it takes the keyboard.
class MessageBox : public QDialog
{
    Q_OBJECT
public:
    explicit MessageBox(QWidget *parent = nullptr);

    void setText(QString text);
    QString text() const;

signals:
    void doAccept();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void answerYes();

    QLabel *textLabel;
};
