// Conversions between the program's GBK byte strings and Qt's strings, at the widget edge.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace velkor::ui {

QString toQ(std::string_view gbk);
std::string fromQ(const QString& text);

} // namespace velkor::ui
