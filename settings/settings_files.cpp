#include "settings/settings_files.h"

#include "settings/xml_doc.h"

#include <climits>
#include <cstdlib>
#include <utility>

namespace velkor::settings {

namespace {

struct Attribute {
    const char* name;
    std::string value;
};

// Loads the file and places the main position on the root (asked for by name
// when one is given; FindNextChild falls back to the root all the same).
bool Open(CXmlDoc& doc, const std::string& file, const char* root)
{
    const bool loaded = doc.LoadFile(file);
    doc.RewindMain();
    doc.FindNextElement(root ? root : "");
    return loaded;
}

// Remove one: the first child of the root named `child` (whose `key` attribute
// equals `value` when a key is given) is removed and the file saved. A failed
// load never saves: the document would be an older or empty text.
bool RemoveFirst(const std::string& file, const char* child, const char* key, std::string_view value)
{
    CXmlDoc doc;
    if (!Open(doc, file, nullptr))
        return false;
    while (doc.FindNextChild(child)) {
        if (!key || doc.GetChildAttribute(key) == value) {
            doc.RemoveChild();
            return doc.SaveFile(file);
        }
    }
    return false;
}

// Add: after a successful load, a new child of the root with the attributes in
// order, either after the root's last child or before its first.
bool AddChild(const std::string& file, const char* child, const std::vector<Attribute>& attributes, bool first)
{
    CXmlDoc doc;
    if (!Open(doc, file, nullptr) || !doc.EnterElement())
        return false;
    if (!(first ? doc.InsertElementBefore(child) : doc.AppendElement(child)))
        return false;
    for (const auto& a : attributes)
        if (!doc.SetAttribute(a.name, a.value))
            return false; // an entry without all its attributes is not saved
    doc.LeaveElement();
    return doc.SaveFile(file);
}

int ToInt(const std::string& text)
{
    const long v = std::strtol(text.c_str(), nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

} // namespace

// ---------------------------------------------------------------------------
// Login.xml

std::vector<LoginEntry> ReadLoginEntries(const std::string& file)
{
    std::vector<LoginEntry> entries;
    CXmlDoc doc;
    Open(doc, file, "UserInfo");
    while (doc.FindNextChild("User"))
        entries.push_back({doc.GetChildAttribute("UserID"), doc.GetChildAttribute("UserPwd"),
                           doc.GetChildAttribute("Type"), doc.GetChildAttribute("Wangluo")});
    return entries;
}

std::optional<LoginEntry> FindLoginEntry(std::string_view userId, const std::string& file)
{
    CXmlDoc doc;
    Open(doc, file, nullptr);
    while (doc.FindNextChild("User")) {
        if (doc.GetChildAttribute("UserID") == userId)
            return LoginEntry{doc.GetChildAttribute("UserID"), doc.GetChildAttribute("UserPwd"),
                              doc.GetChildAttribute("Type"), doc.GetChildAttribute("Wangluo")};
    }
    return std::nullopt;
}

bool RemoveLoginEntry(std::string_view userId, const std::string& file)
{
    return RemoveFirst(file, "User", "UserID", userId);
}

bool AppendLoginEntry(const LoginEntry& entry, const std::string& file)
{
    return AddChild(file, "User",
                    {{"UserID", entry.userId}, {"UserPwd", entry.userPwd}, {"Type", entry.type}, {"Wangluo", entry.wangluo}},
                    false);
}

std::string SaveType(bool saveAccount, bool savePassword)
{
    if (savePassword)
        return "2";
    return saveAccount ? "1" : "3";
}

std::string NetworkCode(std::string_view networkName)
{
    if (networkName == "\xB5\xE7\xD0\xC5\xCD\xF8\xC2\xE7") // 电信网络
        return "1";
    if (networkName == "\xCD\xF8\xCD\xA8\xCD\xF8\xC2\xE7") // 网通网络
        return "2";
    return {};
}

void ApplySaveType(const LoginEntry& entry, LoginForm& form)
{
    if (entry.type == "1") {
        form.saveAccount = true;
        form.savePassword = false;
        form.password.clear();
    } else if (entry.type == "2") {
        form.password = entry.userPwd;
        form.saveAccount = true;
        form.savePassword = true;
    }
}

void OnSaveAccountClicked(LoginForm& form)
{
    if (!form.saveAccount)
        form.savePassword = false;
}

void OnSavePasswordClicked(LoginForm& form)
{
    if (form.savePassword)
        form.saveAccount = true;
}

AccountBoxFill FillAccountBox(const std::string& file)
{
    AccountBoxFill fill;
    for (const auto& entry : ReadLoginEntries(file)) {
        fill.items.push_back(entry.userId);
        fill.selected = static_cast<int>(fill.items.size()) - 1;
        ApplySaveType(entry, fill.form);
    }
    return fill;
}

bool SelectAccount(std::string_view selectedText, LoginForm& form, const std::string& file)
{
    const auto entry = FindLoginEntry(selectedText, file);
    if (!entry)
        return false;
    ApplySaveType(*entry, form);
    return true;
}

std::optional<AccountBoxFill> DeleteAccount(std::string_view accountText, const std::string& file)
{
    if (accountText.empty())
        return std::nullopt;
    RemoveLoginEntry(accountText, file);
    return FillAccountBox(file);
}

bool RememberLogin(std::string_view account, std::string_view password, bool saveAccount, bool savePassword,
                   std::string_view networkName, const std::string& file)
{
    const std::string type = SaveType(saveAccount, savePassword);
    RemoveLoginEntry(account, file);
    if (type == "3")
        return false;
    LoginEntry entry{std::string(account), type == "2" ? std::string(password) : std::string(), type,
                     NetworkCode(networkName)};
    return AppendLoginEntry(entry, file);
}

// ---------------------------------------------------------------------------
// Audio.xml

AudioDevices ReadStoredAudioDevices(const std::string& file)
{
    AudioDevices devices;
    CXmlDoc doc;
    Open(doc, file, "Audio");
    while (doc.FindNextChild("Dirver")) {
        devices.playback = doc.GetChildAttribute("playdev");
        devices.recording = doc.GetChildAttribute("recodev");
    }
    return devices;
}

AudioDevices ReadAudioDevices(const std::function<std::string()>& firstOutputName,
                              const std::function<std::string()>& firstInputName, const std::string& file)
{
    AudioDevices devices = ReadStoredAudioDevices(file);
    if (devices.playback == "*")
        devices.playback = firstOutputName ? firstOutputName() : std::string();
    if (devices.recording == "*")
        devices.recording = firstInputName ? firstInputName() : std::string();
    return devices;
}

bool StoreAudioDevices(std::string_view playback, std::string_view recording, const std::string& file)
{
    if (playback.empty() || recording.empty())
        return false;
    RemoveFirst(file, "Dirver", nullptr, {});
    return AddChild(file, "Dirver", {{"playdev", std::string(playback)}, {"recodev", std::string(recording)}}, false);
}

// ---------------------------------------------------------------------------
// Call.xml

VoiceFlags ReadVoiceFlags(const std::string& file)
{
    VoiceFlags flags;
    CXmlDoc doc;
    Open(doc, file, nullptr);
    while (doc.FindNextChild("audio")) {
        flags.echoCancellation = ToInt(doc.GetChildAttribute("a11"));
        flags.noiseReduction = ToInt(doc.GetChildAttribute("a22"));
        flags.automaticGain = ToInt(doc.GetChildAttribute("a33"));
    }
    return flags;
}

bool StoreVoiceFlags(const VoiceFlags& flags, const std::string& file)
{
    RemoveFirst(file, "audio", nullptr, {});
    return AddChild(file, "audio",
                    {{"a11", std::to_string(flags.echoCancellation)},
                     {"a22", std::to_string(flags.noiseReduction)},
                     {"a33", std::to_string(flags.automaticGain)}},
                    false);
}

std::vector<HistoryItem> ReadHistory(std::string_view accountId, const std::string& file)
{
    std::vector<HistoryItem> items;
    CXmlDoc doc;
    Open(doc, file, nullptr);
    while (items.size() < static_cast<std::size_t>(kHistoryLimit) && doc.FindNextChild("Call")) {
        if (doc.GetChildAttribute("userr") != accountId)
            continue;
        items.push_back({doc.GetChildAttribute("dallnum"), doc.GetChildAttribute("lx") == "0" ? 1 : 2});
    }
    return items;
}

bool AddHistoryEntry(std::string_view number, std::string_view accountId, const std::string& file)
{
    return AddChild(file, "Call", {{"dallnum", std::string(number)}, {"userr", std::string(accountId)}, {"lx", "a"}}, true);
}

bool ClearHistory(const std::string& file)
{
    CXmlDoc doc;
    if (!Open(doc, file, nullptr))
        return false;
    bool removed = false;
    while (doc.FindNextChild("Call"))
        removed = doc.RemoveChild() || removed;
    return removed && doc.SaveFile(file);
}

} // namespace velkor::settings
