// What installing puts in place: the default settings files under the
// client's own cycles, and the launcher that seeds the working folder.
#include "settings/settings_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace velkor::settings;

namespace {

std::string read(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write(const fs::path& p, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    fs::permissions(p, perms);
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "velkor-installed-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

const fs::path kDefaults = VELKOR_DEFAULTS;

} // namespace

TEST(InstalledDefaults, TheClientsCyclesLeaveTheDocumentedFiles)
{
    TempDir dir;
    for (const char* f : {"Login.xml", "Audio.xml", "Call.xml"})
        fs::copy_file(kDefaults / f, dir.path / f);
    const std::string login = (dir.path / "Login.xml").string();
    const std::string audio = (dir.path / "Audio.xml").string();
    const std::string call = (dir.path / "Call.xml").string();

    EXPECT_TRUE(ReadLoginEntries(login).empty());
    ASSERT_TRUE(RememberLogin("80012345", "secret", true, true, {}, login));
    EXPECT_EQ(read(login), "<UserInfo>\r\n<User UserID=\"80012345\" UserPwd=\"secret\" Type=\"2\" Wangluo=\"\"/>\r\n"
                           "</UserInfo>");

    // "*" stands for the first devices until the audio window stores names.
    EXPECT_EQ(ReadStoredAudioDevices(audio), (AudioDevices{"*", "*"}));
    EXPECT_EQ(ReadAudioDevices([] { return "Speakers"; }, [] { return "Microphone"; }, audio),
              (AudioDevices{"Speakers", "Microphone"}));
    ASSERT_TRUE(StoreAudioDevices("Speakers (Example Audio)", "Microphone (Example Audio)", audio));
    EXPECT_EQ(read(audio), "<Audio>\r\n<Dirver playdev=\"Speakers (Example Audio)\" "
                           "recodev=\"Microphone (Example Audio)\"/>\r\n</Audio>");

    EXPECT_EQ(ReadVoiceFlags(call), VoiceFlags{});
    ASSERT_TRUE(AddHistoryEntry("0123456", "80012345", call));
    ASSERT_TRUE(AddHistoryEntry("02100000002", "80012345", call));
    EXPECT_EQ(read(call), "<CallLog>\r\n<Call dallnum=\"02100000002\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<Call dallnum=\"0123456\" userr=\"80012345\" lx=\"a\"/>\r\n"
                          "<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</CallLog>");
}

TEST(InstalledLauncher, SeedsTheWorkingFolderOnceAndRunsTheClientThere)
{
    // An installed tree whose client only tells where and how it was started.
    TempDir dir;
    const fs::path prefix = dir.path / "usr";
    fs::create_directories(prefix / "bin");
    fs::copy_file(VELKOR_LAUNCHER, prefix / "bin/velkor");
    fs::permissions(prefix / "bin/velkor", fs::perms::owner_all);  // as installed (PROGRAMS)
    for (const char* f : {"Login.xml", "Audio.xml", "Call.xml"})
        write(prefix / "share/velkor/defaults" / f, read(kDefaults / f), fs::perms::owner_read | fs::perms::others_read);
    write(prefix / "lib/velkor/velkor", "#!/bin/sh\necho \"$(pwd) $*\" >> \"$XDG_DATA_HOME/started\"\n",
          fs::perms::owner_all);
    // Started through a link, as from a PATH folder elsewhere.
    fs::create_symlink(prefix / "bin/velkor", dir.path / "velkor-link");

    const fs::path data = dir.path / "data";
    const fs::path work = data / "velkor";
    const std::string run = "XDG_DATA_HOME='" + data.string() + "' '" + (dir.path / "velkor-link").string() + "' a b";
    ASSERT_EQ(std::system(run.c_str()), 0);
    EXPECT_EQ(read(data / "started"), work.string() + " a b\n");
    EXPECT_TRUE(fs::is_directory(work / "Record"));
    for (const char* f : {"Login.xml", "Audio.xml", "Call.xml"}) {
        EXPECT_EQ(read(work / f), read(kDefaults / f)) << f;
        struct stat st {};
        ASSERT_EQ(stat((work / f).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;  // accounts and passwords are the user's own
    }

    // Later starts keep what the client wrote.
    write(work / "Login.xml", "<UserInfo>\r\n<User UserID=\"a\" UserPwd=\"\" Type=\"1\" Wangluo=\"\"/>\r\n</UserInfo>");
    fs::remove(work / "Call.xml");
    ASSERT_EQ(std::system(run.c_str()), 0);
    EXPECT_NE(read(work / "Login.xml").find("UserID=\"a\""), std::string::npos);
    EXPECT_EQ(read(work / "Call.xml"), read(kDefaults / "Call.xml"));

    // A working folder that cannot be made: the launcher fails, the client is not run.
    write(dir.path / "blocked", "");
    const std::string blocked = "XDG_DATA_HOME='" + (dir.path / "blocked").string() + "' '" +
                                (prefix / "bin/velkor").string() + "' 2>/dev/null";
    EXPECT_NE(std::system(blocked.c_str()), 0);
    EXPECT_EQ(read(data / "started"), work.string() + " a b\n" + work.string() + " a b\n");
}
