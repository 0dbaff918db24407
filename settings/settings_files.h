// The three settings files of the working folder and the cycles the windows run
// on them, one function per user action. Plain C++: no Qt, no widgets.
//
// Every cycle loads the file anew into a document of its own, so nothing here
// keeps state between calls. Files are read through CXmlDoc (UTF-8 on disk
// unless the file declares another encoding; GBK texts in memory) and written
// back whole, atomically and readable by the owner only.
//
// The client never creates these files: an addition is made only after a
// successful load, and a removal is saved only after a successful load that
// found something to remove. Results tell whether the file was written; the
// windows need not look at them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::settings {

// File names, opened in the current working folder. "call.xml" and "Call.xml"
// are one file: every user passes kCallFile.
inline constexpr const char* kLoginFile = "Login.xml";
inline constexpr const char* kAudioFile = "Audio.xml";
inline constexpr const char* kCallFile = "Call.xml";

// ---------------------------------------------------------------------------
// Login.xml: <UserInfo> with one <User UserID UserPwd Type Wangluo/> per
// remembered account, oldest first.

struct LoginEntry {
    std::string userId;
    std::string userPwd;
    std::string type;    // "1" account only, "2" account and password
    std::string wangluo; // network code, read and not used
    bool operator==(const LoginEntry&) const = default;
};

// Every User entry in file order (empty when the file is missing).
std::vector<LoginEntry> ReadLoginEntries(const std::string& file = kLoginFile);
// The first entry whose UserID equals userId exactly.
std::optional<LoginEntry> FindLoginEntry(std::string_view userId, const std::string& file = kLoginFile);
// Removes the first entry whose UserID equals userId and saves; true when saved.
bool RemoveLoginEntry(std::string_view userId, const std::string& file = kLoginFile);
// Appends an entry after the root's last child and saves; true when saved.
bool AppendLoginEntry(const LoginEntry& entry, const std::string& file = kLoginFile);

// Save type from the check boxes: "3" neither (forget), "1" save-account only,
// "2" save-password checked.
std::string SaveType(bool saveAccount, bool savePassword);
// Network code: "1" for "电信网络", "2" for "网通网络", empty otherwise (GBK texts).
std::string NetworkCode(std::string_view networkName);

// The login window's state that remembered accounts drive.
struct LoginForm {
    bool saveAccount = false;  // check box 1002
    bool savePassword = false; // check box 1003
    std::string password;      // password box
    bool operator==(const LoginForm&) const = default;
};

// Type "1": save-account on, save-password off, password cleared; "2": the
// entry's password, both boxes on; any other type changes nothing.
void ApplySaveType(const LoginEntry& entry, LoginForm& form);
// Check-box clicks, after the box toggled itself: the save-password box is
// never checked while the save-account box is unchecked.
void OnSaveAccountClicked(LoginForm& form);
void OnSavePasswordClicked(LoginForm& form);

// Filling the account box: the items in file order, the last one selected (its
// text becomes the account box text), and the form after every entry's save
// type was applied in order starting from a cleared form.
struct AccountBoxFill {
    std::vector<std::string> items;
    int selected = -1; // -1: nothing selected, account box text empty
    LoginForm form;
};
AccountBoxFill FillAccountBox(const std::string& file = kLoginFile);

// Selection change in the account box: applies the save type of the first entry
// with that UserID. False (form unchanged) when no entry has it.
bool SelectAccount(std::string_view selectedText, LoginForm& form, const std::string& file = kLoginFile);

// Delete button: removes the first entry of the account box text and refills.
// Nothing happens (nullopt) when the text is empty.
std::optional<AccountBoxFill> DeleteAccount(std::string_view accountText, const std::string& file = kLoginFile);

// Remembering the verified account on the hand-over: removes the first entry of
// that account (saving), then unless the save type is "3" loads again and
// appends the account with UserPwd (empty for type "1": a password the user
// chose not to keep is not stored), Type and Wangluo. True when the account is
// stored at the end of the file.
bool RememberLogin(std::string_view account, std::string_view password, bool saveAccount, bool savePassword,
                   std::string_view networkName = {}, const std::string& file = kLoginFile);

// ---------------------------------------------------------------------------
// Audio.xml: <Audio> holding <Dirver playdev recodev/>; the last one wins.

struct AudioDevices {
    std::string playback;  // playdev
    std::string recording; // recodev
    bool operator==(const AudioDevices&) const = default;
};

// The stored values as written (last Dirver wins; empty without one).
AudioDevices ReadStoredAudioDevices(const std::string& file = kAudioFile);
// The device names for the session: "*" becomes the name of device 0 of its kind
// as the platform lists it (the callbacks; empty when it cannot tell).
AudioDevices ReadAudioDevices(const std::function<std::string()>& firstOutputName,
                              const std::function<std::string()>& firstInputName,
                              const std::string& file = kAudioFile);
// The audio settings window's Apply: only when both names are not empty,
// removes the first Dirver (saving), then appends the new one and saves.
bool StoreAudioDevices(std::string_view playback, std::string_view recording, const std::string& file = kAudioFile);

// ---------------------------------------------------------------------------
// Call.xml: any root; <Call dallnum userr lx/> entries newest first and one
// <audio a11 a22 a33/> with the voice-processing switches.

struct VoiceFlags {
    int echoCancellation = 0; // a11
    int noiseReduction = 0;   // a22
    int automaticGain = 0;    // a33
    bool operator==(const VoiceFlags&) const = default;
};

// The switches of the last audio entry; 0 without one.
VoiceFlags ReadVoiceFlags(const std::string& file = kCallFile);
// Apply of the audio settings window: removes the first audio entry (saving),
// then appends the new one after the history and saves.
bool StoreVoiceFlags(const VoiceFlags& flags, const std::string& file = kCallFile);

struct HistoryItem {
    std::string number; // dallnum
    int image = 2;      // list image: 1 when lx is "0", else 2
    bool operator==(const HistoryItem&) const = default;
};
inline constexpr int kHistoryLimit = 20;

// The history list of an account: its entries in file order (newest first), at
// most 20; entries of other accounts are skipped.
std::vector<HistoryItem> ReadHistory(std::string_view accountId, const std::string& file = kCallFile);
// A placed call: inserts Call (dallnum, userr, lx="a") as the root's first
// child and saves. Nothing is written when the file cannot be loaded.
bool AddHistoryEntry(std::string_view number, std::string_view accountId, const std::string& file = kCallFile);
// Clear-history button: removes every Call entry of every account, keeps the
// rest, and saves when something was removed.
bool ClearHistory(const std::string& file = kCallFile);

} // namespace velkor::settings
