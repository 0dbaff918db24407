#include "audio/help_window.h"

#include "platform/gbk.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>

namespace velkor::audio {

namespace {

// The advice, one section per cause, in the order a user checks them.
constexpr const char* kHelpPage =
    "<p style='margin-bottom:6px'><b>通话声音不好？请按下面的方法检查：</b></p>"
    "<p style='margin-top:4px'><b>一、对方听不到或听不清您的声音（麦克风）</b></p>"
    "<ul>"
    "<li>检查麦克风是否插在电脑的麦克风插孔（一般为粉红色）上，插头要插紧。</li>"
    "<li>在“音频设置”中选择您正在使用的输入设备。</li>"
    "<li>不要勾选主窗口的麦克风静音，并把麦克风音量调大；声音仍然太小时可勾选“声音扩大”。</li>"
    "</ul>"
    "<p style='margin-top:4px'><b>二、听不到或听不清对方的声音（扬声器）</b></p>"
    "<ul>"
    "<li>检查音箱或耳机是否插好，音箱的电源和音量旋钮是否打开。</li>"
    "<li>在“音频设置”中选择您正在使用的输出设备。</li>"
    "<li>取消主窗口的扬声器静音，并把扬声器音量调大。</li>"
    "</ul>"
    "<p style='margin-top:4px'><b>三、对方听到回声或杂音</b></p>"
    "<ul>"
    "<li>最好使用耳机；使用音箱时请把音量调小，让麦克风远离音箱。</li>"
    "<li>在“音频设置”中勾选“回音消除”；周围嘈杂时勾选“杂音消除”。</li>"
    "</ul>"
    "<p style='margin-top:4px'><b>四、声音断断续续或延迟很大（网络）</b></p>"
    "<ul>"
    "<li>通话时请暂停下载、在线视频、网络游戏等占用网络的程序。</li>"
    "<li>尽量使用有线网络；使用无线网络时请靠近路由器。</li>"
    "<li>网络繁忙时请挂断，稍候再拨。</li>"
    "</ul>"
    "<p>设备更换后，新的设置从下一次通话开始生效。</p>";

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
    page_ = new QLabel(this);
    page_->setObjectName(QStringLiteral("helpPage"));
    page_->setTextFormat(Qt::RichText);
    page_->setWordWrap(true);
    page_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page_->setText(QString::fromUtf8(kHelpPage));
    page_->setGeometry(mapDialogRect(8, 6, 238, 249));
}

bool yuyin::preTranslateKey(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return false;
    }
}

} // namespace velkor::audio
