#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace velkor::http {

namespace {

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    std::string line;
    std::size_t maxLine = 0;
    bool complete = false;  // LF seen or line cut at its limit: the rest is not wanted
    bool truncated = false;
    const std::atomic<bool>* cancel = nullptr;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->complete)
        return 0;
    const char* lf = static_cast<const char*>(std::memchr(data, '\n', n));
    std::size_t take = lf ? static_cast<std::size_t>(lf - data) : n;
    const std::size_t room = t->maxLine - std::min(t->maxLine, t->line.size());
    if (take > room) {
        take = room;
        t->truncated = true;
    }
    t->line.append(data, take);
    if (lf || t->truncated) {
        // Returning less than n makes libcurl stop the transfer (CURLE_WRITE_ERROR),
        // so the rest of a long reply is never downloaded.
        t->complete = true;
        return 0;
    }
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

long toMillis(std::chrono::milliseconds d)
{
    // 0 would mean "no time-out" to libcurl; keep at least 1 ms.
    return std::max<long>(1, static_cast<long>(d.count()));
}

} // namespace

std::string defaultUserAgent()
{
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    std::string name;
    if (n > 0) {
        path.resize(static_cast<std::size_t>(n));
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.ends_with(deleted))
            path.resize(path.size() - deleted.size());
        name = path.substr(path.find_last_of('/') + 1);
    } else {
        name = program_invocation_short_name;
    }
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

Reply getFirstLine(const std::string& url, const Options& options)
{
    globalInit();
    Reply reply;
    CURL* curl = curl_easy_init();
    if (!curl) {
        reply.error = "cannot create an HTTP handle";
        return reply;
    }

    Transfer t;
    t.maxLine = options.maxLineBytes;
    t.cancel = options.cancel;
    char errorText[CURL_ERROR_SIZE] = {};
    const std::string agent = options.userAgent.empty() ? defaultUserAgent() : options.userAgent;

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, toMillis(options.connectTimeout));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, toMillis(options.totalTimeout));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    if (options.cancel) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }

    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);

    // The transfer counts as read when the first line is complete, even if the
    // connection failed afterwards (or was stopped by us); a reply that breaks off
    // before its first line ends is a read error.
    if (t.complete || rc == CURLE_OK) {
        reply.ok = true;
        reply.truncated = t.truncated;
        std::erase(t.line, '\r');
        reply.line = std::move(t.line);
    } else {
        reply.error = errorText[0] ? errorText : curl_easy_strerror(rc);
    }
    return reply;
}

} // namespace velkor::http
