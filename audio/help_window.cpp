#include "audio/help_window.h"

#include "platform/gbk.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>

#include <initializer_list>

namespace velkor::audio {

namespace {

// The advice, one section per cause, in the order a user checks them.
struct Section {
    const char* heading;
    std::initializer_list<const char*> items;
};
const Section kSections[] = {
    {"一、对方听不到或听不清您的声音（麦克风）",
     {"检查麦克风是否插在电脑的麦克风插孔（一般为粉红色）上，插头要插紧。",
      "在“音频设置”中选择您正在使用的输入设备。",
      "不要勾选主窗口的麦克风静音，并把麦克风音量调大；声音仍然太小时可勾选“声音扩大”。"}},
    {"二、听不到或听不清对方的声音（扬声器）",
     {"检查音箱或耳机是否插好，音箱的电源和音量旋钮是否打开。", "在“音频设置”中选择您正在使用的输出设备。",
      "取消主窗口的扬声器静音，并把扬声器音量调大。"}},
    {"三、对方听到回声或杂音",
     {"最好使用耳机；使用音箱时请把音量调小，让麦克风远离音箱。",
      "在“音频设置”中勾选“回音消除”；周围嘈杂时勾选“杂音消除”。"}},
    {"四、声音断断续续或延迟很大（网络）",
     {"通话时请暂停下载、在线视频、网络游戏等占用网络的程序。", "尽量使用有线网络；使用无线网络时请靠近路由器。",
      "网络繁忙时请挂断，稍候再拨。"}},
};

// The page as rich text: headings, and items with a hanging bullet.
QString helpPage()
{
    QString html = QStringLiteral("<p style='margin-bottom:4px'><b>%1</b></p>")
                       .arg(QString::fromUtf8("通话声音不好？请按下面的方法检查："));
    for (const Section& s : kSections) {
        html += QStringLiteral("<p style='margin-top:10px; margin-bottom:3px; font-weight:bold; color:#1b4f93'>%1</p>")
                    .arg(QString::fromUtf8(s.heading));
        for (const char* item : s.items)
            html += QStringLiteral("<p style='margin-left:14px; text-indent:-10px; margin-top:2px; margin-bottom:2px'>"
                                   "• %1</p>")
                        .arg(QString::fromUtf8(item));
    }
    html += QStringLiteral("<p style='margin-top:12px'>%1</p>").arg(QString::fromUtf8("更换的设备从下一次通话开始使用。"));
    return html;
}

} // namespace

const ui::DialogTemplate& yuyin::dialogTemplate()
{
    static const ui::DialogTemplate t = [] {
        ui::DialogTemplate d{kDialogId, gbk::lit("音质问题？"), 254, 261, {}};
        d.minimizeBox = false;
        return d;
    }();
    return t;
}

yuyin::yuyin(QWidget* owner) : ui::Dialog(dialogTemplate(), owner)
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    // Modal: the owner takes no input while this window runs.
    setWindowModality(Qt::WindowModal);
    page_ = new QLabel(this);
    page_->setObjectName(QStringLiteral("helpPage"));
    page_->setTextFormat(Qt::RichText);
    page_->setWordWrap(true);
    page_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page_->setText(helpPage());
    page_->setGeometry(mapDialogRect(8, 6, 238, 249));
}

bool yuyin::preTranslateKey(QKeyEvent* event)
{
    return isEnterOrEscape(event);
}

} // namespace velkor::audio
