#include "app/titlewidget.h"

#include "classroom/playaudiovideoctrl.h"
#include "net/bitmaplabel.h"
#include "net/userinfo.h"
#include "ui/commonbutton.h"
#include "ui/iconbtn.h"
#include "ui/label.h"
#include "ui/messagebox.h"
#include "ui/windowdrag.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QSignalMapper>

namespace {
// The dialog matches these without regard to case.
QString localFileFilter()
{
    return TitleWidget::tr("视频文件 (*.flv *.rmvb *.avi *.mp4 *.mkv *.mov *.webm *.ts);;所有文件 (*)");
}

QString shownName(const UserInfo &user)
{
    return user.real_name.isEmpty() ? user.userName : user.real_name;
}
} // namespace

TitleWidget::TitleWidget(QWidget *parent) : QWidget(parent), firstJump(true)
{
    setFixedHeight(38);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QColor(QStringLiteral("#303e54")));
    setPalette(pal);

    logoBtn = new IconBtn(QStringLiteral(":/images/sys/logo"), true, this);

    const UserInfo &user = UserInfo::instance();
    photoLabel = new BitmapLabel(QString(), 20, 20, this);
    nameLabel = new Label(shownName(user), QColor(QStringLiteral("#bfc3c9")), false, this);
    logoutLabel = new Label(tr("[退出]"), QColor(QStringLiteral("#bfc3c9")), true, this);
    logoutLabel->setHoverColor(QColor(QStringLiteral("#bd9ca3")));
    auto *userBlock = new QGridLayout;
    userBlock->setHorizontalSpacing(8);
    userBlock->setVerticalSpacing(0);
    userBlock->addWidget(photoLabel, 0, 0, 2, 1);
    userBlock->addWidget(nameLabel, 0, 1);
    userBlock->addWidget(logoutLabel, 1, 1);

    minBtn = new IconBtn(QStringLiteral(":/images/sys/min"), true, this);
    maxBtn = new IconBtn(QStringLiteral(":/images/sys/max"), true, this);
    closeBtn = new IconBtn(QStringLiteral(":/images/sys/close"), true, this);
    logoBtn->setAccessibleName(QStringLiteral("tavi"));
    minBtn->setAccessibleName(tr("最小化"));
    maxBtn->setAccessibleName(tr("最大化"));
    closeBtn->setAccessibleName(tr("关闭"));

    auto *mapper = new QSignalMapper(this);
    auto *tabRow = new QHBoxLayout;
    tabRow->setSpacing(0);
    const QStringList names = {tr("今日课程"), tr("本地播放")};
    for (int i = 0; i < names.size(); ++i) {
        auto *tab = new CommonButton(names.at(i), this);
        tabs.append(tab);
        tabRow->addWidget(tab);
        connect(tab, SIGNAL(clicked()), mapper, SLOT(map()));
        mapper->setMapping(tab, QString::number(i));
    }
    connect(mapper, SIGNAL(mapped(QString)), this, SLOT(doJump(QString)));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(18, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(logoBtn);
    row->addSpacing(20);
    row->addLayout(userBlock);
    row->addSpacing(68);
    row->addLayout(tabRow);
    row->addStretch();
    row->addWidget(minBtn);
    row->addWidget(maxBtn);
    row->addWidget(closeBtn);

    // Dragging the bar asks app to move the main window.
    drag = new WindowDrag(this);
    connect(drag, &WindowDrag::moved, this, &TitleWidget::s_move);

    connect(logoutLabel, SIGNAL(s_clicked()), this, SLOT(slot_logOut()));
    connect(minBtn, SIGNAL(clicked()), this, SIGNAL(s_min()));
    connect(maxBtn, SIGNAL(clicked()), this, SIGNAL(s_max()));
    connect(closeBtn, SIGNAL(clicked()), this, SIGNAL(s_tray()));

    // Tab 0 starts selected.
    firstJump = true;
    emit tabs.first()->clicked();

    // A window of its own: with a parent, a frameless dialog would become a
    // child widget clipped inside the title bar.
    logoutBox = new MessageBox(nullptr);
    logoutBox->setText(tr("您，确定退出登录吗？"));
    connect(logoutBox, SIGNAL(doAccept()), this, SIGNAL(s_loginOut()));
}

void TitleWidget::loginSuccess()
{
    const UserInfo &user = UserInfo::instance();
    nameLabel->setText(shownName(user));
    nameLabel->update();
    photoLabel->setBitmap(user.photo.isEmpty() ? QStringLiteral(":/images/sys/man") : user.photo);
    drag->cancel();
}

void TitleWidget::loginOut()
{
    nameLabel->setText(tr("未登录"));
    nameLabel->update();
}

void TitleWidget::doJump(QString index)
{
    const int i = index.toInt();
    if (firstJump) {
        if (CommonButton *tab = tabs.value(i))
            tab->setSelectedState();
        firstJump = false;
        return;
    }
    for (int k = 0; k < tabs.size(); ++k) {
        if (k != i) {
            tabs.at(k)->setNormalState();
            continue;
        }
        tabs.at(k)->setSelectedState();
        if (i == 1) {
            // Shown without an event loop of its own: the class goes on meanwhile.
            auto *dialog = new QFileDialog(this, tr("选择要播放的文件"), QDir::homePath(), localFileFilter());
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setFileMode(QFileDialog::ExistingFile);
            connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
                if (!file.isEmpty())
                    emit local_play(file);
            });
            dialog->open();
        }
    }
}

void TitleWidget::triggleInit() {}

void TitleWidget::slot_logOut()
{
    // Signing out ends a class on air: the question says so.
    logoutBox->setText(playAudioVideoCtrl::instance()->isTeaching() ? tr("正在上课，确定要结束本节课吗？")
                                                                    : tr("您，确定退出登录吗？"));
    logoutBox->show();
}

void TitleWidget::slot_MsgAccept()
{
    logoutBox->close();
}

void TitleWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit s_max();
    event->accept();
}
