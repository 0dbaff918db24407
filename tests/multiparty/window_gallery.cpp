// Shows one of the secondary windows, skinned and filled with sample content,
// for screenshots of the documentation (run under Xvfb):
//   velkor_window_gallery multiparty|audio|help
#include "audio/audio_window.h"
#include "audio/help_window.h"
#include "multiparty/multiparty_window.h"
#include "platform/gbk.h"
#include "resources/resources.h"
#include "skin/skin.h"
#include "telephony/fake_sipx.h"

#include <QApplication>

#include <cstring>
#include <memory>

using namespace velkor;
using gbk::lit;

namespace {

class Host : public tel::SessionHost {
public:
    void postMessage(int) override {}
    void setStatusText(const std::string&) override {}
    void startTimer(int, int) override {}
    void showMessage(const std::string&) override {}
    void playSound(int) override {}
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const char* which = argc > 1 ? argv[1] : "multiparty";
    initResources();
    ui::Dialog::setCreationHook(skin::skinWindow);
    skin::start();
    skin::load("superxp.rss", 0);

    tel::FakeSipx fake;
    tel::ScopedSipxApi use(fake);
    fake.setDevices({lit("麦克风 (Realtek High Definition Audio)"), lit("麦克风 (USB Audio Device)")},
                    {lit("扬声器 (Realtek High Definition Audio)"), lit("耳机 (USB Audio Device)")});
    Host host;
    tel::SipSession session(host, [](std::function<void()>) {});
    session.account.sipServer = "127.0.0.1:5060";
    session.start();
    session.audio = {lit("麦克风 (USB Audio Device)"), lit("耳机 (USB Audio Device)"), 1, 0, 1};

    std::unique_ptr<ui::Dialog> w;
    if (std::strcmp(which, "audio") == 0) {
        w = std::make_unique<audio::Caudio>(session);
    } else if (std::strcmp(which, "help") == 0) {
        w = std::make_unique<audio::yuyin>();
    } else {
        auto m = std::make_unique<multiparty::cduoren1>(session, [] { return std::string("25.60"); });
        m->setItemText(multiparty::kNumber1, "02187654321");
        m->setItemText(multiparty::kNumber2, "013912345678");
        m->setItemText(multiparty::kNumber3, "0755123");
        m->dial(1);
        m->dial(2);
        m->dial(3);
        m->onLegConnected(1);
        m->setItemText(multiparty::kStatus1, "00:03:27");
        m->onLegRinging(2);
        w = std::move(m);
    }
    w->move(20, 20);
    w->show();
    return app.exec();
}
