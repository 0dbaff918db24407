#include "phone/number_rules.h"

#include "platform/gbk.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace velkor::phone {

bool isServiceNumber(std::string_view number) { return number == "90000" || number == "90006"; }

double leadingNumber(std::string_view text)
{
    // The "C" locale's decimal point, whatever locale the process runs in.
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    const std::string s(text); // NUL-terminated
    return strtod_l(s.c_str(), nullptr, c);
}

Verdict numberVerdict(std::string_view number, std::string_view balanceText)
{
    if (number.empty())
        return Verdict::Empty;
    if (number.size() < 4)
        return Verdict::TooShort;
    const bool service = isServiceNumber(number);
    if (number[0] != '0' && !service)
        return Verdict::NeedsLeadingZero;
    for (char c : number)
        if (c < '0' || c > '9')
            return Verdict::NotAllDigits;
    if (!service && leadingNumber(balanceText) < 0.12)
        return Verdict::BalanceTooLow;
    return Verdict::Accepted;
}

std::string verdictText(Verdict verdict, std::string_view number)
{
    switch (verdict) {
    case Verdict::Empty:
        return gbk::lit("请输入对方电话号码");
    case Verdict::TooShort:
        return gbk::lit("对方电话号码不正确");
    case Verdict::NeedsLeadingZero:
        return gbk::lit("手机请在号码前加0");
    case Verdict::NotAllDigits:
        return gbk::lit("对方电话号码错误");
    case Verdict::BalanceTooLow:
        return gbk::lit("话费余额不足.请充值");
    case Verdict::Accepted:
        return gbk::lit("正在呼叫:") + std::string(number);
    }
    return {};
}

} // namespace velkor::phone
