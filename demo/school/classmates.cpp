#include "classmates.h"

const std::vector<Classmate> &demoClassmates()
{
    static const std::vector<Classmate> classmates = {
        {QStringLiteral("c9001"), QStringLiteral("chenxh"), QStringLiteral("陈小红")},
        {QStringLiteral("c9002"), QStringLiteral("liuym"), QStringLiteral("刘一鸣")},
        {QStringLiteral("c9003"), QStringLiteral("zhaoss"), QStringLiteral("赵思思")},
    };
    return classmates;
}

const QStringList &classmateLines()
{
    static const QStringList lines = {
        QStringLiteral("老师好！"),
        QStringLiteral("这一步我跟上了。"),
        QStringLiteral("能再讲一遍刚才那个例子吗？"),
        QStringLiteral("明白了，谢谢老师 :)"),
        QStringLiteral("我这边声音和画面都很清楚。"),
        QStringLiteral("作业是下节课之前交吗？"),
        QStringLiteral("笔记记好了，继续吧。"),
        QStringLiteral("这个地方我之前一直没弄懂，现在懂了！"),
        QStringLiteral("有没有同学一起做练习？"),
        QStringLiteral("课件在哪里下载？"),
    };
    return lines;
}

const std::vector<DemoNotice> &demoNotices()
{
    static const std::vector<DemoNotice> notices = {
        {true, 1011, QStringLiteral("本节课的课件已更新，点击查看。")},
        {false, 7, QStringLiteral("下周一起开放期中模拟测试。")},
        {true, 1012, QStringLiteral("课后练习题已上传。")},
        {false, 8, QStringLiteral("演示学校暑期课程开始报名。")},
    };
    return notices;
}
