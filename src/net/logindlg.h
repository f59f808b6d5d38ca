#pragma once

#include <QDialog>

class ColorBtn;
class IconBtn;
class QLabel;
class QLayout;
class QLineEdit;
class TaviHttp;

// The sign-in dialog: user name and password against the web service. One
// instance for the whole run, shown again after every sign-out. Shown, it
// takes the keyboard in the first field to fill.
class LoginDlg : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDlg(QWidget *parent = nullptr);

    // The process-wide dialog, created on first use.
    static LoginDlg *instance();
    // A sign-in waits for the school's reply.
    bool signingIn() const { return request != nullptr; }

signals:
    void s_loginSuccess();
    void s_close();

public slots:
    void displayTip();
    void login();
    void openUrl(QString url);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *makeHeader();
    QLayout *makeForm();
    void makeTipBar();
    void connectParts();
    void showTip(const QString &text);
    void handleReply(const QByteArray &body);

    IconBtn *closeBtn;
    ColorBtn *loginBtn;
    QLineEdit *userEdit;
    QLineEdit *passwordEdit;
    QLabel *registerLabel;
    QLabel *tipLabel;
    IconBtn *tipCloseBtn;
    QWidget *tipBar;
    TaviHttp *request = nullptr;
};
