#include "service/address.h"

#include "platform/gbk.h"

#include <cstdio>
#include <mutex>

#ifndef VELKOR_SERVICE_BASE
#define VELKOR_SERVICE_BASE "http://127.0.0.1:18080"
#endif

namespace velkor::service {

namespace {
std::mutex baseMutex;
std::string& baseValue()
{
    static std::string base = VELKOR_SERVICE_BASE;
    return base;
}
} // namespace

std::string serviceBase()
{
    std::lock_guard lock(baseMutex);
    return baseValue();
}

void setServiceBase(std::string base)
{
    std::lock_guard lock(baseMutex);
    baseValue() = std::move(base);
}

std::string pageUrl(std::string_view base, std::string_view path)
{
    std::string url(base);
    url += path;
    return url;
}

std::string pageUrl(std::string_view path)
{
    return pageUrl(serviceBase(), path);
}

std::string percentEncode(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                           (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

std::string timeText(const std::tm& t)
{
    const int year = t.tm_year + 1900;
    if (year < 0 || year > 9999 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 ||
        t.tm_mday > 31 || t.tm_hour < 0 || t.tm_hour > 23 || t.tm_min < 0 || t.tm_min > 59 ||
        t.tm_sec < 0 || t.tm_sec > 60)
        return {};
    // The pattern's Chinese words in GBK, converted once.
    static const std::string now = gbk::fromUtf8("现在时间是").text;
    static const std::string yearWord = gbk::fromUtf8("年").text;
    static const std::string monthWord = gbk::fromUtf8("月").text;
    static const std::string dayWord = gbk::fromUtf8("日").text;
    char digits[64];
    std::snprintf(digits, sizeof digits, "%04d|%02d|%02d|%02d:%02d:%02d", year, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    const std::string_view d(digits);  // "YYYY|MM|DD|HH:MM:SS"
    return now + std::string(d.substr(0, 4)) + yearWord + std::string(d.substr(5, 2)) + monthWord +
           std::string(d.substr(8, 2)) + dayWord + " " + std::string(d.substr(11, 8));
}

std::string timeTextNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return {};
    return timeText(local);
}

std::string loginUrl(std::string_view base, std::string_view accountId,
                     std::string_view password, std::string_view timeText)
{
    std::string url(base);
    url += "/login.php?username=";
    url += percentEncode(accountId);
    url += "&pass=";
    url += percentEncode(password);
    url += "&banben=2.54&t=";
    url += percentEncode(timeText);
    return url;
}

std::string moneyUrl(std::string_view base, std::string_view accountId, std::string_view password)
{
    std::string url(base);
    url += "/money.php?username=";
    url += percentEncode(accountId);
    url += "&pass=";
    url += percentEncode(password);
    return url;
}

} // namespace velkor::service
