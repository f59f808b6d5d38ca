#include "net/logindlg.h"

#include "base/config.h"
#include "base/logging.h"
#include "net/loginreply.h"
#include "net/tavihttp.h"
#include "net/userinfo.h"
#include "ui/colorbtn.h"
#include "ui/iconbtn.h"
#include "ui/iconlabel.h"
#include "ui/windowdrag.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const int kHeight = 256;
const int kHeightWithTip = 286;
const int kHeightTipClosed = 266;
} // namespace

LoginDlg *LoginDlg::instance()
{
    static LoginDlg *dialog = nullptr;
    if (!dialog)
        dialog = new LoginDlg(nullptr);
    return dialog;
}

LoginDlg::LoginDlg(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setAutoFillBackground(true);
    setContentsMargins(0, 0, 0, 0);
    setFixedSize(430, kHeight);
    // Pale blue; a style sheet without a selector would not parse.
    setStyleSheet(QStringLiteral("QDialog{background-color:rgb(239,245,255);}"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(239, 245, 255));
    setPalette(pal);

    QWidget *header = makeHeader();
    QLayout *formRow = makeForm();
    makeTipBar();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addSpacing(20);
    layout->addLayout(formRow, 1);
    layout->addSpacing(10);
    layout->addWidget(tipBar);
    connectParts();
}

QWidget *LoginDlg::makeHeader()
{
    auto *header = new QWidget(this);
    header->setFixedHeight(80);
    header->setStyleSheet(QStringLiteral("QWidget{background-color:rgb(48,62,84)}"));
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    auto *icon = new IconLabel(header, QStringLiteral(":/images/sys/dialog_question"), 0, 0);
    auto *iconBox = new QVBoxLayout;
    iconBox->setContentsMargins(10, 20, 0, 0);
    iconBox->addWidget(icon, 0, Qt::AlignLeft | Qt::AlignTop);
    iconBox->addStretch();
    headerLayout->addLayout(iconBox);
    headerLayout->addStretch();
    closeBtn = new IconBtn(QStringLiteral(":/images/sys/dialog_close"), true, header);
    closeBtn->setObjectName(QStringLiteral("closeBtn"));
    closeBtn->setAccessibleName(tr("关闭"));
    headerLayout->addWidget(closeBtn, 0, Qt::AlignRight | Qt::AlignTop);

    return header;
}

QLayout *LoginDlg::makeForm()
{
    const QString editStyle = QStringLiteral(
        "QLineEdit{padding-left:4px;border:1px solid rgb(209,209,209);background-color:rgb(255,255,255);}");
    userEdit = new QLineEdit(this);
    userEdit->setObjectName(QStringLiteral("userEdit"));
    userEdit->setPlaceholderText(tr("请输入用户名"));
    userEdit->setAccessibleName(tr("用户名"));
    userEdit->setFixedSize(200, 30);
    userEdit->setStyleSheet(editStyle);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setPlaceholderText(tr("请输入密码"));
    passwordEdit->setAccessibleName(tr("密码"));
    passwordEdit->setFixedSize(200, 30);
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setStyleSheet(editStyle);

    // The portal that serves the course pages also has the registration page.
    const QString portal = tavi::siteAddress(tavi::sysConfigValue(QStringLiteral("/TaviHttp/webUrl")));
    registerLabel = new QLabel(this);
    registerLabel->setObjectName(QStringLiteral("registerLabel"));
    registerLabel->setTextFormat(Qt::RichText);
    registerLabel->setText(QStringLiteral("<a href=\"%1/ucenter/default/register\" style=\"color:rgb(166,166,166);"
                                          "text-decoration:none\">%2</a>")
                               .arg(portal.toHtmlEscaped(), tr("免费注册").toHtmlEscaped()));
    registerLabel->setStyleSheet(
        QStringLiteral("QLabel{font-size:12px;color:rgb(166,166,166);} QLabel:hover{color:rgb(48,162,84)}"));

    loginBtn = new ColorBtn(tr("确       定"), 12, 200, 25, this);
    loginBtn->setObjectName(QStringLiteral("loginBtn"));
    loginBtn->setTextColors(QColor(251, 251, 251), QColor(251, 251, 251), QColor(251, 251, 251));
    loginBtn->setBgColors(QColor(48, 62, 84), QColor(88, 102, 124), QColor(48, 62, 84));

    auto *form = new QVBoxLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);
    form->addWidget(userEdit);
    form->addSpacing(5);
    form->addWidget(passwordEdit);
    form->addSpacing(5);
    form->addWidget(registerLabel, 0, Qt::AlignRight);
    form->addSpacing(5);
    form->addWidget(loginBtn);
    form->addStretch();
    auto *formRow = new QHBoxLayout;
    formRow->addStretch();
    formRow->addLayout(form);
    formRow->addStretch();

    return formRow;
}

void LoginDlg::makeTipBar()
{
    tipBar = new QWidget(this);
    tipBar->setObjectName(QStringLiteral("tipBar"));
    tipBar->setFixedHeight(30);
    tipBar->setStyleSheet(QStringLiteral("QWidget{background-color:rgb(248,243,209)}"));
    auto *tipLayout = new QHBoxLayout(tipBar);
    tipLayout->setContentsMargins(10, 0, 0, 0);
    tipLabel = new QLabel(tipBar);
    tipLabel->setTextFormat(Qt::PlainText);
    tipLabel->setText(tr("用户名或密码错误"));
    tipLabel->setObjectName(QStringLiteral("tipLabel"));
    tipLabel->setStyleSheet(
        QStringLiteral("QLabel{font-size:12px;color:rgb(166,166,166);background-color:rgb(248,243,209);}"));
    tipCloseBtn = new IconBtn(QStringLiteral(":/images/sys/dialog_close"), true, tipBar);
    tipCloseBtn->setObjectName(QStringLiteral("tipCloseBtn"));
    tipCloseBtn->setAccessibleName(tr("关闭提示"));
    tipLayout->addWidget(tipLabel, 0, Qt::AlignLeft);
    tipLayout->addStretch();
    tipLayout->addWidget(tipCloseBtn, 0, Qt::AlignRight);
    tipBar->hide();
}

void LoginDlg::connectParts()
{
    connect(registerLabel, SIGNAL(linkActivated(QString)), this, SLOT(openUrl(QString)));
    connect(tipCloseBtn, SIGNAL(clicked()), this, SLOT(displayTip()));
    connect(closeBtn, SIGNAL(clicked()), this, SIGNAL(s_close()));
    connect(loginBtn, SIGNAL(clicked()), this, SLOT(login()));
    // Enter signs in as the button does; in the user name field it first
    // goes on to an empty password.
    connect(passwordEdit, SIGNAL(returnPressed()), this, SLOT(login()));
    connect(userEdit, &QLineEdit::returnPressed, this, [this]() {
        if (passwordEdit->text().isEmpty())
            passwordEdit->setFocus(Qt::TabFocusReason);
        else
            login();
    });
    // No system frame: the dialog is dragged by itself.
    connect(new WindowDrag(this), &WindowDrag::moved, this, [this](QPoint topLeft) { move(topLeft); });
}

void LoginDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A name kept from the last sign-in needs only its password.
    (userEdit->text().isEmpty() ? userEdit : passwordEdit)->setFocus(Qt::ActiveWindowFocusReason);
    activateWindow();
}

void LoginDlg::keyPressEvent(QKeyEvent *event)
{
    // QDialog would hide itself on Escape, leaving the application running
    // with no window: closing is the close icon's choice alone.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void LoginDlg::displayTip()
{
    tipBar->hide();
    setFixedHeight(kHeightTipClosed);
}

void LoginDlg::showTip(const QString &text)
{
    tipLabel->setText(text);
    tipBar->show();
}

void LoginDlg::login()
{
    const QString user = userEdit->text();
    const QString password = passwordEdit->text();
    if (user.isEmpty()) {
        setFixedHeight(kHeightWithTip);
        showTip(tr("用户名输入错误"));
        return;
    }
    if (password.isEmpty()) {
        setFixedHeight(kHeightWithTip);
        showTip(tr("密码输入错误"));
        return;
    }
    // One sign-in at a time: a second press while the first waits for its
    // reply does nothing.
    if (request)
        return;
    tipBar->hide();

    QMap<QString, QString> params;
    params.insert(QStringLiteral("username"), QString::fromUtf8(user.toUtf8()));
    params.insert(QStringLiteral("password"), QString::fromUtf8(password.toUtf8()));
    // The reply is waited for in the event loop, not in a loop of its own:
    // the window goes on while the school answers.
    request = new TaviHttp(QStringLiteral("/ucenter/default/login"), params, 80, false);
    request->setParent(this); // a dialog that goes takes its request along
    const QUrl address = request->requestUrl();
    if (address.scheme() == QLatin1String("http") && !TaviHttp::isLoopbackHost(address.host()))
        TAVI_LOG_WARN("signing in over plain http to " << tavi::logExcerpt(address.host(), 100)
                                                       << ": the password goes unencrypted");
    request->setCallback([this](bool, QByteArray body) { handleReply(body); });
    connect(request, &TaviHttp::s_finished, this, [this]() {
        request->deleteLater();
        request = nullptr;
        loginBtn->setEnabled(true);
    });
    loginBtn->setEnabled(false);
    request->get();
}

void LoginDlg::handleReply(const QByteArray &body)
{
    const LoginReply reply = readLoginReply(body);
    TAVI_LOG_INFO("sign-in status " << tavi::logExcerpt(reply.status, 40));
    if (!reply.accepted) {
        showTip(tr("用户名或密码输入错误"));
        return;
    }
    UserInfo::instance() = reply.user;
    emit s_loginSuccess();
}

void LoginDlg::openUrl(QString url)
{
    QDesktopServices::openUrl(QUrl(url));
}
