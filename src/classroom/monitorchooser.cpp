#include "classroom/monitorchooser.h"

#include "classroom/playaudiovideoctrl.h"
#include "record/screencast.h"
#include "ui/colorbtn.h"
#include "ui/iconbtn.h"
#include "ui/windowdrag.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

namespace {
const char *const kTitle = QT_TRANSLATE_NOOP("MonitorChooser", "选择共享的屏幕");
const QSize kThumbnail(240, 135);
const QColor kSelectedColour(48, 162, 84);
const QColor kHeaderColour(48, 62, 84);

// A monitor's rectangle (the screen's pixels) in Qt's coordinates, which a
// desktop scale (QT_SCALE_FACTOR) divides.
QRect logical(const QRect &r)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    if (ratio <= 0 || qFuzzyCompare(ratio, 1.0))
        return r;
    return QRect(qRound(r.x() / ratio), qRound(r.y() / ratio), qRound(r.width() / ratio), qRound(r.height() / ratio));
}

// One monitor: its thumbnail in a frame, green when selected, its name beneath.
class Tile : public QWidget
{
public:
    Tile(const QString &name, QWidget *parent) : QWidget(parent), m_name(name)
    {
        setObjectName(QStringLiteral("monitorTile"));
        setFixedSize(kThumbnail.width() + 12, kThumbnail.height() + 36);
        setCursor(Qt::PointingHandCursor);
        setToolTip(name);
    }
    std::function<void()> onClick;
    std::function<void()> onDoubleClick;
    void setSelected(bool selected)
    {
        m_selected = selected;
        update();
    }
    void setPicture(const QPixmap &picture)
    {
        m_picture = picture;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRect frame(0, 0, width(), kThumbnail.height() + 12);
        painter.fillRect(frame, m_selected ? kSelectedColour : QColor(199, 199, 199));
        const QRect inner = frame.adjusted(6, 6, -6, -6);
        painter.fillRect(inner, Qt::black);
        if (!m_picture.isNull()) {
            const QSize size = m_picture.size().scaled(inner.size(), Qt::KeepAspectRatio);
            QRect at(QPoint(0, 0), size);
            at.moveCenter(inner.center());
            painter.drawPixmap(at, m_picture);
        }
        painter.setPen(m_selected ? kSelectedColour : QColor(90, 90, 90));
        QFont font = painter.font();
        font.setPixelSize(13);
        font.setBold(m_selected);
        painter.setFont(font);
        const QRect text(0, frame.bottom() + 2, width(), height() - frame.height() - 2);
        painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine,
                         painter.fontMetrics().elidedText(m_name, Qt::ElideMiddle, width()));
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && onClick)
            onClick();
    }
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && onDoubleClick)
            onDoubleClick();
    }

private:
    QString m_name;
    QPixmap m_picture;
    bool m_selected = false;
};
} // namespace

MonitorChooser::MonitorChooser(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this))
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(tr(kTitle));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(239, 245, 255));
    setPalette(pal);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    header->setFixedHeight(28);
    header->setAttribute(Qt::WA_StyledBackground);
    header->setStyleSheet(QStringLiteral("QWidget#header{background-color:rgb(48,62,84)}"));
    auto *title = new QLabel(tr(kTitle), header);
    title->setObjectName(QStringLiteral("title"));
    title->setStyleSheet(QStringLiteral("QLabel{color:rgb(251,251,251);font-size:13px;font-weight:bold}"));
    auto *closeButton = new IconBtn(QStringLiteral(":/images/sys/dialog_close"), true, header);
    closeButton->setObjectName(QStringLiteral("closeBtn"));
    closeButton->setToolTip(tr("关闭"));
    closeButton->setAccessibleName(tr("关闭"));
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(10, 0, 4, 0);
    headerLayout->addWidget(title);
    headerLayout->addStretch();
    headerLayout->addWidget(closeButton, 0, Qt::AlignVCenter);
    connect(new WindowDrag(header, this), &WindowDrag::moved, this, [this](QPoint topLeft) { move(topLeft); });

    m_row = new QWidget(this);
    auto *rowLayout = new QGridLayout(m_row);
    rowLayout->setContentsMargins(16, 16, 16, 8);
    rowLayout->setSpacing(16);

    auto *okButton = new ColorBtn(tr("确定"), 12, 72, 26, this);
    okButton->setObjectName(QStringLiteral("okBtn"));
    const QColor light(251, 251, 251);
    okButton->setTextColors(light, light, light);
    okButton->setBgColors(kHeaderColour, kSelectedColour, kHeaderColour);
    auto *cancelButton = new ColorBtn(tr("取消"), 12, 72, 26, this);
    cancelButton->setObjectName(QStringLiteral("cancelBtn"));
    const QColor grey(199, 199, 199);
    cancelButton->setBgColors(grey, grey, grey);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(16, 4, 16, 14);
    buttons->setSpacing(10);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(m_row);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(closeButton, &QToolButton::clicked, this, &QWidget::close);
    connect(cancelButton, &QToolButton::clicked, this, &QWidget::close);
    connect(okButton, &QToolButton::clicked, this, &MonitorChooser::accept);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &MonitorChooser::refresh);
}

void MonitorChooser::setMonitors(const QVector<Monitor> &monitors, int selected)
{
    qDeleteAll(m_tiles);
    m_tiles.clear();
    m_monitors = monitors;
    for (int i = 0; i < monitors.size(); ++i) {
        auto *tile = new Tile(monitors[i].name, m_row);
        tile->onClick = [this, i] { select(i); };
        tile->onDoubleClick = [this, i] {
            select(i);
            accept();
        };
        // Four a row: a wall of monitors stays on one of them.
        static_cast<QGridLayout *>(m_row->layout())->addWidget(tile, i / 4, i % 4);
        m_tiles.append(tile);
    }
    select(selected);
    if (isVisible())
        refresh();
}

void MonitorChooser::select(int index)
{
    m_selected = index >= 0 && index < m_monitors.size() ? index : -1;
    for (int i = 0; i < m_tiles.size(); ++i)
        static_cast<Tile *>(m_tiles[i])->setSelected(i == m_selected);
}

void MonitorChooser::refresh()
{
    // The X screen's root holds every monitor; the grab takes one's part.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    for (int i = 0; i < m_tiles.size() && i < m_monitors.size(); ++i) {
        const QRect r = logical(m_monitors[i].rect);
        if (r.isEmpty())
            continue;
        const QPixmap grab = screen->grabWindow(0, r.x(), r.y(), r.width(), r.height());
        if (!grab.isNull())
            static_cast<Tile *>(m_tiles[i])
                ->setPicture(grab.scaled(kThumbnail, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

void MonitorChooser::accept()
{
    if (m_selected < 0)
        return;
    m_accepted = true;
    close();
    emit accepted(m_selected);
}

void MonitorChooser::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MonitorChooser::showEvent(QShowEvent *event)
{
    m_accepted = false;
    refresh();
    m_timer->start();
    QWidget::showEvent(event);
}

void MonitorChooser::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

void MonitorChooser::closeEvent(QCloseEvent *event)
{
    const bool answered = m_accepted;
    QWidget::closeEvent(event);
    if (!answered)
        emit rejected();
}

MonitorQuestion::MonitorQuestion(playAudioVideoCtrl *control, QObject *parent) : QObject(parent), m_control(control) {}

MonitorQuestion::~MonitorQuestion()
{
    // A window of its own, without a parent.
    delete m_window;
}

MonitorChooser *MonitorQuestion::window()
{
    if (!m_window) {
        m_window = new MonitorChooser;
        m_window->setObjectName(QStringLiteral("monitorChooser"));
        connect(m_window, &MonitorChooser::accepted, this, [this](int index) {
            const QVector<Monitor> shown = m_window->monitorList();
            if (!m_asking || index < 0 || index >= shown.size())
                return;
            monitors::remember(shown[index].name);
            const CourseInfo course = m_course;
            m_course = CourseInfo();
            m_asking = false;
            emit chosen(course);
        });
        connect(m_window, &MonitorChooser::rejected, this, [this] {
            if (!m_asking)
                return;
            m_asking = false;
            m_course = CourseInfo();
            emit declined();
        });
    }
    return m_window;
}

bool MonitorQuestion::ask(const CourseInfo &course)
{
    if (course.role != Role::Teacher)
        return false;
    m_control->setCaptureArea(QRect());
    // The portal asks on a Wayland desktop.
    if (ScreenCast::waylandSession())
        return false;
    const QVector<Monitor> found = monitors::list();
    if (found.size() < 2)
        return false;
    const QString remembered = monitors::remembered();
    const int index = monitors::resolve(found, remembered);
    if (monitors::contains(found, remembered)) {
        m_control->setCaptureArea(found[index].rect);
        return false;
    }
    m_course = course;
    m_asking = true;
    MonitorChooser *chooser = window();
    chooser->setMonitors(found, index);
    chooser->adjustSize();
    // In the middle of the monitor offered first.
    QRect frame(QPoint(0, 0), chooser->sizeHint());
    frame.moveCenter(logical(found[index].rect).center());
    chooser->move(frame.topLeft());
    chooser->show();
    chooser->raise();
    chooser->activateWindow();
    return true;
}

void MonitorQuestion::cancel()
{
    m_course = CourseInfo();
    m_asking = false;
    // Hidden, not closed: no rejected.
    if (m_window)
        m_window->hide();
}
