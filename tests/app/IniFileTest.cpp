// kv::IniFile: lookups, round trips, damaged files, and the atomic replace.
#include "IniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
        {"12", 12}, {"-7", -7}, {"+3", 3}, {"0x1F", 31}, {"0XfF", 255}, {"$10", -1},
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
        // A read-only file in a writable folder.
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

// Another user's link in a shared folder is not followed, and a link of ours
// to another user's file neither; the files they lead to stay as they were.
TEST_F(IniFileTest, LinksPlantedByOthersAreNotFollowed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another user";
    const uid_t other = 65534;
    const std::string shared = dir + "/shared";
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    Put("[Secret]\nK=1\n");
    const std::string theirs = dir + "/theirs.ini";
    std::ofstream(theirs) << "[S]\nK=1\n";
    ASSERT_EQ(chown(theirs.c_str(), other, other), 0);
    const struct {
        const char* what;
        std::string target;
        uid_t linkOwner;
    } cases[] = {
        {"their link to our file", path, other},
        {"our link to their file", theirs, 0},
    };
    for (const auto& c : cases) {
        const std::string link = shared + "/kvsetup.ini";
        unlink(link.c_str());
        ASSERT_EQ(symlink(c.target.c_str(), link.c_str()), 0);
        ASSERT_EQ(lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
        std::ifstream in(c.target, std::ios::binary);
        const std::string before{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(kv::IniFile::UntrustedLink(link)) << c.what;
        EXPECT_FALSE(kv::IniFile(link).WriteString("Com", "MBLastUsedPort", "x")) << c.what;
        std::ifstream after(c.target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), before) << c.what;
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what;
    }
    EXPECT_FALSE(kv::IniFile::UntrustedLink(path)); // no link at all
}

// The permission bits decide, also for root, whom access() always lets write.
TEST_F(IniFileTest, AReadOnlyFileIsNeverReplacedAlsoByRoot) {
    for (const mode_t mode : {0444u, 0400u, 0000u}) {
        Put("[Com]\nMBLastUsedPort=a\n");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        EXPECT_FALSE(kv::IniFile(path).WriteString("Com", "MBLastUsedPort", "b")) << std::oct << mode;
        chmod(path.c_str(), 0600);
        EXPECT_EQ(Get(), "[Com]\nMBLastUsedPort=a\n") << std::oct << mode;
        unlink(path.c_str());
    }
}

// Killed writes leave temporary files; the next write removes those of this
// file that nobody holds, and nothing else.
TEST_F(IniFileTest, StaleTemporaryFilesAreRemovedByTheNextWrite) {
    Put("[Com]\nMBLastUsedPort=a\n");
    const auto make = [&](const std::string& name) {
        std::ofstream(dir + "/" + name) << "half a file";
        return dir + "/" + name;
    };
    make(".kvsetup.ini.kvtmp-Ab12Cd"); // stale
    make(".kvsetup.ini.backup");       // the user's
    make(".other.ini.kvtmp-Ab12Cd");   // another file's
    // A write in progress in another process holds its file locked.
    const std::string live = make(".kvsetup.ini.kvtmp-LiVe00");
    const int fd = open(live.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    // flock belongs to the open file: the write's own open cannot take it.
    ASSERT_TRUE(kv::IniFile(path).WriteString("Com", "MBLastUsedPort", "b"));
    close(fd);
    EXPECT_EQ(Get(), "[Com]\nMBLastUsedPort=b\n");
    EXPECT_EQ(access((dir + "/.kvsetup.ini.kvtmp-Ab12Cd").c_str(), F_OK), -1);
    EXPECT_EQ(access((dir + "/.kvsetup.ini.backup").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir + "/.other.ini.kvtmp-Ab12Cd").c_str(), F_OK), 0);
    EXPECT_EQ(access(live.c_str(), F_OK), 0);
    EXPECT_EQ(FilesInDir(), 4);
}

// The folder and owner rules bind every user but root: as root, `write`
// runs in a child process as another user. 1 or 0: what it returned.
int AsUser(const std::function<bool()>& write) {
    if (geteuid() != 0)
        return write();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(setgroups(0, nullptr) || setresgid(65534, 65534, 65534) || setresuid(65534, 65534, 65534) ? 3 : !write());
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? 1 - WEXITSTATUS(status) : -9;
}

// Where a new file in the old one's place would lose something, the write
// goes into the file itself: inode, owner, mode and links stay.
TEST_F(IniFileTest, WhereARenameWouldLoseSomethingTheFileItselfIsWritten) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the files to another user";
    const struct {
        const char* name;
        mode_t folder, file;
        uid_t owner; // the writer is 65534
        bool secondLink, written;
    } cases[] = {
        {"root's 0666 file in a 0555 folder", 0555, 0666, 0, false, true},
        {"root's 0666 file in a sticky folder", 01777, 0666, 0, false, true},
        {"root's 0666 file in a writable folder", 0777, 0666, 0, false, true},
        {"our file with a second link", 0777, 0644, 65534, true, true},
        {"root's 0644 file", 0777, 0644, 0, false, false},
    };
    chmod(dir.c_str(), 0755);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir + "/" + std::to_string(&c - cases), file = folder + "/a.ini";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        std::ofstream(file) << "; kept\n[Com]\nMBLastUsedPort=a\n";
        ASSERT_EQ(chown(file.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chmod(file.c_str(), c.file), 0);
        if (c.secondLink) {
            ASSERT_EQ(link(file.c_str(), (folder + "/b.ini").c_str()), 0);
        }
        ASSERT_EQ(chmod(folder.c_str(), c.folder), 0);
        struct stat was {}, is {};
        stat(file.c_str(), &was);
        EXPECT_EQ(AsUser([&] { return kv::IniFile(file).WriteString("Com", "MBLastUsedPort", "b"); }), c.written);
        stat(file.c_str(), &is);
        EXPECT_EQ(std::tie(is.st_ino, is.st_uid, is.st_gid, is.st_mode, is.st_nlink),
                  std::tie(was.st_ino, was.st_uid, was.st_gid, was.st_mode, was.st_nlink));
        for (const char* name : {"/a.ini", "/b.ini"}) {
            std::ifstream in(folder + name);
            if (in || name[1] == 'a') {
                EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                          c.written ? "; kept\n[Com]\nMBLastUsedPort=b\n" : "; kept\n[Com]\nMBLastUsedPort=a\n");
            }
        }
    }
}

// A file written in place that runs out of room keeps its old text (a
// file-size limit below the new text stands for the full disk).
TEST_F(IniFileTest, AFileWrittenInPlaceIsWholeWhenTheRoomRunsOut) {
    const std::string before = "[Com]\nMBLastUsedPort=a\n" + std::string(1000, '#') + "\n";
    Put(before);
    (void)!chown(path.c_str(), 65534, 65534); // the writer's own file, when root
    chmod(dir.c_str(), 0555);                  // so it is written in place
    EXPECT_EQ(AsUser([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit small{1536, RLIM_INFINITY};
                  setrlimit(RLIMIT_FSIZE, &small);
                  return kv::IniFile(path).WriteString("Com", "MBLastUsedPort", std::string(1000, 'b'));
              }),
              0);
    EXPECT_EQ(Get(), before);
}
} // namespace

// A whole file under a free name: a taken name fails with EEXIST and keeps
// its file; several writers racing for one name end with one whole winner.
TEST_F(IniFileTest, AnExclusiveWholeWriteNeverTakesAnExistingName) {
    Put("old\n");
    int err = 0;
    EXPECT_FALSE(kv::WriteWholeFile(path, "new\n", true, &err));
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(Get(), "old\n");
    ASSERT_TRUE(kv::WriteWholeFile(path, "new\n", false, &err));
    EXPECT_EQ(Get(), "new\n");
    const std::string fresh = dir + "/fresh.kvs";
    const std::string big(200000, 'b');
    std::vector<pid_t> writers;
    for (char c : {'1', '2', '3', '4'}) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(kv::WriteWholeFile(fresh, std::string(big.size(), c), true) ? 0 : 1);
        writers.push_back(pid);
    }
    int won = 0;
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        won += WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    EXPECT_EQ(won, 1);
    std::ifstream in(fresh, std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(got.size(), big.size());
    EXPECT_EQ(got.find_first_not_of(got[0]), std::string::npos) << "one writer's whole text";
    EXPECT_EQ(FilesInDir(), 2) << "no temporary file left";
    EXPECT_FALSE(kv::WriteWholeFile(dir + "/no/such/folder", "x", true, &err));
    EXPECT_EQ(err, ENOENT);
}
