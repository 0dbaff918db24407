#include "tools/local-service/accounts.h"

#include "platform/gbk.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace velkor::local {

std::optional<Fen> parseMoney(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view cents = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 12 || cents.size() > 2 || (dot != std::string_view::npos && cents.empty()))
        return std::nullopt;
    auto digits = [](std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; };
    if (!digits(whole) || !digits(cents))
        return std::nullopt;
    Fen yuan = 0;
    std::from_chars(whole.data(), whole.data() + whole.size(), yuan);
    Fen fen = 0;
    for (size_t i = 0; i < 2; ++i)
        fen = fen * 10 + (i < cents.size() ? cents[i] - '0' : 0);
    const Fen total = yuan * 100 + fen;
    return negative ? -total : total;
}

std::string formatMoney(Fen fen)
{
    const bool negative = fen < 0;
    const Fen a = negative ? -fen : fen;
    std::string cents = std::to_string(a % 100);
    if (cents.size() < 2)
        cents.insert(0, "0");
    return (negative ? "-" : "") + std::to_string(a / 100) + "." + cents;
}

std::optional<std::vector<Account>> parseAccounts(std::string_view utf8, std::string* error)
{
    std::vector<Account> out;
    std::istringstream in{std::string(utf8)};
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) -> std::optional<std::vector<Account>> {
        if (error)
            *error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;)
            f.push_back(w);
        if (f.empty() || f[0][0] == '#')
            continue;
        if (f.size() != 8)
            return fail("expected 8 fields, found " + std::to_string(f.size()));
        Account a;
        const auto id = gbk::fromUtf8(f[0]);
        const auto password = gbk::fromUtf8(f[1]);
        if (id.lost || password.lost)
            return fail("the account or password has a character outside GBK");
        a.id = id.text;
        a.password = password.text;
        a.sipUser = f[2];
        const auto balance = parseMoney(f[3]);
        const auto tariff = parseMoney(f[4]);
        if (!balance || !tariff || *tariff < 0)
            return fail("balance and tariff are amounts such as 25.60");
        a.balance = *balance;
        a.tariff = *tariff;
        if (f[5] != "ok" && f[5] != "locked")
            return fail("state is \"ok\" or \"locked\"");
        a.locked = f[5] == "locked";
        a.version = f[6];
        a.displayNumber = f[7];
        // The reply line separates its fields with these characters.
        for (const std::string* v : {&a.sipUser, &a.displayNumber})
            if (v->find_first_of("!@#$%^") != std::string::npos)
                return fail("the SIP user and display number must not hold any of !@#$%^");
        for (const auto& b : out)
            if (b.id == a.id || b.sipUser == a.sipUser)
                return fail("account and SIP user must be unique");
        out.push_back(std::move(a));
    }
    return out;
}

std::optional<std::vector<Account>> loadAccounts(const std::string& path, std::string* error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error)
            *error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << f.rdbuf();
    std::string why;
    auto accounts = parseAccounts(text.str(), &why);
    if (!accounts && error)
        *error = path + ": " + why;
    return accounts;
}

std::optional<Account> AccountStore::byId(std::string_view id) const
{
    std::lock_guard lock(mutex_);
    for (const auto& a : accounts_)
        if (a.id == id)
            return a;
    return std::nullopt;
}

std::optional<Account> AccountStore::bySipUser(std::string_view sipUser) const
{
    std::lock_guard lock(mutex_);
    for (const auto& a : accounts_)
        if (a.sipUser == sipUser)
            return a;
    return std::nullopt;
}

std::vector<Account> AccountStore::all() const
{
    std::lock_guard lock(mutex_);
    return accounts_;
}

std::optional<Fen> AccountStore::charge(std::string_view sipUser, std::string_view number, int seconds)
{
    std::lock_guard lock(mutex_);
    for (auto& a : accounts_) {
        if (a.sipUser != sipUser)
            continue;
        const Fen minutes = seconds > 0 ? (static_cast<Fen>(seconds) + 59) / 60 : 0;
        Call c{a.id, std::string(number), seconds, minutes * a.tariff};
        a.balance -= c.charge;
        calls_.insert(calls_.begin(), std::move(c));
        return a.balance;
    }
    return std::nullopt;
}

std::optional<Fen> AccountStore::topUp(std::string_view id, std::string_view password, Fen amount)
{
    std::lock_guard lock(mutex_);
    for (auto& a : accounts_)
        if (a.id == id && a.password == password) {
            a.balance += amount;
            return a.balance;
        }
    return std::nullopt;
}

std::vector<AccountStore::Call> AccountStore::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

} // namespace velkor::local
