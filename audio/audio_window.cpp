#include "audio/audio_window.h"

#include "platform/gbk.h"
#include "platform/ui/text.h"
#include "telephony/sipx_api.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>

#include <algorithm>

namespace velkor::audio {

using gbk::lit;

namespace {

// Controls without an ID of their own.
constexpr int kFrame = -1;
constexpr int kHeading = -2;
constexpr int kOutputLabel = -3;
constexpr int kInputLabel = -4;

} // namespace

const ui::DialogTemplate& Caudio::dialogTemplate()
{
    using ui::Kind;
    static const ui::DialogTemplate t = [] {
        ui::DialogTemplate d{
            kDialogId,
            lit("音频设备设置"),
            196,
            136,
            {
                {kFrame, Kind::Custom, "", 7, 6, 182, 98},
                {kHeading, Kind::Static, lit("<音频设备设置>"), 7, 14, 182, 8, ui::kCentered},
                {kOutputLabel, Kind::Static, lit("输出设备:"), 16, 34, 40, 8},
                {kOutputList, Kind::Custom, "", 58, 32, 122, 80},
                {kInputLabel, Kind::Static, lit("输入设备:"), 16, 54, 40, 8},
                {kInputList, Kind::Custom, "", 58, 52, 122, 80},
                {kEchoBox, Kind::CheckBox, lit("回音消除"), 16, 80, 52, 10},
                {kNoiseBox, Kind::CheckBox, lit("杂音消除"), 72, 80, 52, 10},
                {kGainBox, Kind::CheckBox, lit("声音扩大"), 128, 80, 52, 10},
                {kApply, Kind::PushButton, lit("应 用 "), 46, 112, 46, 16},
                {kCancel, Kind::PushButton, lit("取 消"), 104, 112, 46, 16},
            },
        };
        d.minimizeBox = false;
        return d;
    }();
    return t;
}

Caudio::Caudio(tel::SipSession& session, QWidget* owner) : ui::Dialog(dialogTemplate(), owner), session_(session)
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    // Modal: the owner takes no input while this window runs.
    setWindowModality(Qt::WindowModal);

    // The frame and the two drop-down lists (not sorted: position = device order).
    auto* frame = new QGroupBox(this);
    replaceControl(kFrame, frame);
    frame->lower();
    for (int id : {kOutputList, kInputList}) {
        auto* list = new QComboBox(this);
        const QRect r = control(id)->geometry();
        replaceControl(id, list);
        list->setGeometry(r.x(), r.y(), r.width(),
                          std::max(list->sizeHint().height(), mapDialogRect(0, 0, 0, 14).height()));
    }

    const SIPX_INST instance = session_.handles.instance;
    outputs_ = tel::sipxOutputDeviceNames(instance);
    inputs_ = tel::sipxInputDeviceNames(instance);
    fillList(outputList(), outputs_, session_.audio.outputDevice);
    fillList(inputList(), inputs_, session_.audio.inputDevice);
    setChecked(kEchoBox, session_.audio.echoCancellation != 0);
    setChecked(kNoiseBox, session_.audio.noiseReduction != 0);
    setChecked(kGainBox, session_.audio.automaticGain != 0);

    // A click changes the running session only; Apply stores the switches.
    onCommand(kEchoBox, [this] { sipxAudioSetAECMode(session_.handles.instance, isChecked(kEchoBox) ? 2 : 0); });
    onCommand(kNoiseBox,
              [this] { sipxAudioSetNoiseReductionMode(session_.handles.instance, isChecked(kNoiseBox) ? 1 : 0); });
    onCommand(kGainBox, [this] { sipxAudioSetAGCMode(session_.handles.instance, isChecked(kGainBox) ? 1 : 0); });
    onCommand(kApply, [this] { apply(); });
    onCommand(kCancel, [this] { close(); });
}

QComboBox* Caudio::outputList() const { return controlAs<QComboBox>(kOutputList); }

QComboBox* Caudio::inputList() const { return controlAs<QComboBox>(kInputList); }

void Caudio::fillList(QComboBox* list, const std::vector<std::string>& names, const std::string& preselect)
{
    int selected = -1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list->addItem(ui::toQ(names[i]));
        if (names[i] == preselect) // exact, case included; the last match wins
            selected = static_cast<int>(i);
    }
    list->setCurrentIndex(selected);
}

// The name of the entry chosen in a list, byte for byte as the engine gave it;
// empty without a selection.
std::string Caudio::chosen(const QComboBox* list, const std::vector<std::string>& names)
{
    const int i = list->currentIndex();
    return i >= 0 && static_cast<std::size_t>(i) < names.size() ? names[static_cast<std::size_t>(i)] : std::string();
}

void Caudio::apply()
{
    const std::string output = chosen(outputList(), outputs_);
    const std::string input = chosen(inputList(), inputs_);
    if (output.empty() || input.empty())
        return;
    settings::StoreAudioDevices(output, input);
    // The main window applies the devices before its next call.
    session_.audio.outputDevice = output;
    session_.audio.inputDevice = input;
    const settings::VoiceFlags flags{isChecked(kEchoBox) ? 1 : 0, isChecked(kNoiseBox) ? 1 : 0,
                                     isChecked(kGainBox) ? 1 : 0};
    session_.audio.echoCancellation = flags.echoCancellation;
    session_.audio.noiseReduction = flags.noiseReduction;
    session_.audio.automaticGain = flags.automaticGain;
    settings::StoreVoiceFlags(flags);
    close();
}

bool Caudio::preTranslateKey(QKeyEvent* event)
{
    // Neither closes the window nor presses a button; an open drop-down list
    // still takes them.
    if (QApplication::activePopupWidget())
        return false;
    return isEnterOrEscape(event);
}

} // namespace velkor::audio
