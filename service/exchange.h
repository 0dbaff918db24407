// The two requests to the service: account verification and balance query.
// Both block the calling thread for at most the HTTP time-outs; run them on a
// worker thread and hand the result to the user-interface thread.
#pragma once

#include "platform/http.h"
#include "service/account.h"

#include <string>
#include <string_view>

namespace velkor::service {

enum class VerifyOutcome {
    Ok,              // "ok": account filled, hand over to the main window
    WrongPassword,   // "error"
    Locked,          // "suoding"
    Upgrade,         // "shengji"
    Unknown,         // any other status word (the empty one too): stay verifying, no report
    NetworkFailure,  // transport failure or an HTTP status of 400 and up
};

struct VerifyResult {
    VerifyOutcome outcome = VerifyOutcome::NetworkFailure;
    std::string statusWord;  // text before the first '!' of the reply line
    ServiceAccount account;  // the request's account; on Ok with the reply's fields
    HostPort secondServer;   // reply field 5, split like sipServer; nothing reads it
    std::string error;       // transport error text on NetworkFailure
};

// Status line text of an outcome in GBK; empty for Ok and Unknown.
const std::string& statusText(VerifyOutcome outcome);
// True for the outcomes that are reported with the warning cue (sound 151).
bool isFailureReport(VerifyOutcome outcome);

// Interprets a reply of "/login.php" for `request` (its accountId and password are kept).
VerifyResult interpretVerifyReply(const ServiceAccount& request, const http::Reply& reply);

// Sends "/login.php" with request.accountId, request.password, version 2.54 and `timeText`.
VerifyResult verify(std::string_view base, const ServiceAccount& request,
                    std::string_view timeText, const http::Options& options = {});
// The same against serviceBase() with the current time.
VerifyResult verify(const ServiceAccount& request, const http::Options& options = {});

enum class BalanceOutcome {
    Updated,         // "ok": balance = text between the first '!' and the first '@' (may be empty)
    Cleared,         // another status word: empty the balance text, keep the stored balance
    NetworkFailure,  // transport failure or HTTP status >= 400: change nothing, report nothing
};

struct BalanceResult {
    BalanceOutcome outcome = BalanceOutcome::NetworkFailure;
    std::string balance;  // the new balance on Updated
    std::string error;
};

BalanceResult interpretBalanceReply(const http::Reply& reply);

// Sends "/money.php" with the account and password.
BalanceResult queryBalance(std::string_view base, std::string_view accountId,
                           std::string_view password, const http::Options& options = {});
BalanceResult queryBalance(std::string_view accountId, std::string_view password,
                           const http::Options& options = {});

} // namespace velkor::service
