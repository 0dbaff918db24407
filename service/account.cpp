#include "service/account.h"

#include "platform/gbk.h"

namespace velkor::service {

HostPort splitHostPort(std::string_view text)
{
    HostPort r;
    const auto colon = gbk::find(text, ':');
    if (colon == std::string_view::npos)
        return r;
    r.host = std::string(text.substr(0, colon));
    long value = 0;
    bool digits = false;
    for (std::size_t i = colon + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        value = value * 10 + (text[i] - '0');
        if (value > 65535)
            return r;  // out of range however many digits follow
    }
    if (digits && value >= 1)
        r.port = static_cast<int>(value);
    return r;
}

} // namespace velkor::service
