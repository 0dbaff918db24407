// The multi-party window: up to three numbers dialled into one local
// conference of the main window's SIP session, each leg with its own call and
// hang-up buttons, status text and talk time.
//
// The window lives only while it runs modally. Constructing it creates a new
// conference in the session and makes the window the session's leg handler;
// destroying it ends the three legs, releases the conference and detaches, so
// no leg event reaches a window that has gone.
#pragma once

#include "platform/ui/dialog.h"
#include "telephony/session.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velkor::multiparty {

inline constexpr int kDialogId = 159;

enum ControlId : int {
    kNumber1 = 1001,
    kNumber2 = 1002,
    kNumber3 = 1003,
    kCall1 = 1034,
    kHangUp1 = 1035,
    kCall2 = 1036,
    kHangUp2 = 1437,
    kCall3 = 1038,
    kHangUp3 = 1039,
    kStatus1 = 1050,
    kStatus2 = 1051,
    kStatus3 = 1052,
};

// The controls and the talk-time timer of one leg.
struct LegControls {
    int number;
    int call;
    int hangUp;
    int status;
    int timer;
};
// Legs 1 to 3 in order (index = leg - 1).
extern const LegControls kLegControls[3];

inline constexpr int kTalkTimerMs = 984;
inline constexpr int kNumberLimit = 17; // bytes of a number edit
inline constexpr double kMinimumBalance = 0.1;

// Why a leg's number is refused (the leg's status text, GBK), or empty when it
// may be dialled. The balance is looked at before the number.
std::string dialRefusal(std::string_view number, std::string_view balanceText);

// "%H:%M:%S" of a duration, the hours within a day.
std::string talkTime(std::int64_t seconds);

class cduoren1 : public ui::Dialog, public tel::LegHandlers {
    Q_OBJECT
public:
    // balance: the main window's balance text, read at each dial. The SIP
    // server for the legs' addresses is the session's.
    cduoren1(tel::SipSession& session, std::function<std::string()> balance, QWidget* owner = nullptr);
    ~cduoren1() override;

    static const ui::DialogTemplate& dialogTemplate();

    // Leg n is 1, 2 or 3.
    void dial(int leg);
    void hangUp(int leg);
    int busy(int leg) const { return legs_.at(static_cast<std::size_t>(leg - 1)).busy; }
    std::int64_t connectTime(int leg) const { return legs_.at(static_cast<std::size_t>(leg - 1)).connectTime; }

    // tel::LegHandlers: events of leg n's call, on the UI thread in event order.
    void onLegRinging(int leg) override;
    void onLegConnected(int leg) override;
    void onLegDisconnected(int leg) override;

protected:
    bool preTranslateKey(QKeyEvent* event) override;
    void onTimer(int id) override;

private:
    struct Leg {
        int busy = 0;
        std::int64_t connectTime = 0;
    };
    static bool validLeg(int leg) { return leg >= 1 && leg <= 3; }
    SIPX_CALL& slot(int leg) { return session_.handles.legs[static_cast<std::size_t>(leg - 1)]; }
    void refuse(const LegControls& c, const std::string& text);

    tel::SipSession& session_;
    std::function<std::string()> balance_;
    std::array<Leg, 3> legs_{};
};

} // namespace velkor::multiparty
