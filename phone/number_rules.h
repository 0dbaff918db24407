// The service's rules for a number typed in the main window.
#pragma once

#include <string>
#include <string_view>

namespace velkor::phone {

enum class Verdict {
    Empty,
    TooShort,
    NeedsLeadingZero,
    NotAllDigits,
    BalanceTooLow,
    Accepted,
};

// The two service numbers: no leading zero needed, no balance needed, no dial tone.
bool isServiceNumber(std::string_view number);

// number and balance are GBK texts; lengths count bytes.
Verdict numberVerdict(std::string_view number, std::string_view balanceText);

// The status line text of a verdict (GBK); "正在呼叫:" + number when accepted.
std::string verdictText(Verdict verdict, std::string_view number);

// The leading decimal number of a text as strtod reads it; 0 without one.
double leadingNumber(std::string_view text);

} // namespace velkor::phone
