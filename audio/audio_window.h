// The audio device settings window: the playback and recording devices of the
// calls and the three voice-processing switches of the SIP session.
//
// The switches act on the running session at once when clicked; Apply stores
// the devices and the switches in Audio.xml and Call.xml and in the main
// window's copies (the session's audio settings), which the main window uses
// from its next call on. Cancel and the close box store nothing.
#pragma once

#include "platform/ui/dialog.h"
#include "settings/settings_files.h"
#include "telephony/session.h"

#include <string>
#include <vector>

class QComboBox;

namespace velkor::audio {

class Caudio : public ui::Dialog {
    Q_OBJECT
public:
    static constexpr int kDialogId = 133;
    enum ControlId : int {
        kEchoBox = 1002,   // echo cancellation: AEC mode 2 / 0, a11
        kNoiseBox = 1003,  // noise reduction: mode 1 / 0, a22
        kGainBox = 1004,   // automatic gain: mode 1 / 0, a33
        kApply = 1035,
        kCancel = 1036,
        kOutputList = 1038,
        kInputList = 1039,
    };

    // Preselects the session's device names and switches; the lists hold the
    // engine's devices in device order.
    explicit Caudio(tel::SipSession& session, QWidget* owner = nullptr);

    static const ui::DialogTemplate& dialogTemplate();

    QComboBox* outputList() const;
    QComboBox* inputList() const;

    // Apply: nothing while either list has no selection; otherwise stores and closes.
    void apply();

protected:
    bool preTranslateKey(QKeyEvent* event) override;

private:
    void fillList(QComboBox* list, const std::vector<std::string>& names, const std::string& preselect);
    static std::string chosen(const QComboBox* list, const std::vector<std::string>& names);

    tel::SipSession& session_;
    std::vector<std::string> outputs_;
    std::vector<std::string> inputs_;
};

} // namespace velkor::audio
