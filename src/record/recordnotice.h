#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

// The one path by which the recording engine tells the user that something
// failed (a device that does not open, an output that cannot be written).
// The engine has no widgets: the window library installs a handler that
// shows a message box; a headless program prints the text.
class recordNotice
{
public:
    using Handler = std::function<void(const QString &text)>;

    // Replaces the handler; an empty one falls back to standard error.
    static void setHandler(Handler handler);
    static bool hasHandler();
    // Delivers the text on the GUI thread (queued when called from another).
    static void report(const QString &text);
};

// Texts shown to the user, in the interface's language through shown().
namespace recordText {
inline QString shown(const char *text)
{
    return QCoreApplication::translate("recordText", text);
}

inline const char *const kVideoDeviceFailed = QT_TRANSLATE_NOOP("recordText", "出错了,初始化视屏设备失败！");
inline const char *const kAudioDeviceFailed = QT_TRANSLATE_NOOP("recordText", "出错了,初始化音屏设备失败！");
inline const char *const kOutputFailed = QT_TRANSLATE_NOOP("recordText", "出错了,无法写入录制输出！");
inline const char *const kOutputNameTooLong = QT_TRANSLATE_NOOP("recordText", "出错了,输出地址过长！");
inline const char *const kVideoCaptureBroken = QT_TRANSLATE_NOOP("recordText", "出错了,视频采集中断！");
inline const char *const kScreenShareMissing =
    QT_TRANSLATE_NOOP("recordText", "出错了,桌面不提供屏幕共享(xdg-desktop-portal)！");
inline const char *const kScreenShareRefused = QT_TRANSLATE_NOOP("recordText", "出错了,屏幕共享被取消或拒绝！");
inline const char *const kScreenShareFailed = QT_TRANSLATE_NOOP("recordText", "出错了,无法开始屏幕共享！");
inline const char *const kScreenShareEnded = QT_TRANSLATE_NOOP("recordText", "出错了,屏幕共享已停止！");
inline const char *const kCameraNotFound = QT_TRANSLATE_NOOP("recordText", "未找到摄像头");
inline const char *const kCameraBusy = QT_TRANSLATE_NOOP("recordText", "摄像头正被其他程序使用，请关闭该程序后再试");
inline const char *const kCameraFailed = QT_TRANSLATE_NOOP("recordText", "摄像头无法打开");
inline const char *const kCameraLost =
    QT_TRANSLATE_NOOP("recordText", "摄像头已断开，桌面画面继续；重新插好后可再打开");
inline const char *const kStillStopping = QT_TRANSLATE_NOOP("recordText", "出错了,上一次录制尚未结束！");
} // namespace recordText
