// The accounts of the local service: who may log in, with which SIP user,
// balance and tariff. Loaded from a UTF-8 text file; every text is kept in
// GBK, the code page of the client's requests.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::local {

// An amount of money in fen (hundredths of a yuan).
using Fen = int64_t;

// "25.60", "-0.05", "3" -> fen; nullopt for anything else (at most two decimals).
std::optional<Fen> parseMoney(std::string_view text);
// 2560 -> "25.60", -5 -> "-0.05".
std::string formatMoney(Fen fen);

struct Account {
    std::string id;         // GBK, as typed in the login window
    std::string password;   // GBK; also the SIP password
    std::string sipUser;
    Fen balance = 0;
    Fen tariff = 0;         // per started minute of talk time
    bool locked = false;
    std::string version;    // the client version ("banben") the account requires
    std::string displayNumber;
};

// One line per account, blank lines and lines starting with '#' ignored:
//   account password sip-user balance tariff state version display
// separated by blanks or tabs; state is "ok" or "locked". Returns the
// accounts, or nullopt with a message naming the bad line.
std::optional<std::vector<Account>> parseAccounts(std::string_view utf8, std::string* error = nullptr);
std::optional<std::vector<Account>> loadAccounts(const std::string& path, std::string* error = nullptr);

// The accounts while the service runs (shared by the request threads).
class AccountStore {
public:
    explicit AccountStore(std::vector<Account> accounts) : accounts_(std::move(accounts)) {}

    std::optional<Account> byId(std::string_view id) const;
    std::optional<Account> bySipUser(std::string_view sipUser) const;
    std::vector<Account> all() const;

    struct Call {
        std::string accountId;
        std::string number;
        int seconds = 0;
        Fen charge = 0;
    };
    // Charges a call of `seconds` talk time to the account of sipUser: the
    // tariff for every started minute. The new balance, or nullopt when no
    // account has that SIP user.
    std::optional<Fen> charge(std::string_view sipUser, std::string_view number, int seconds);
    // Adds to the balance of the account (id and password must match).
    std::optional<Fen> topUp(std::string_view id, std::string_view password, Fen amount);
    // The calls charged so far, newest first.
    std::vector<Call> calls() const;

private:
    mutable std::mutex mutex_;
    std::vector<Account> accounts_;
    std::vector<Call> calls_;
};

} // namespace velkor::local
