#include "settings/settings_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace velkor::settings;

namespace {

class SettingsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/velkor-settings-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        login = dir + "/Login.xml";
        audio = dir + "/Audio.xml";
        call = dir + "/Call.xml";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    static void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
    std::string dir, login, audio, call;
};

const std::string kZhong = "\xD6\xD0"; // 中 in GBK

} // namespace

// ---------------------------------------------------------------------------
// Login.xml

TEST_F(SettingsFiles, FirstRememberedLoginGivesTheThreeLines)
{
    for (const char* installed : {"<UserInfo/>", "<UserInfo></UserInfo>"}) {
        Write(login, installed);
        EXPECT_TRUE(RememberLogin("80012345", "p<&>\"'w", true, true, {}, login));
        EXPECT_EQ(Read(login), "<UserInfo>\r\n"
                               "<User UserID=\"80012345\" UserPwd=\"p&lt;&amp;&gt;&quot;&apos;w\" Type=\"2\" Wangluo=\"\"/>\r\n"
                               "</UserInfo>")
            << installed;
        const auto entries = ReadLoginEntries(login);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0], (LoginEntry{"80012345", "p<&>\"'w", "2", ""}));
    }
    // Another account with save type "1" goes before the end tag, without its password.
    EXPECT_TRUE(RememberLogin("80099999", "secret", true, false, {}, login));
    EXPECT_EQ(Read(login), "<UserInfo>\r\n"
                           "<User UserID=\"80012345\" UserPwd=\"p&lt;&amp;&gt;&quot;&apos;w\" Type=\"2\" Wangluo=\"\"/>\r\n"
                           "<User UserID=\"80099999\" UserPwd=\"\" Type=\"1\" Wangluo=\"\"/>\r\n"
                           "</UserInfo>");
    struct stat st {};
    ASSERT_EQ(stat(login.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds passwords";
}

TEST_F(SettingsFiles, LoginAgainMovesToTheEndAndUncheckedForgets)
{
    Write(login, "<UserInfo>\r\n<User UserID=\"A\" UserPwd=\"pa\" Type=\"2\" Wangluo=\"\"/>\r\n"
                 "<User UserID=\"B\" UserPwd=\"\" Type=\"1\" Wangluo=\"\"/>\r\n</UserInfo>");
    EXPECT_TRUE(RememberLogin("A", "pa2", true, true, {}, login));
    EXPECT_EQ(Read(login), "<UserInfo>\r\n<User UserID=\"B\" UserPwd=\"\" Type=\"1\" Wangluo=\"\"/>\r\n"
                           "<User UserID=\"A\" UserPwd=\"pa2\" Type=\"2\" Wangluo=\"\"/>\r\n</UserInfo>");
    EXPECT_EQ(FillAccountBox(login).items, (std::vector<std::string>{"B", "A"}));

    EXPECT_FALSE(RememberLogin("B", "x", false, false, {}, login));
    EXPECT_EQ(Read(login), "<UserInfo>\r\n<User UserID=\"A\" UserPwd=\"pa2\" Type=\"2\" Wangluo=\"\"/>\r\n</UserInfo>");
}

TEST_F(SettingsFiles, FillSelectAndCheckBoxes)
{
    Write(login, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- accounts -->\r\n<UserInfo>\r\n"
                 "<User UserID=\"A\" UserPwd=\"pa\" Type=\"2\" Wangluo=\"1\"/>\r\n"
                 "<User UserID=\"B\" UserPwd=\"pb\" Type=\"1\" Wangluo=\"\"/>\r\n</UserInfo>\r\n");
    const auto fill = FillAccountBox(login);
    EXPECT_EQ(fill.items, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(fill.selected, 1);
    EXPECT_EQ(fill.form, (LoginForm{true, false, ""}));

    LoginForm form = fill.form;
    EXPECT_TRUE(SelectAccount("A", form, login));
    EXPECT_EQ(form, (LoginForm{true, true, "pa"}));
    EXPECT_FALSE(SelectAccount("a", form, login)) << "exact, case-sensitive";
    EXPECT_EQ(form, (LoginForm{true, true, "pa"}));

    // A type other than "1" and "2" changes nothing: the fill keeps what came before.
    Write(login, "<UserInfo><User UserID=\"A\" UserPwd=\"pa\" Type=\"2\"/><User UserID=\"C\" Type=\"9\"/></UserInfo>");
    EXPECT_EQ(FillAccountBox(login).form, (LoginForm{true, true, "pa"}));

    LoginForm boxes{false, true, ""};
    OnSavePasswordClicked(boxes);
    EXPECT_EQ(boxes, (LoginForm{true, true, ""}));
    boxes.saveAccount = false;
    OnSaveAccountClicked(boxes);
    EXPECT_EQ(boxes, (LoginForm{false, false, ""}));
    boxes = {true, false, ""};
    OnSavePasswordClicked(boxes);
    OnSaveAccountClicked(boxes);
    EXPECT_EQ(boxes, (LoginForm{true, false, ""}));

    EXPECT_EQ(SaveType(false, false), "3");
    EXPECT_EQ(SaveType(true, false), "1");
    EXPECT_EQ(SaveType(true, true), "2");
    EXPECT_EQ(NetworkCode("\xB5\xE7\xD0\xC5\xCD\xF8\xC2\xE7"), "1");
    EXPECT_EQ(NetworkCode("\xCD\xF8\xCD\xA8\xCD\xF8\xC2\xE7"), "2");
    EXPECT_EQ(NetworkCode(""), "");
    EXPECT_EQ(NetworkCode("other"), "");
}

TEST_F(SettingsFiles, DeleteAccount)
{
    const std::string text = "<UserInfo>\r\n<User UserID=\"A\" Type=\"1\"/>\r\n<User UserID=\"A\" Type=\"2\" UserPwd=\"p\"/>\r\n</UserInfo>";
    Write(login, text);
    EXPECT_EQ(DeleteAccount("", login), std::nullopt);
    const auto unknown = DeleteAccount("Z", login);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(Read(login), text) << "nothing removed, nothing written";
    EXPECT_EQ(unknown->items.size(), 2u);

    // Two entries of one account written by hand go one per delete.
    auto refill = DeleteAccount("A", login);
    ASSERT_TRUE(refill);
    EXPECT_EQ(refill->items, (std::vector<std::string>{"A"}));
    EXPECT_EQ(refill->form, (LoginForm{true, true, "p"}));
    refill = DeleteAccount("A", login);
    EXPECT_TRUE(refill->items.empty());
    EXPECT_EQ(refill->selected, -1);
    EXPECT_EQ(Read(login), "<UserInfo>\r\n</UserInfo>");
}

TEST_F(SettingsFiles, AnyRootNameWorks)
{
    Write(login, "<Accounts></Accounts>");
    EXPECT_TRUE(RememberLogin("A", "p", true, true, {}, login));
    EXPECT_EQ(ReadLoginEntries(login).size(), 1u);
    EXPECT_TRUE(FindLoginEntry("A", login));

    Write(audio, "<Devices><Dirver playdev=\"P\" recodev=\"R\"/></Devices>");
    EXPECT_EQ(ReadStoredAudioDevices(audio), (AudioDevices{"P", "R"}));
}

TEST_F(SettingsFiles, MissingOrBrokenFilesAreNeverWritten)
{
    // Nothing is created, and nothing is saved after a failed load.
    EXPECT_FALSE(RememberLogin("A", "p", true, true, {}, login));
    EXPECT_FALSE(DeleteAccount("A", login)->selected >= 0);
    EXPECT_FALSE(AddHistoryEntry("0123", "A", call));
    EXPECT_FALSE(ClearHistory(call));
    EXPECT_FALSE(StoreVoiceFlags({1, 1, 1}, call));
    EXPECT_FALSE(StoreAudioDevices("P", "R", audio));
    EXPECT_FALSE(Exists(login) || Exists(call) || Exists(audio));
    EXPECT_TRUE(ReadLoginEntries(login).empty());
    EXPECT_EQ(ReadVoiceFlags(call), VoiceFlags{});
    EXPECT_TRUE(ReadHistory("A", call).empty());
    EXPECT_EQ(ReadAudioDevices(nullptr, nullptr, audio), AudioDevices{});

    // A file that is not well formed is read as far as recognised and left as it is.
    const std::string broken = "<UserInfo><User UserID=\"A\" Type=\"1\"/></UserInfo><extra/>";
    Write(login, broken);
    EXPECT_EQ(ReadLoginEntries(login).size(), 1u);
    EXPECT_FALSE(RememberLogin("A", "p", true, true, {}, login));
    DeleteAccount("A", login);
    EXPECT_EQ(Read(login), broken);

    const std::string brokenCall = "<CallLog><Call dallnum=\"1\" userr=\"A\" lx=\"a\"/><audio a11=\"1\"/></CallLog></x>";
    Write(call, brokenCall);
    EXPECT_EQ(ReadHistory("A", call).size(), 1u);
    EXPECT_FALSE(ClearHistory(call));
    EXPECT_FALSE(AddHistoryEntry("2", "A", call));
    EXPECT_EQ(Read(call), brokenCall);

    // An empty file stays empty.
    Write(call, "");
    EXPECT_FALSE(ClearHistory(call));
    EXPECT_FALSE(StoreVoiceFlags({1, 0, 0}, call));
    EXPECT_EQ(Read(call), "");
}

// ---------------------------------------------------------------------------
// Audio.xml

TEST_F(SettingsFiles, AudioDevicesStoredAndRead)
{
    Write(audio, "<Audio>\r\n<Dirver playdev=\"*\" recodev=\"*\"/>\r\n</Audio>");
    int asked = 0;
    auto out0 = [&] { ++asked; return std::string("Speaker 0"); };
    auto in0 = [&] { ++asked; return std::string("Mic 0"); };
    EXPECT_EQ(ReadAudioDevices(out0, in0, audio), (AudioDevices{"Speaker 0", "Mic 0"}));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ReadAudioDevices(nullptr, [] { return std::string(); }, audio), (AudioDevices{"", ""}));

    EXPECT_FALSE(StoreAudioDevices("", "Mic", audio));
    EXPECT_TRUE(StoreAudioDevices("Speakers (Example Audio)", "Microphone (Example Audio)", audio));
    EXPECT_EQ(Read(audio), "<Audio>\r\n"
                           "<Dirver playdev=\"Speakers (Example Audio)\" recodev=\"Microphone (Example Audio)\"/>\r\n"
                           "</Audio>");
    asked = 0;
    EXPECT_EQ(ReadAudioDevices(out0, in0, audio), (AudioDevices{"Speakers (Example Audio)", "Microphone (Example Audio)"}));
    EXPECT_EQ(asked, 0);

    // Two Dirver: the last wins on reading; Apply drops the first and adds at the end.
    Write(audio, "<Audio>\r\n<Dirver playdev=\"A\" recodev=\"a\"/>\r\n<Dirver playdev=\"B\" recodev=\"\"/>\r\n</Audio>");
    EXPECT_EQ(ReadStoredAudioDevices(audio), (AudioDevices{"B", ""}));
    EXPECT_TRUE(StoreAudioDevices("C", "c", audio));
    EXPECT_EQ(Read(audio), "<Audio>\r\n<Dirver playdev=\"B\" recodev=\"\"/>\r\n<Dirver playdev=\"C\" recodev=\"c\"/>\r\n</Audio>");

    Write(audio, "<Audio></Audio>");
    EXPECT_EQ(ReadAudioDevices(out0, in0, audio), AudioDevices{});

    // Chinese names are UTF-8 in a file without declaration and GBK in memory.
    EXPECT_TRUE(StoreAudioDevices(kZhong, kZhong + "<&>", audio));
    EXPECT_EQ(Read(audio), "<Audio>\r\n<Dirver playdev=\"中\" recodev=\"中&lt;&amp;&gt;\"/>\r\n</Audio>");
    EXPECT_EQ(ReadStoredAudioDevices(audio), (AudioDevices{kZhong, kZhong + "<&>"}));
}

// ---------------------------------------------------------------------------
// Call.xml

TEST_F(SettingsFiles, CallFileExample)
{
    Write(call, "<CallLog/>");
    EXPECT_TRUE(AddHistoryEntry("0123456", "80012345", call));
    EXPECT_TRUE(StoreVoiceFlags({1, 0, 1}, call));
    EXPECT_TRUE(AddHistoryEntry("02100000002", "80012345", call));
    EXPECT_EQ(Read(call), "<CallLog>\r\n"
                          "<Call dallnum=\"02100000002\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<Call dallnum=\"0123456\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<audio a11=\"1\" a22=\"0\" a33=\"1\"/>\r\n"
                          "</CallLog>");
    EXPECT_EQ(ReadVoiceFlags(call), (VoiceFlags{1, 0, 1}));
    EXPECT_EQ(ReadHistory("80012345", call), (std::vector<HistoryItem>{{"02100000002", 2}, {"0123456", 2}}));

    // Storing the switches again keeps one audio line, at the end.
    EXPECT_TRUE(StoreVoiceFlags({0, 1, 0}, call));
    EXPECT_TRUE(AddHistoryEntry("9", "other", call));
    EXPECT_EQ(Read(call), "<CallLog>\r\n"
                          "<Call dallnum=\"9\" userr=\"other\" lx=\"a\"/>\r\n"
                          "<Call dallnum=\"02100000002\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<Call dallnum=\"0123456\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<audio a11=\"0\" a22=\"1\" a33=\"0\"/>\r\n"
                          "</CallLog>");

    // Clearing removes the entries of every account and keeps the switches.
    EXPECT_TRUE(ClearHistory(call));
    EXPECT_EQ(Read(call), "<CallLog>\r\n<audio a11=\"0\" a22=\"1\" a33=\"0\"/>\r\n</CallLog>");
    EXPECT_FALSE(ClearHistory(call)) << "nothing to remove, nothing written";
    EXPECT_TRUE(ReadHistory("80012345", call).empty());

    Write(call, "<CallLog>\r\n<Call dallnum=\"1\" userr=\"a\" lx=\"a\"/>\r\n</CallLog>");
    EXPECT_TRUE(ClearHistory(call));
    EXPECT_EQ(Read(call), "<CallLog>\r\n</CallLog>");
}

TEST_F(SettingsFiles, HistoryShowsTheAccountsTwentyNewest)
{
    std::string text = "<r>\r\n";
    // 25 entries of the account and 10 of another, newest first, mixed.
    int mine = 0, other = 0;
    for (int i = 0; i < 35; ++i) {
        if (i % 3 == 1 && other < 10)
            text += "<Call dallnum=\"o" + std::to_string(other++) + "\" userr=\"B\" lx=\"a\"/>\r\n";
        else {
            const int k = mine++;
            text += "<Call dallnum=\"m" + std::to_string(k) + "\" userr=\"A\" lx=\"" + (k % 2 ? "a" : "0") + "\"/>\r\n";
        }
    }
    text += "<audio a11=\"1\" a22=\"1\" a33=\"0\"/>\r\n</r>";
    ASSERT_EQ(mine, 25);
    Write(call, text);
    const auto items = ReadHistory("A", call);
    ASSERT_EQ(items.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(items[static_cast<std::size_t>(i)].number, "m" + std::to_string(i));
        EXPECT_EQ(items[static_cast<std::size_t>(i)].image, i % 2 ? 2 : 1);
    }
    EXPECT_EQ(ReadHistory("B", call).size(), 10u);
    EXPECT_TRUE(ReadHistory("a", call).empty());
    EXPECT_EQ(ReadVoiceFlags(call), (VoiceFlags{1, 1, 0}));

    // Three calls placed: three lines in reverse order, in front of the audio line.
    Write(call, "<r>\r\n<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</r>");
    for (const char* n : {"1", "2", "3"})
        EXPECT_TRUE(AddHistoryEntry(n, "A", call));
    EXPECT_EQ(Read(call), "<r>\r\n<Call dallnum=\"3\" userr=\"A\" lx=\"a\"/>\r\n<Call dallnum=\"2\" userr=\"A\" lx=\"a\"/>\r\n"
                          "<Call dallnum=\"1\" userr=\"A\" lx=\"a\"/>\r\n<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</r>");
}

TEST_F(SettingsFiles, VoiceFlagsLastAudioWins)
{
    Write(call, "<r><audio a11=\"1\" a22=\"1\" a33=\"1\"/><audio a11=\"0\" a22=\"1\"/></r>");
    EXPECT_EQ(ReadVoiceFlags(call), (VoiceFlags{0, 1, 0}));
    Write(call, "<r><Call dallnum=\"1\"/></r>");
    EXPECT_EQ(ReadVoiceFlags(call), VoiceFlags{});
}
