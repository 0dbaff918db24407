#include "multiparty/multiparty_window.h"

#include "platform/gbk.h"
#include "platform/ui/seams.h"
#include "platform/ui/text.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QValidator>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace velkor::multiparty {

using gbk::lit;

namespace {

constexpr int kSoundHangUp = 145;
constexpr int kSoundDialled = 149;
constexpr int kSoundWarning = 151;
constexpr int kSoundCallEnded = 153;
constexpr int kHint = -1; // a static text without an ID of its own

// The leading decimal number of a text as strtod reads it, in the "C" locale
// whatever locale the process runs in; 0 without one.
double leadingNumber(std::string_view text)
{
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    const std::string s(text);
    return strtod_l(s.c_str(), nullptr, c);
}

// Keeps a number edit within kNumberLimit bytes of GBK (a Chinese character
// counts two), the way the model counts lengths.
class GbkLengthValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return ui::fromQ(input).size() <= static_cast<std::size_t>(kNumberLimit) ? Acceptable : Invalid;
    }
};

} // namespace

const LegControls kLegControls[3] = {
    {kNumber1, kCall1, kHangUp1, kStatus1, 1},
    {kNumber2, kCall2, kHangUp2, kStatus2, 2},
    {kNumber3, kCall3, kHangUp3, kStatus3, 3},
};

std::string dialRefusal(std::string_view number, std::string_view balanceText)
{
    // A balance that reads as no number at all (NaN) is too low as well.
    if (!(leadingNumber(balanceText) >= kMinimumBalance))
        return lit("话费不足");
    if (number.size() < 9)
        return lit("号码错误");
    for (char c : number)
        if (c < '0' || c > '9')
            return lit("号码错误");
    if (number[0] != '0')
        return lit("手机前加0");
    return {};
}

std::string talkTime(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(seconds / 3600 % 24), int(seconds / 60 % 60),
                  int(seconds % 60));
    return buf;
}

const ui::DialogTemplate& cduoren1::dialogTemplate()
{
    using ui::Kind;
    static const ui::DialogTemplate t = [] {
        ui::DialogTemplate d{kDialogId, lit("多人通话模式(多方通话)"), 262, 100, {}};
        d.minimizeBox = false;
        d.controls.push_back({kHint, Kind::Static, lit("最多可同时与三方通话，固话和手机号码前都要加0"), 10, 8, 246, 8});
        const std::string call = lit("呼 叫"), hangUp = lit("挂 断");
        for (int i = 0; i < 3; ++i) {
            const LegControls& c = kLegControls[i];
            const int y = 22 + 24 * i;
            d.controls.push_back({c.number, Kind::Edit, "", 10, y, 100, 16});
            d.controls.push_back({c.call, Kind::PushButton, call, 116, y, 40, 16});
            d.controls.push_back({c.hangUp, Kind::PushButton, hangUp, 160, y, 40, 16});
            d.controls.push_back({c.status, Kind::Static, "", 204, y + 4, 52, 8, ui::kCentered});
        }
        return d;
    }();
    return t;
}

cduoren1::cduoren1(tel::SipSession& session, std::function<std::string()> balance, QWidget* owner)
    : ui::Dialog(dialogTemplate(), owner), session_(session), balance_(std::move(balance))
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    // Modal: the owner takes no input while this window runs.
    setWindowModality(Qt::WindowModal);

    // The numbers: Arial 16 bold (a metric-compatible face where Arial is missing).
    QFont numberFont;
    numberFont.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    numberFont.setPixelSize(16);
    numberFont.setBold(true);
    for (int leg = 1; leg <= 3; ++leg) {
        const LegControls& c = kLegControls[leg - 1];
        auto* edit = controlAs<QLineEdit>(c.number);
        edit->setFont(numberFont);
        edit->setMaxLength(kNumberLimit);
        edit->setValidator(new GbkLengthValidator(edit));
        onCommand(c.call, [this, leg] { dial(leg); });
        onCommand(c.hangUp, [this, leg] { hangUp(leg); });
    }

    // A new conference at every opening, held and taken off hold while empty.
    auto& h = session_.handles;
    sipxConferenceCreate(h.instance, &h.conference);
    sipxConferenceHold(h.conference, 1);
    sipxConferenceUnhold(h.conference);
    session_.attachMultiParty(this);
}

cduoren1::~cduoren1()
{
    // Every leg ends, whatever its state; the library refuses empty slots.
    for (int leg = 1; leg <= 3; ++leg) {
        sipxCallHold(slot(leg), 1);
        sipxCallDestroy(&slot(leg));
        killTimer(kLegControls[leg - 1].timer);
    }
    auto& h = session_.handles;
    if (h.conference != 0) {
        sipxConferenceDestroy(h.conference);
        h.conference = 0;
    }
    // From here on no leg event reaches this window.
    session_.detachMultiParty();
}

void cduoren1::refuse(const LegControls& c, const std::string& text)
{
    setItemText(c.status, text);
    ui::playSound(kSoundWarning);
}

void cduoren1::dial(int leg)
{
    if (!validLeg(leg))
        return;
    Leg& l = legs_[static_cast<std::size_t>(leg - 1)];
    const LegControls& c = kLegControls[leg - 1];
    if (l.busy)
        return;
    const std::string number = itemText(c.number);
    if (const std::string refusal = dialRefusal(number, balance_ ? balance_() : std::string()); !refusal.empty()) {
        refuse(c, refusal);
        return;
    }
    setItemText(c.status, lit("正在呼叫"));
    l.busy = 1;
    l.connectTime = 0;
    const std::string address = "sip:" + number + "@" + session_.account.sipServer;
    // A call the far end ended keeps its handle until the leg is dialled again:
    // release it now, or the library would keep it for the whole session.
    if (slot(leg) != 0)
        sipxCallDestroy(&slot(leg));
    static const SIPX_CALL_OPTIONS options{24, 1, 1, 1, 1, 0};
    auto& h = session_.handles;
    sipxConferenceAdd(h.conference, h.line, address.c_str(), &slot(leg), 1, nullptr, nullptr, 1, &options);
    ui::playSound(kSoundDialled);
}

void cduoren1::hangUp(int leg)
{
    if (!validLeg(leg))
        return;
    const LegControls& c = kLegControls[leg - 1];
    sipxCallHold(slot(leg), 1);
    sipxCallDestroy(&slot(leg));
    setItemText(c.status, "");
    legs_[static_cast<std::size_t>(leg - 1)].busy = 0;
    killTimer(c.timer);
    ui::playSound(kSoundHangUp);
}

void cduoren1::onLegRinging(int leg)
{
    if (validLeg(leg))
        setItemText(kLegControls[leg - 1].status, lit("正在震铃"));
}

void cduoren1::onLegConnected(int leg)
{
    if (!validLeg(leg))
        return;
    const LegControls& c = kLegControls[leg - 1];
    setTimer(c.timer, kTalkTimerMs);
    legs_[static_cast<std::size_t>(leg - 1)].connectTime = ui::calendarNow();
    setItemText(c.status, lit("开始通话"));
}

void cduoren1::onLegDisconnected(int leg)
{
    if (!validLeg(leg))
        return;
    const LegControls& c = kLegControls[leg - 1];
    ui::playSound(kSoundCallEnded);
    setItemText(c.status, lit("通话结束"));
    killTimer(c.timer);
    legs_[static_cast<std::size_t>(leg - 1)].busy = 0;
}

void cduoren1::onTimer(int id)
{
    for (int leg = 1; leg <= 3; ++leg) {
        const LegControls& c = kLegControls[leg - 1];
        if (c.timer == id)
            setItemText(c.status, talkTime(ui::calendarNow() - legs_[static_cast<std::size_t>(leg - 1)].connectTime));
    }
}

bool cduoren1::preTranslateKey(QKeyEvent* event)
{
    // Neither closes the window nor presses a button.
    return isEnterOrEscape(event);
}

} // namespace velkor::multiparty
