#include "platform/ui/text.h"

#include "platform/gbk.h"

namespace velkor::ui {

QString toQ(std::string_view gbk)
{
    const auto u = gbk::toUtf16(gbk);
    return QString::fromUtf16(u.text.data(), static_cast<qsizetype>(u.text.size()));
}

std::string fromQ(const QString& text)
{
    return gbk::fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                              static_cast<std::size_t>(text.size())))
        .text;
}

} // namespace velkor::ui
