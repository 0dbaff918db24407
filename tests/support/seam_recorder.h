// Replaces the window seams for one test: records sounds, message boxes and shell
// requests, and answers boxes at once. Sounds may be played from any thread.
#pragma once

#include "platform/ui/seams.h"

#include <mutex>
#include <string>
#include <vector>

namespace velkor::test {

struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
};

class SeamRecorder {
public:
    SeamRecorder()
    {
        auto& s = ui::seams();
        s.playSound = [this](int n) {
            std::lock_guard lock(mutex_);
            sounds_.push_back(n);
        };
        s.messageBox = [this](QWidget*, const std::string& text, const std::string& caption, unsigned flags) {
            std::lock_guard lock(mutex_);
            boxes_.push_back({text, caption, flags});
            return ui::kIdOk;
        };
        s.openUrl = [this](const std::string& url) {
            std::lock_guard lock(mutex_);
            urls_.push_back(url);
        };
        s.openFolder = [this](const std::string& path) {
            std::lock_guard lock(mutex_);
            folders_.push_back(path);
        };
    }
    ~SeamRecorder() { ui::resetSeams(); }
    SeamRecorder(const SeamRecorder&) = delete;
    SeamRecorder& operator=(const SeamRecorder&) = delete;

    std::vector<int> sounds() const { std::lock_guard lock(mutex_); return sounds_; }
    std::vector<Box> boxes() const { std::lock_guard lock(mutex_); return boxes_; }
    std::vector<std::string> urls() const { std::lock_guard lock(mutex_); return urls_; }
    std::vector<std::string> folders() const { std::lock_guard lock(mutex_); return folders_; }
    void clear()
    {
        std::lock_guard lock(mutex_);
        sounds_.clear(), boxes_.clear(), urls_.clear(), folders_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> sounds_;
    std::vector<Box> boxes_;
    std::vector<std::string> urls_;
    std::vector<std::string> folders_;
};

} // namespace velkor::test
