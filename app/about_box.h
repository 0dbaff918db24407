// The about box: product, version and date; closes with its close box or Esc.
#pragma once

class QWidget;

namespace velkor::app {

void runAboutBox(QWidget* owner);

} // namespace velkor::app
