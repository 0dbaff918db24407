// The one-line reply of the service: "status!f1@f2#f3$f4%f5^rest".
#pragma once

#include <string>
#include <string_view>

namespace velkor::service {

// Text before the first '!'; empty when the line has none.
std::string statusWord(std::string_view line);

// Text from just after the first `open` to just before the first `close`, both
// searched from the start of the line by GBK characters (a trail byte never counts).
// Empty when either is missing or `close` comes before `open`.
std::string replyField(std::string_view line, char open, char close);

struct ReplyFields {
    std::string status;
    std::string field1;  // '!' .. '@'
    std::string field2;  // '@' .. '#'
    std::string field3;  // '#' .. '$'
    std::string field4;  // '$' .. '%'
    std::string field5;  // '%' .. '^'
};
ReplyFields parseReply(std::string_view line);

} // namespace velkor::service
