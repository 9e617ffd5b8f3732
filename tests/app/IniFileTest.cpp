// kv::IniFile: lookups, round trips, damaged files, and the atomic replace.
#include "IniFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kv_ini_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/kvsetup.ini";
    }
    void TearDown() override {
        chmod(dir.c_str(), 0700);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    void Put(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string Get() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    int FilesInDir() const {
        int n = 0;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    ++n;
            closedir(d);
        }
        return n;
    }
    std::string dir, path;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    kv::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", ""), "");
    EXPECT_EQ(ini.ReadInteger("Settings", "RadioGroup_Mode", -1), -1);
    EXPECT_TRUE(ini.ReadBool("S", "K", true));
    Put("[Com]\nOther=1\n");
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Nope", "Other", "dflt"), "dflt");
    EXPECT_FALSE(ini.SectionExists("Date"));
    EXPECT_TRUE(ini.SectionExists("com"));
}

TEST_F(IniFileTest, LookupIgnoresCaseAndBlanksAndTakesTheFirstOccurrence) {
    Put("; comment\n[ Com ]\n  mblastusedport =  /dev/ttyS0  \nMBLastUsedPort=second\n[COM]\nMBLastUsedPort=third\n");
    kv::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", ""), "/dev/ttyS0");
    EXPECT_EQ(ini.ReadString("cOm", "MBLASTUSEDPORT", ""), "/dev/ttyS0");
}

TEST_F(IniFileTest, IntegersAndBooleans) {
    const struct {
        const char* text;
        int expected; // -1 = not an integer (the default)
    } cases[] = {
        {"12", 12}, {"-7", -7}, {"+3", 3}, {"0x1F", 31}, {"0XfF", 255}, {"$10", 16},
        {" 42 ", 42}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
        {"0xFFFFFFFF", -1}, {"2147483648", -1}, {"12a", -1}, {"", -1}, {"0x", -1},
        {"1.5", -1}, {"--1", -1}, {"99999999999999999999", -1},
    };
    for (const auto& c : cases) {
        Put(std::string("[S]\nK=") + c.text + "\n");
        EXPECT_EQ(kv::IniFile(path).ReadInteger("S", "K", -1), c.expected) << c.text;
    }
    Put("[S]\nOn=1\nOff=0\nOdd=5\nText=yes\n");
    kv::IniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("S", "On", false));
    EXPECT_FALSE(ini.ReadBool("S", "Off", true));
    EXPECT_TRUE(ini.ReadBool("S", "Odd", false));
    EXPECT_FALSE(ini.ReadBool("S", "Text", false));
    EXPECT_TRUE(ini.ReadBool("S", "Text", true));
}

TEST_F(IniFileTest, RoundTripsInOrderAndUtf8) {
    kv::IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("Header", "KV", "KV5510/KV7730"));
    ASSERT_TRUE(ini.WriteInteger("Settings", "RadioGroup_Mode", -1));
    ASSERT_TRUE(ini.WriteBool("Settings", "RadioButton_ErrorLow", true));
    ASSERT_TRUE(ini.WriteString("Settings", "Edit_FizikaiForOutL", "12,5 °C"));
    ASSERT_TRUE(ini.WriteString("Date", "Date", "2026. 12. 07.   8:15:00"));
    EXPECT_EQ(Get(), "[Header]\nKV=KV5510/KV7730\n"
                     "[Settings]\nRadioGroup_Mode=-1\nRadioButton_ErrorLow=1\nEdit_FizikaiForOutL=12,5 °C\n"
                     "[Date]\nDate=2026. 12. 07.   8:15:00\n");
    EXPECT_EQ(ini.ReadInteger("settings", "radiogroup_mode", 0), -1);
    EXPECT_EQ(ini.ReadString("Settings", "Edit_FizikaiForOutL", ""), "12,5 °C");
    // A second write of a key replaces its value in place.
    ASSERT_TRUE(ini.WriteInteger("SETTINGS", "radiogroup_mode", 7));
    EXPECT_NE(Get().find("RadioGroup_Mode=7\nRadioButton_ErrorLow"), std::string::npos);
}

TEST_F(IniFileTest, RewriteKeepsWhatItDoesNotWrite) {
    const std::string before =
        "\xEF\xBB\xBF; written by hand\r\n[Header]\r\nKV=KV5510/KV7730\r\nExtra = kept \r\n\r\n"
        "; the next section\r\n[Mine]\r\nnot a key line\r\nx=1\r\n[Settings]\r\nRadioGroup_Mode=2";
    Put(before);
    kv::IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("Header", "New", "v"));
    ASSERT_TRUE(ini.WriteString("Settings", "RadioGroup_Mode", "3"));
    ASSERT_TRUE(ini.WriteString("Date", "Date", "d"));
    EXPECT_EQ(Get(), "\xEF\xBB\xBF; written by hand\r\n[Header]\r\nKV=KV5510/KV7730\r\nExtra = kept \r\nNew=v\r\n\r\n"
                     "; the next section\r\n[Mine]\r\nnot a key line\r\nx=1\r\n[Settings]\r\nRadioGroup_Mode=3\r\n"
                     "[Date]\r\nDate=d\r\n");
}

TEST_F(IniFileTest, DamagedInputIsToleratedAndNeverLost) {
    std::string junk = "[Com\n=novalue\n[]\nkey\n\x01\x02\xff\xfe=\x00zz\n[Com]\n"s;
    junk += std::string(kv::IniFile::kMaxLineLength + 10, 'a') + "=long\n";
    junk += "MBLastUsedPort=ok\n";
    junk.push_back('\0');
    junk += "\n[Tail]\nT=1";
    Put(junk);
    kv::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", ""), "ok");
    EXPECT_EQ(ini.ReadInteger("Tail", "T", 0), 1);
    ASSERT_TRUE(ini.WriteString("Com", "MBLastUsedPort", "new"));
    const std::string after = Get();
    // Only the value changed; every damaged byte is still there.
    std::string expected = junk;
    expected.replace(expected.find("MBLastUsedPort=ok"), 17, "MBLastUsedPort=new");
    EXPECT_EQ(after, expected);
}

TEST_F(IniFileTest, OversizedFileIsReadInPartAndNeverCutByAWrite) {
    std::string big = "[Com]\nMBLastUsedPort=p\n";
    while (big.size() <= kv::IniFile::kMaxFileSize)
        big += std::string(999, 'x') + "\n";
    Put(big);
    kv::IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Com", "MBLastUsedPort", ""), "p");
    EXPECT_FALSE(ini.WriteString("Com", "MBLastUsedPort", "q"));
    EXPECT_EQ(Get().size(), big.size());
}

TEST_F(IniFileTest, UnstorableNamesAndValuesAreRefused) {
    Put("[S]\nK=old\n");
    kv::IniFile ini(path);
    EXPECT_FALSE(ini.WriteString("S", "K", "two\nlines"));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "v"));
    EXPECT_FALSE(ini.WriteString("S", "", "v"));
    EXPECT_FALSE(ini.WriteString("S]x", "K", "v"));
    EXPECT_FALSE(ini.WriteString("S", "[K", "v"));
    EXPECT_EQ(Get(), "[S]\nK=old\n");
}

TEST_F(IniFileTest, ReplaceIsAtomicAndLeavesNoTemporaryFiles) {
    Put("[Com]\nMBLastUsedPort=a\n");
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    chmod(path.c_str(), 0640);
    kv::IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("Com", "MBLastUsedPort", "b"));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    // A new file took the old one's place (a reader holding the old one never
    // sees it half written), with the old one's mode.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(FilesInDir(), 1);
}

TEST_F(IniFileTest, AWriteThatCannotReplaceTheFileFailsAndKeepsIt) {
    Put("[Com]\nMBLastUsedPort=a\n");
    // A folder that is really a file: no temporary file can be made there, for
    // root as for anyone.
    kv::IniFile impossible(path + "/inner.ini");
    EXPECT_FALSE(impossible.WriteString("Com", "MBLastUsedPort", "b"));
    EXPECT_EQ(impossible.ReadString("Com", "MBLastUsedPort", "none"), "none");
    // A missing folder.
    EXPECT_FALSE(kv::IniFile(dir + "/missing/x.ini").WriteString("S", "K", "v"));
    if (geteuid() != 0) {
        // A read-only folder, and a read-only file in a writable one.
        chmod(dir.c_str(), 0500);
        EXPECT_FALSE(kv::IniFile(path).WriteString("Com", "MBLastUsedPort", "b"));
        chmod(dir.c_str(), 0700);
        chmod(path.c_str(), 0400);
        EXPECT_FALSE(kv::IniFile(path).WriteString("Com", "MBLastUsedPort", "b"));
    }
    EXPECT_EQ(Get(), "[Com]\nMBLastUsedPort=a\n");
    EXPECT_EQ(FilesInDir(), 1);
}

TEST_F(IniFileTest, AFifoOrAFolderIsNeitherReadNorReplaced) {
    const std::string fifo = dir + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    kv::IniFile onFifo(fifo); // no writer: a blocking open would hang here
    EXPECT_EQ(onFifo.ReadString("Com", "MBLastUsedPort", "none"), "none");
    EXPECT_FALSE(onFifo.WriteString("Com", "MBLastUsedPort", "x"));
    kv::IniFile onFolder(dir);
    EXPECT_EQ(onFolder.ReadInteger("S", "K", 7), 7);
    EXPECT_FALSE(onFolder.WriteString("S", "K", "v"));
}

TEST_F(IniFileTest, WritesThroughASymlinkToItsTarget) {
    Put("[S]\nK=1\n");
    const std::string link = dir + "/link.ini";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_TRUE(kv::IniFile(link).WriteString("S", "K", "2"));
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Get(), "[S]\nK=2\n");
}

} // namespace
