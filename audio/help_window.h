// The sound-quality help window: advice on the microphone, the speakers,
// echo and the network, opened from the main window while a call rings or
// runs. It has no controls and no logic; Escape and Enter do not close it,
// its close box does.
#pragma once

#include "platform/ui/dialog.h"

class QLabel;

namespace velkor::audio {

class yuyin : public ui::Dialog {
    Q_OBJECT
public:
    static constexpr int kDialogId = 160;

    explicit yuyin(QWidget* owner = nullptr);

    static const ui::DialogTemplate& dialogTemplate();

    // The help page shown (rich text).
    QLabel* page() const { return page_; }

protected:
    bool preTranslateKey(QKeyEvent* event) override;

private:
    QLabel* page_ = nullptr;
};

} // namespace velkor::audio
