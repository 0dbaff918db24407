// Minimal HTTP GET over libcurl: fetch a URL and keep the first line of the body.
// Safe to call from any thread; every call is independent (one easy handle each).
#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace velkor::http {

struct Options {
    // Time allowed to establish the connection, and for the whole exchange.
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{30'000};
    // Empty: the executable's name without extension (see defaultUserAgent()).
    std::string userAgent;
    // The first line is cut at this many bytes and the transfer stopped there.
    std::size_t maxLineBytes = 64 * 1024;
    // When set and true, the exchange is abandoned as a failure at the next chance.
    const std::atomic<bool>* cancel = nullptr;
};

struct Reply {
    // False on any transport failure (refused, unresolved, time-out, reset, read error,
    // reply cut before the first line ended). Then `error` says why and `line` is empty.
    bool ok = false;
    // HTTP status of the final response (after redirects); 0 when none was received.
    long status = 0;
    // The body up to the first LF, without the LF and without any CR. Empty body: empty line.
    std::string line;
    // The first line was longer than Options::maxLineBytes and has been cut.
    bool truncated = false;
    std::string error;
};

// GET url (http or https; redirects are followed). Proxy settings come from the
// environment the way libcurl reads them (http_proxy, https_proxy, no_proxy).
Reply getFirstLine(const std::string& url, const Options& options = {});

// The running executable's file name without directory and extension ("velkor").
std::string defaultUserAgent();

} // namespace velkor::http
