#include "service/reply.h"

#include "platform/gbk.h"

namespace velkor::service {

std::string statusWord(std::string_view line)
{
    const auto bang = gbk::find(line, '!');
    return bang == std::string_view::npos ? std::string() : std::string(line.substr(0, bang));
}

std::string replyField(std::string_view line, char open, char close)
{
    const auto from = gbk::find(line, open);
    const auto to = gbk::find(line, close);
    if (from == std::string_view::npos || to == std::string_view::npos || to <= from)
        return {};
    return std::string(line.substr(from + 1, to - from - 1));
}

ReplyFields parseReply(std::string_view line)
{
    ReplyFields f;
    f.status = statusWord(line);
    f.field1 = replyField(line, '!', '@');
    f.field2 = replyField(line, '@', '#');
    f.field3 = replyField(line, '#', '$');
    f.field4 = replyField(line, '$', '%');
    f.field5 = replyField(line, '%', '^');
    return f;
}

} // namespace velkor::service
