<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>AuditionListWidget</name>
    <message>
        <source>试听列表</source>
        <translation>Guests</translation>
    </message>
</context>
<context>
    <name>BuiltinPicture</name>
    <message>
        <source>课堂尚未开始</source>
        <translation>The class has not begun</translation>
    </message>
    <message>
        <source>本节课已结束</source>
        <translation>This class has ended</translation>
    </message>
    <message>
        <source>已离开课堂</source>
        <translation>You left the class</translation>
    </message>
    <message>
        <source>今日暂无课程</source>
        <translation>No courses today</translation>
    </message>
</context>
<context>
    <name>CameraControl</name>
    <message>
        <source>[摄像头]</source>
        <translation>[Camera]</translation>
    </message>
    <message>
        <source>[关闭摄像头]</source>
        <translation>[Camera off]</translation>
    </message>
    <message>
        <source>[仅摄像头]</source>
        <translation>[Camera only]</translation>
    </message>
    <message>
        <source>[画中画]</source>
        <translation>[Picture in picture]</translation>
    </message>
    <message>
        <source>摄像头</source>
        <translation>Camera</translation>
    </message>
</context>
<context>
    <name>ConListWidget</name>
    <message>
        <source>学员列表</source>
        <translation>Students</translation>
    </message>
</context>
<context>
    <name>CourseList</name>
    <message>
        <source>今日课程</source>
        <translation>Today&apos;s courses</translation>
    </message>
</context>
<context>
    <name>CourseListItem</name>
    <message>
        <source>第%1节</source>
        <translation>Lesson %1</translation>
    </message>
    <message>
        <source>倒计时 %1</source>
        <translation>Starts in %1</translation>
    </message>
    <message>
        <source>进入课堂</source>
        <translation>Enter class</translation>
    </message>
    <message>
        <source>确认上课</source>
        <translation>Start class</translation>
    </message>
    <message>
        <source>亲，您要进入此课堂吗?
《%1》</source>
        <translation>Do you want to enter this class?
“%1”</translation>
    </message>
    <message>
        <source>
开始上课后，您的整个桌面将共享给学生。</source>
        <translation>
Once the class starts, your whole desktop is shared with the students.</translation>
    </message>
    <message>
        <source>倒计时:%1:%2:%3</source>
        <translation>Starts in %1:%2:%3</translation>
    </message>
    <message>
        <source>一对一</source>
        <translation>1-on-1</translation>
    </message>
    <message>
        <source>线下班</source>
        <translation>On site</translation>
    </message>
    <message>
        <source>直播课</source>
        <translation>Live</translation>
    </message>
</context>
<context>
    <name>LoginDlg</name>
    <message>
        <source>请输入用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>请输入密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>确       定</source>
        <translation>Sign in</translation>
    </message>
    <message>
        <source>用户名或密码错误</source>
        <translation>Wrong user name or password</translation>
    </message>
    <message>
        <source>用户名输入错误</source>
        <translation>Please enter a valid user name</translation>
    </message>
    <message>
        <source>密码输入错误</source>
        <translation>Please enter a valid password</translation>
    </message>
    <message>
        <source>用户名或密码输入错误</source>
        <translation>Please enter your user name and password</translation>
    </message>
    <message>
        <source>免费注册</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>关闭提示</source>
        <translation>Close the notice</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>亲，您要进入此课堂吗?</source>
        <translation>Do you want to enter this class?</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>MonitorChooser</name>
    <message>
        <source>选择共享的屏幕</source>
        <translation>Choose the screen to share</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>Screen</name>
    <message>
        <source>[关闭对话]</source>
        <translation>[End voice]</translation>
    </message>
    <message>
        <source>[开启对话]</source>
        <translation>[Start voice]</translation>
    </message>
    <message>
        <source>课堂地址无效</source>
        <translation>Invalid class address</translation>
    </message>
    <message>
        <source>等待老师开始上课…</source>
        <translation>Waiting for the teacher to start…</translation>
    </message>
    <message>
        <source>连接中断，正在重连…</source>
        <translation>Connection lost, reconnecting…</translation>
    </message>
    <message>
        <source>麦克风没有声音，请检查麦克风</source>
        <translation>No sound from the microphone; please check it</translation>
    </message>
    <message>
        <source>[全屏]</source>
        <translation>[Full screen]</translation>
    </message>
    <message>
        <source>[退出全屏]</source>
        <translation>[Exit full screen]</translation>
    </message>
    <message>
        <source>正在上课，确定要结束本节课吗？</source>
        <translation>A class is on. End this class?</translation>
    </message>
    <message>
        <source>麦克风</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Microphone level</translation>
    </message>
    <message>
        <source>[结束]</source>
        <translation>[End]</translation>
    </message>
    <message>
        <source>[录制]</source>
        <translation>[Record]</translation>
    </message>
    <message>
        <source>[启动对话]</source>
        <translation>[Start voice]</translation>
    </message>
    <message>
        <source>学生语音音量</source>
        <translation>Student voice level</translation>
    </message>
    <message>
        <source>语音对话已停止：</source>
        <translation>Voice stopped: </translation>
    </message>
    <message>
        <source>取消静音</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>静音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>…</source>
        <translation>…</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>正在连接直播服务器…</source>
        <translation>Connecting to the live server…</translation>
    </message>
    <message>
        <source>● 直播中 </source>
        <translation>● Live </translation>
    </message>
    <message>
        <source>直播已停止：</source>
        <translation>Live stopped: </translation>
    </message>
    <message>
        <source>学员 %1</source>
        <translation>Students %1</translation>
    </message>
    <message>
        <source>学生语音：开</source>
        <translation>Student voice: on</translation>
    </message>
    <message>
        <source>学生语音：关</source>
        <translation>Student voice: off</translation>
    </message>
    <message>
        <source>课程列表</source>
        <translation>Course list</translation>
    </message>
    <message>
        <source>讨论和学员</source>
        <translation>Chat and students</translation>
    </message>
    <message>
        <source>播放/暂停</source>
        <translation>Play/Pause</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>播放进度</source>
        <translation>Playback position</translation>
    </message>
    <message>
        <source>流畅</source>
        <translation>Smooth</translation>
    </message>
    <message>
        <source>流畅画质</source>
        <translation>Smooth quality</translation>
    </message>
    <message>
        <source>流畅画质（640x360）：%1。网络好转后自动恢复清晰画质。</source>
        <translation>Smooth quality (640x360): %1. Full quality comes back by itself when the network improves.</translation>
    </message>
    <message>
        <source>  网络较慢，部分画面未发出，声音照常</source>
        <translation>  Slow network: some pictures not sent, sound as usual</translation>
    </message>
</context>
<context>
    <name>StudentWidget</name>
    <message>
        <source>讨  论</source>
        <translation>Chat</translation>
    </message>
    <message>
        <source>学 员</source>
        <translation>Students</translation>
    </message>
    <message>
        <source>试 听</source>
        <translation>Guests</translation>
    </message>
    <message>
        <source>聊天安全连接失败</source>
        <translation>No secure chat connection</translation>
    </message>
</context>
<context>
    <name>TalkContent</name>
    <message>
        <source>有新消息</source>
        <translation>New messages</translation>
    </message>
</context>
<context>
    <name>TalkWidget</name>
    <message>
        <source>发 言</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>聊天未连接</source>
        <translation>Chat not connected</translation>
    </message>
    <message>
        <source>聊天输入</source>
        <translation>Chat message</translation>
    </message>
    <message>
        <source>聊天记录</source>
        <translation>Chat history</translation>
    </message>
</context>
<context>
    <name>TaviHttp</name>
    <message>
        <source>网络连接不可用，请检查网络设置 get not online!</source>
        <translation>No network connection; please check your network settings</translation>
    </message>
    <message>
        <source>网络请求失败</source>
        <translation>Network request failed</translation>
    </message>
    <message>
        <source>安全连接失败</source>
        <translation>No secure connection</translation>
    </message>
</context>
<context>
    <name>TitleWidget</name>
    <message>
        <source>视频文件 (*.flv *.rmvb *.avi *.mp4 *.mkv *.mov *.webm *.ts);;所有文件 (*)</source>
        <translation>Video files (*.flv *.rmvb *.avi *.mp4 *.mkv *.mov *.webm *.ts);;All files (*)</translation>
    </message>
    <message>
        <source>[退出]</source>
        <translation>[Sign out]</translation>
    </message>
    <message>
        <source>今日课程</source>
        <translation>Today</translation>
    </message>
    <message>
        <source>本地播放</source>
        <translation>Play file</translation>
    </message>
    <message>
        <source>您，确定退出登录吗？</source>
        <translation>Sign out now?</translation>
    </message>
    <message>
        <source>未登录</source>
        <translation>Not signed in</translation>
    </message>
    <message>
        <source>选择要播放的文件</source>
        <translation>Choose a file to play</translation>
    </message>
    <message>
        <source>正在上课，确定要结束本节课吗？</source>
        <translation>A class is on. End this class?</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>最大化</source>
        <translation>Maximize</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>TrayMenu</name>
    <message>
        <source>显示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>登录网页</source>
        <translation>Open the school site</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>playAudioVideoCtrl</name>
    <message>
        <source>直播服务器无法连接</source>
        <translation>Cannot reach the live server</translation>
    </message>
    <message>
        <source>无法打开屏幕采集</source>
        <translation>Cannot capture the screen</translation>
    </message>
    <message>
        <source>屏幕采集出错</source>
        <translation>Screen capture failed</translation>
    </message>
    <message>
        <source>无法打开麦克风</source>
        <translation>Cannot open the microphone</translation>
    </message>
    <message>
        <source>课堂地址无效</source>
        <translation>Invalid class address</translation>
    </message>
    <message>
        <source>屏幕共享未获允许</source>
        <translation>Screen sharing was not allowed</translation>
    </message>
    <message>
        <source>无法重新开始</source>
        <translation>Cannot start again</translation>
    </message>
    <message>
        <source>课堂已结束</source>
        <translation>The class has ended</translation>
    </message>
    <message>
        <source>连接中断</source>
        <translation>Connection lost</translation>
    </message>
    <message>
        <source>已离开课堂</source>
        <translation>Left the class</translation>
    </message>
    <message>
        <source>网络跟不上课堂直播，画面两次落后</source>
        <translation>the network could not keep up with the class and fell behind twice</translation>
    </message>
    <message>
        <source>网络收到的数据少于课堂直播所需</source>
        <translation>the network brings less than the class needs</translation>
    </message>
</context>
<context>
    <name>recordText</name>
    <message>
        <source>出错了,初始化视屏设备失败！</source>
        <translation>Error: the screen capture could not start!</translation>
    </message>
    <message>
        <source>出错了,初始化音屏设备失败！</source>
        <translation>Error: the microphone could not start!</translation>
    </message>
    <message>
        <source>出错了,无法写入录制输出！</source>
        <translation>Error: cannot write the recording!</translation>
    </message>
    <message>
        <source>出错了,输出地址过长！</source>
        <translation>Error: the output address is too long!</translation>
    </message>
    <message>
        <source>出错了,视频采集中断！</source>
        <translation>Error: the screen capture stopped!</translation>
    </message>
    <message>
        <source>出错了,桌面不提供屏幕共享(xdg-desktop-portal)！</source>
        <translation>Error: this desktop offers no screen sharing (xdg-desktop-portal)!</translation>
    </message>
    <message>
        <source>出错了,屏幕共享被取消或拒绝！</source>
        <translation>Error: screen sharing was cancelled or refused!</translation>
    </message>
    <message>
        <source>出错了,无法开始屏幕共享！</source>
        <translation>Error: screen sharing could not start!</translation>
    </message>
    <message>
        <source>出错了,屏幕共享已停止！</source>
        <translation>Error: screen sharing stopped!</translation>
    </message>
    <message>
        <source>未找到摄像头</source>
        <translation>No camera found</translation>
    </message>
    <message>
        <source>摄像头正被其他程序使用，请关闭该程序后再试</source>
        <translation>Another program is using the camera; close it and try again</translation>
    </message>
    <message>
        <source>摄像头无法打开</source>
        <translation>The camera cannot be opened</translation>
    </message>
    <message>
        <source>摄像头已断开，桌面画面继续；重新插好后可再打开</source>
        <translation>The camera was disconnected; the desktop goes on. Plug it in again to turn it back on</translation>
    </message>
    <message>
        <source>出错了,上一次录制尚未结束！</source>
        <translation>Error: the last recording has not finished yet!</translation>
    </message>
</context>
<context>
    <name>recordWindow</name>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>[扬声器] </source>
        <translation>[Speakers] </translation>
    </message>
    <message>
        <source>出错了,初始化视屏设备失败！123</source>
        <translation>Error: the screen capture could not start!</translation>
    </message>
    <message>
        <source>出错了,初始化音屏设备失败！456</source>
        <translation>Error: the microphone could not start!</translation>
    </message>
    <message>
        <source>sss</source>
        <translation>Save recording as</translation>
    </message>
    <message>
        <source>视频文件 (*.mp4);;</source>
        <translation>Video files (*.mp4);;</translation>
    </message>
    <message>
        <source>出错了,音频或视频设备未就绪，程序无法运行！</source>
        <translation>Error: the microphone or the screen is not ready; cannot record!</translation>
    </message>
    <message>
        <source>请先设置保存文件路径</source>
        <translation>Please choose where to save the recording first</translation>
    </message>
    <message>
        <source>“%1”已存在，要替换它吗？</source>
        <translation>“%1” already exists. Replace it?</translation>
    </message>
    <message>
        <source>正在录制，要停止录制并保存录像吗？</source>
        <translation>Recording. Stop and save the recording?</translation>
    </message>
    <message>
        <source>已保存：</source>
        <translation>Saved: </translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>回放</source>
        <translation>Play back</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Microphone level</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>录制屏幕:</source>
        <translation>Screen:</translation>
    </message>
    <message>
        <source>录制画面:</source>
        <translation>Picture:</translation>
    </message>
    <message>
        <source>录制画面</source>
        <translation>Picture</translation>
    </message>
    <message>
        <source>桌面</source>
        <translation>Desktop</translation>
    </message>
    <message>
        <source>桌面和摄像头</source>
        <translation>Desktop and camera</translation>
    </message>
    <message>
        <source>摄像头</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>麦克风:</source>
        <translation>Microphone:</translation>
    </message>
    <message>
        <source>录屏保存位置：</source>
        <translation>Save to:</translation>
    </message>
</context>
<context>
    <name>updateCtrl</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>程序升级中......</source>
        <translation>Updating…</translation>
    </message>
</context>
<context>
    <name>winStart</name>
    <message>
        <source>程序升级成功！</source>
        <translation>Update complete!</translation>
    </message>
    <message>
        <source>程序升级失败！</source>
        <translation>Update failed!</translation>
    </message>
    <message>
        <source>mainStart函数加载失败！</source>
        <translation>Cannot start the client (mainStart missing)!</translation>
    </message>
    <message>
        <source>加载失败！</source>
        <translation> could not be loaded!</translation>
    </message>
</context>
</TS>
