// "--name value" command-line arguments of the local service's programs.
#pragma once

#include <charconv>
#include <initializer_list>
#include <map>
#include <string>

namespace velkor::local {

class Args {
public:
    // Every argument must be one of names followed by a value.
    Args(int argc, char** argv, std::initializer_list<const char*> names)
    {
        for (int i = 1; i < argc; ++i) {
            const std::string k = argv[i];
            bool known = false;
            for (const char* n : names)
                known = known || k == n;
            if (!known || i + 1 >= argc) {
                error_ = known ? k + " needs a value" : "unknown argument " + k;
                return;
            }
            values_[k] = argv[++i];
        }
    }

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    bool has(const std::string& name) const { return values_.count(name) != 0; }

    std::string get(const std::string& name, const std::string& fallback = {}) const
    {
        auto it = values_.find(name);
        return it == values_.end() ? fallback : it->second;
    }

    // A whole decimal number in [low, high]; otherwise fallback and an error.
    int number(const std::string& name, int fallback, int low, int high)
    {
        auto it = values_.find(name);
        if (it == values_.end())
            return fallback;
        int v = 0;
        const auto& t = it->second;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec != std::errc() || end != t.data() + t.size() || v < low || v > high) {
            error_ = name + " must be a number from " + std::to_string(low) + " to " + std::to_string(high);
            return fallback;
        }
        return v;
    }

private:
    std::map<std::string, std::string> values_;
    std::string error_;
};

} // namespace velkor::local
