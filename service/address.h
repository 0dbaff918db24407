// Where the service lives and how its request and page addresses are built.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace velkor::service {

// The service's base address (scheme and host, e.g. "http://127.0.0.1:18080"): the
// build's VELKOR_SERVICE_BASE unless setServiceBase() changed it. Thread-safe.
std::string serviceBase();
void setServiceBase(std::string base);

// Paths of the service pages opened in the browser, and of the advertisement page.
namespace page {
inline constexpr std::string_view registration = "/reguser.php";  // login window 1005
inline constexpr std::string_view password = "/passwd.php";       // login window 1006
inline constexpr std::string_view account = "/acct.php";          // main window 1023
inline constexpr std::string_view callback = "/callback.php";     // main window 1024
inline constexpr std::string_view userLogin = "/userlogin.php";   // main window 1025
inline constexpr std::string_view userLoginMa = "/userloginma.php";  // main window 1079
inline constexpr std::string_view advert = "/ad2.htm";            // embedded browser 1032
} // namespace page

// base + path; no query string is ever added to a page.
std::string pageUrl(std::string_view path);
std::string pageUrl(std::string_view base, std::string_view path);

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ (GBK bytes become %XX).
std::string percentEncode(std::string_view bytes);

// The time sent with a verification: "现在时间是%Y年%m月%d日 %X" in GBK, %X being
// HH:MM:SS. Independent of the process locale. Empty when the fields are out of range.
std::string timeText(const std::tm& local);
// The same for the current local time.
std::string timeTextNow();

// base + "/login.php?username=...&pass=...&banben=2.54&t=..." with encoded values.
std::string loginUrl(std::string_view base, std::string_view accountId,
                     std::string_view password, std::string_view timeText);
// base + "/money.php?username=...&pass=..." with encoded values.
std::string moneyUrl(std::string_view base, std::string_view accountId, std::string_view password);

} // namespace velkor::service
