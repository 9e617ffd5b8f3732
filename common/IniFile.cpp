#include "IniFile.h"

#include <cstdio>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kv {

enum class IniLineKind { Other, Section, Key };

struct IniLine {
    std::string text; // without its line ending
    std::string_view eol; // "\n", "\r\n" or "" (last line without one)
    IniLineKind kind = IniLineKind::Other;
    std::string name;  // section or key name
    std::string value; // key value
};

struct IniDocument {
    std::string bom;
    std::vector<IniLine> lines;
    std::string_view eol = "\n"; // the style of the first line ending found
    bool exists = false;
    bool tooLarge = false;
    bool unreadable = false; // something stands there that could not be read
};

namespace {

using Kind = IniLineKind;
using Line = IniLine;
using Document = IniDocument;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    // Blanks and control characters around names and values are not part of them.
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

void Classify(Line& line) {
    line.kind = Kind::Other;
    if (line.text.size() > IniFile::kMaxLineLength)
        return;
    const std::string_view t = Trim(line.text);
    if (t.empty())
        return;
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close == std::string_view::npos)
            return;
        line.kind = Kind::Section;
        line.name = Trim(t.substr(1, close - 1));
        return;
    }
    if (t.front() == ';' || t.front() == '#')
        return;
    const auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return;
    const std::string_view key = Trim(t.substr(0, eq));
    if (key.empty())
        return;
    line.kind = Kind::Key;
    line.name = key;
    line.value = Trim(t.substr(eq + 1));
}

enum class ReadResult { Ok, Missing, NotRegular, TooLarge, Failed };

// Reads up to `limit` bytes of a regular file into data. Non-blocking, so
// that a name that turns out to be a FIFO or a device never waits for a
// writer; only a regular file is read, unless `streams` allows a pipe or a
// character device too (read as it comes, waiting for its writer).
// TooLarge: data holds the first `limit` bytes.
ReadResult ReadBytes(const std::string& path, std::size_t limit, std::string& data, int& err, bool streams = false) {
    err = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        err = errno;
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0;
    if (ok && streams && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)))
        ::fcntl(fd, F_SETFL, 0); // now it may wait
    else if (!ok || !S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : 0;
        ::close(fd);
        return ReadResult::NotRegular;
    }
    ReadResult result = ReadResult::Ok;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            result = ReadResult::Failed;
            break;
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > limit) {
            data.resize(limit);
            result = ReadResult::TooLarge;
            break;
        }
    }
    ::close(fd);
    return result;
}

// Splits the text into classified lines.
Document Parse(std::string_view rest) {
    Document doc;
    if (rest.substr(0, kBom.size()) == kBom) {
        doc.bom = kBom;
        rest.remove_prefix(kBom.size());
    }
    bool eolSeen = false;
    while (!rest.empty()) {
        Line line;
        const auto nl = rest.find('\n');
        if (nl == std::string_view::npos) {
            line.text = rest;
            rest = {};
        } else {
            std::size_t end = nl;
            line.eol = "\n";
            if (end > 0 && rest[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            }
            line.text = rest.substr(0, end);
            rest.remove_prefix(nl + 1);
            if (!eolSeen) {
                doc.eol = line.eol;
                eolSeen = true;
            }
        }
        doc.lines.push_back(std::move(line));
    }
    for (auto& line : doc.lines)
        Classify(line);
    return doc;
}

// Reads the file into lines; a missing or unreadable file is an empty
// document (marked unreadable when something stands there), and one beyond
// kMaxFileSize is read up to it.
Document Load(const std::string& path) {
    std::string data;
    int err = 0;
    const ReadResult r = ReadBytes(path, IniFile::kMaxFileSize, data, err);
    if (r != ReadResult::Ok && r != ReadResult::TooLarge) {
        Document doc;
        doc.unreadable = r != ReadResult::Missing;
        return doc;
    }
    Document doc = Parse(data);
    doc.exists = true;
    doc.tooLarge = r == ReadResult::TooLarge;
    return doc;
}

// Index of the first header of the section, or -1.
long FindSection(const Document& doc, std::string_view section) {
    for (std::size_t i = 0; i < doc.lines.size(); ++i)
        if (doc.lines[i].kind == Kind::Section && SameName(doc.lines[i].name, section))
            return static_cast<long>(i);
    return -1;
}

// Index of the first key line of the section's first occurrence, or -1.
long FindKey(const Document& doc, long sectionLine, std::string_view key) {
    if (sectionLine < 0)
        return -1;
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == Kind::Section)
            break;
        if (line.kind == Kind::Key && SameName(line.name, key))
            return static_cast<long>(i);
    }
    return -1;
}

bool Find(const Document& doc, std::string_view section, std::string_view key, std::string& value) {
    const long k = FindKey(doc, FindSection(doc, section), Trim(key));
    if (k < 0)
        return false;
    value = doc.lines[static_cast<std::size_t>(k)].value;
    return true;
}

bool WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirName(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Temporary files of a write are "." + the file's name + kTempMarker + six
// random characters, and are held under an exclusive lock while they live: a
// file of that name that nobody holds locked was left by a write that died
// (killed, power lost) and is removed by the next write in that folder.
constexpr std::string_view kTempMarker = ".kvtmp-";

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the temporary files of dead writes of the file base in dir: only
// regular files of the running user that no living write holds locked.
void RemoveStaleTemporaries(const std::string& dir, const std::string& base) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    const std::string ours = "." + base + std::string(kTempMarker);
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() != ours.size() + 6 || name.substr(0, ours.size()) != ours)
            continue;
        const std::string path = dir + "/" + std::string(name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            named.st_ino == held.st_ino && named.st_dev == held.st_dev)
            ::unlink(path.c_str());
        ::close(fd); // releases the lock
    }
    ::closedir(d);
}

// Makes a locked temporary file beside target; -1 when the folder refuses.
int CreateTemporary(const std::string& dir, const std::string& base, std::string& tmp) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        tmp = dir + "/." + base + std::string(kTempMarker) + "XXXXXX";
        const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        // A cleaner in another process may have taken the file for stale in
        // the moment before the lock: then the name is gone, and we start over.
        struct stat held {}, named {};
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &held) == 0 && ::lstat(tmp.c_str(), &named) == 0 &&
            named.st_ino == held.st_ino && named.st_dev == held.st_dev)
            return fd;
        ::close(fd);
    }
    return -1;
}

// Follows the symbolic links at path while each of them and the file they
// lead to belong to the running user. Sets target to the final name (path
// itself when it is no link) and st to what stands there; exists is false
// when nothing does. False when a link belongs to someone else, leads to a
// file of someone else, or the chain is too long or broken in a way that
// hides what it points to.
bool ResolveOwnLinks(const std::string& path, std::string& target, struct stat& st, bool& exists) {
    target = path;
    exists = false;
    const uid_t me = ::geteuid();
    bool viaLink = false;
    for (int depth = 0; depth < 16; ++depth) {
        if (::lstat(target.c_str(), &st) != 0)
            return errno == ENOENT && !viaLink; // a dangling link is not followed
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return !viaLink || st.st_uid == me;
        }
        if (st.st_uid != me)
            return false;
        viaLink = true;
        std::string next(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(target.c_str(), next.data(), next.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= next.size())
            return false;
        next.resize(static_cast<std::size_t>(n));
        target = next.front() == '/' ? next : DirName(target) + "/" + next;
    }
    return false;
}

// Puts the temporary file's text under the name without replacing anything:
// EEXIST when the name is taken. Where the file system cannot rename that way,
// a hard link does the same.
bool RenameNoReplace(const std::string& tmp, const std::string& target) {
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(tmp.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(tmp.c_str());
    return true;
}

// True when the running user is in group gid (primary or supplementary).
bool InGroup(gid_t gid) {
    if (gid == ::getegid())
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

// A new file may take the old one's place only when nobody loses anything
// by it: the folder lets us rename, the file is ours with its group and
// mode ours to give again, it has no other name (a hard link would keep
// the old text) and no access list a new file would lack.
bool MayReplaceByRename(const std::string& target, const std::string& dir, const struct stat& st) {
    const uid_t me = ::geteuid();
    if (st.st_uid != me || st.st_nlink != 1)
        return false;
    if (me != 0 && !InGroup(st.st_gid))
        return false;
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    return ::getxattr(target.c_str(), "system.posix_acl_access", nullptr, 0) < 0;
}

// Writes data into a temporary file beside target and renames it over
// target (or to target when nothing is there yet); the old file's owner,
// group and mode stay. False with no trace when any step fails (err: why).
// exclusive: the name must be free, and is taken only with the whole text.
bool ReplaceByRename(const std::string& target, const std::string& dir, const struct stat* old,
                     std::string_view data, bool exclusive, int& err) {
    const std::string base = BaseName(target);
    RemoveStaleTemporaries(dir, base);
    std::string tmp;
    const int fd = CreateTemporary(dir, base, tmp);
    if (fd < 0) {
        err = errno;
        return false;
    }
    bool ok = WriteAll(fd, data);
    if (ok && old)
        ok = ::fchown(fd, old->st_uid, old->st_gid) == 0 && ::fchmod(fd, old->st_mode & 07777) == 0;
    else if (ok)
        ok = ::fchmod(fd, 0644) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ok && (exclusive ? RenameNoReplace(tmp, target) : ::rename(tmp.c_str(), target.c_str()) == 0);
    if (!ok) {
        err = errno;
        ::unlink(tmp.c_str());
    }
    // Closed only now: until the rename, the lock says the file is alive.
    ::close(fd);
    if (!ok)
        return false;
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd); // makes the rename itself durable
        ::close(dfd);
    }
    return true;
}

bool PWriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Rewrites the file through its own inode, so that its owner, links and
// access list stay. The room the new text needs is claimed before a byte
// is written, and a write that fails all the same puts the old text back:
// the file ends complete, old or new.
bool UpdateInPlace(const std::string& target, const struct stat& st, std::string_view data) {
    const int fd = ::open(target.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat now {};
    std::string old;
    bool ok = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && now.st_ino == st.st_ino && now.st_dev == st.st_dev &&
              static_cast<std::size_t>(now.st_size) <= IniFile::kMaxFileSize;
    if (ok) {
        old.resize(static_cast<std::size_t>(now.st_size));
        const ssize_t n = ::pread(fd, old.data(), old.size(), 0);
        ok = n == static_cast<ssize_t>(old.size());
    }
    if (ok && data.size() > old.size()) {
        // Blocks for the whole new length, without changing the length yet.
        const int r = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size()));
        if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
            ok = false;
        if (r != 0 && ok) {
            // No way to claim them: ask for the room with a block to spare.
            struct statvfs vfs {};
            const std::uint64_t need = data.size() - old.size() + 4096;
            ok = ::fstatvfs(fd, &vfs) == 0 &&
                 static_cast<std::uint64_t>(::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail) * vfs.f_frsize >= need;
        }
    }
    if (ok) {
        ok = PWriteAll(fd, data) && (data.size() >= old.size() || ::ftruncate(fd, static_cast<off_t>(data.size())) == 0) &&
             ::fsync(fd) == 0;
        if (!ok) {
            (void)PWriteAll(fd, old);
            (void)::ftruncate(fd, static_cast<off_t>(old.size()));
            (void)::fsync(fd);
        }
    }
    ::close(fd);
    return ok;
}

// Puts data into the file at path: by a rename of a flushed temporary file
// where that loses nothing (MayReplaceByRename), otherwise into the file
// itself (UpdateInPlace) when inPlace allows it. exclusive: the name must be
// free, and is taken only with the whole text. On failure err holds the
// reason (an errno value).
bool ReplaceFile(const std::string& path, std::string_view data, bool exclusive, bool inPlace, int& err) {
    err = 0;
    std::string target;
    struct stat st {};
    bool exists = false;
    if (!ResolveOwnLinks(path, target, st, exists)) {
        err = EPERM; // a link of another user, or one that leads nowhere
        return false;
    }
    const std::string dir = DirName(target);
    if (!exists)
        return ReplaceByRename(target, dir, nullptr, data, exclusive, err);
    if (exclusive) {
        err = EEXIST;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // A file the user made read-only stays as it is. Root may write
    // anything, so the permission bits are asked as well as the kernel.
    if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        err = EACCES;
        return false;
    }
    // kvctl's files written whole never go through the old inode: a crash in
    // the middle would leave them torn.
    if (!inPlace || MayReplaceByRename(target, dir, st))
        return ReplaceByRename(target, dir, &st, data, false, err);
    if (UpdateInPlace(target, st, data))
        return true;
    err = errno ? errno : EIO;
    return false;
}

bool NameStorable(std::string_view name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (c == '\n' || c == '\r' || c == '\0')
            return false;
    return true;
}

} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

bool IniFile::UntrustedLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    std::string target;
    bool exists = false;
    return !ResolveOwnLinks(path, target, st, exists);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
    std::string value;
    if (Find(Load(path_), Trim(section), key, value))
        return value;
    return std::string(def);
}

bool IniFile::ParseInteger(std::string_view text, int& value) {
    std::string_view t = Trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    unsigned base = 10;
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty())
        return false;
    std::uint64_t acc = 0;
    for (char c : t) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        acc = acc * base + d;
        if (acc > 0xFFFFFFFFull)
            return false;
    }
    std::int64_t v;
    if (base == 16) {
        // Hexadecimal spells the 32 bits: 0xFFFFFFFF is -1.
        v = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
    } else {
        v = static_cast<std::int64_t>(acc);
        if (!negative && v > INT_MAX)
            return false;
        if (negative && v > static_cast<std::int64_t>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    value = static_cast<int>(static_cast<std::int32_t>(v));
    return true;
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    std::string text;
    int value = def;
    if (Find(Load(path_), Trim(section), key, text) && ParseInteger(text, value))
        return value;
    return def;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const {
    return FindSection(Load(path_), Trim(section)) >= 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    std::string value;
    return Find(Load(path_), Trim(section), key, value);
}

namespace {

// Sets section/key to value in doc; false when the name or value cannot be
// stored in one line.
bool EditDocument(Document& doc, std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    value = Trim(value);
    if (!NameStorable(section) || section.find(']') != std::string_view::npos)
        return false;
    if (!NameStorable(key) || key.find('=') != std::string_view::npos || key.front() == '[' ||
        key.front() == ';' || key.front() == '#')
        return false;
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return false;
    if (section.size() + key.size() + value.size() + 3 > IniFile::kMaxLineLength)
        return false;

    // New lines are classified as a reading would, so that the next edit
    // of the same document finds them.
    Line keyLine;
    keyLine.text = std::string(key) + "=" + std::string(value);
    keyLine.eol = doc.eol;
    keyLine.kind = Kind::Key;
    keyLine.name = key;
    keyLine.value = value;
    const long s = FindSection(doc, section);
    const long k = FindKey(doc, s, key);
    auto terminate = [&](std::size_t i) {
        if (doc.lines[i].eol.empty())
            doc.lines[i].eol = doc.eol;
    };
    if (k >= 0) {
        Line& line = doc.lines[static_cast<std::size_t>(k)];
        // Keep the key as the file spells it.
        line.text = line.name + "=" + std::string(value);
        line.value = value;
    } else if (s >= 0) {
        // After the section's last key line, so that comments and blank lines
        // that lead into the next section stay with it.
        std::size_t at = static_cast<std::size_t>(s);
        for (std::size_t i = at + 1; i < doc.lines.size() && doc.lines[i].kind != Kind::Section; ++i)
            if (doc.lines[i].kind == Kind::Key)
                at = i;
        terminate(at);
        doc.lines.insert(doc.lines.begin() + static_cast<long>(at) + 1, std::move(keyLine));
    } else {
        if (!doc.lines.empty())
            terminate(doc.lines.size() - 1);
        Line header;
        header.text = "[" + std::string(section) + "]";
        header.eol = doc.eol;
        header.kind = Kind::Section;
        header.name = section;
        doc.lines.push_back(std::move(header));
        doc.lines.push_back(std::move(keyLine));
    }
    return true;
}

std::string Render(const Document& doc) {
    std::string out = doc.bom;
    for (const auto& line : doc.lines) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

} // namespace

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const IniEntry entry{section, key, value};
    return WriteStrings({&entry, 1});
}

bool IniFile::WriteStrings(std::span<const IniEntry> entries) {
    // A file that is there but could not be read, or only in part, would
    // lose what was not read.
    Document doc = Load(path_);
    if (doc.tooLarge || doc.unreadable)
        return false;
    for (const IniEntry& e : entries)
        if (!EditDocument(doc, e.section, e.key, e.value))
            return false;
    const std::string text = Render(doc);
    // What is written can always be read back.
    if (text.size() > kMaxFileSize)
        return false;
    int err = 0;
    return ReplaceFile(path_, text, false, true, err);
}

bool WriteWholeFile(const std::string& path, std::string_view data, bool exclusive, int* err) {
    int e = 0;
    const bool ok = ReplaceFile(path, data, exclusive, false, e);
    if (err)
        *err = e;
    return ok;
}

bool IniFile::EditText(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value, std::string& out) {
    if (text.size() > kMaxFileSize)
        return false;
    Document doc = Parse(text);
    if (!EditDocument(doc, section, key, value))
        return false;
    std::string edited = Render(doc);
    if (edited.size() > kMaxFileSize)
        return false;
    out = std::move(edited);
    return true;
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

IniSnapshot::IniSnapshot() : doc_(std::make_shared<const IniDocument>()) {}

IniSnapshot IniSnapshot::Read(const std::string& path, std::size_t maxBytes, bool streams) {
    IniSnapshot snap;
    std::string data;
    int err = 0;
    switch (ReadBytes(path, maxBytes, data, err, streams)) {
    case ReadResult::Ok:
        snap.doc_ = std::make_shared<const IniDocument>(Parse(data));
        break;
    case ReadResult::Missing:
        snap.error_ = "no such file";
        break;
    case ReadResult::NotRegular:
        snap.error_ = err == EISDIR ? "a folder" : "not a regular file";
        break;
    case ReadResult::TooLarge:
        snap.error_ = "larger than " + std::to_string(maxBytes) + " bytes";
        break;
    case ReadResult::Failed:
        snap.error_ = std::strerror(err);
        break;
    }
    return snap;
}

IniSnapshot IniSnapshot::FromText(std::string_view text) {
    IniSnapshot snap;
    snap.doc_ = std::make_shared<const IniDocument>(Parse(text));
    return snap;
}

bool IniSnapshot::HasBom() const { return !doc_->bom.empty(); }

bool IniSnapshot::Find(std::string_view section, std::string_view key, std::string& value) const {
    return kv::Find(*doc_, Trim(section), key, value);
}

std::string IniSnapshot::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    std::string value;
    return Find(section, key, value) ? value : std::string(def);
}

int IniSnapshot::ReadInteger(std::string_view section, std::string_view key, int def) const {
    std::string text;
    int value = def;
    if (Find(section, key, text) && IniFile::ParseInteger(text, value))
        return value;
    return def;
}

bool IniSnapshot::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<IniSnapshot::Item> IniSnapshot::Items() const {
    std::vector<Item> items;
    int number = 0;
    for (const Line& line : doc_->lines) {
        ++number;
        if (line.kind == Kind::Section)
            items.push_back({Item::Section, number, line.name, {}});
        else if (line.kind == Kind::Key)
            items.push_back({Item::Key, number, line.name, line.value});
        else {
            const std::string_view t = Trim(line.text);
            if (!t.empty() && t.front() != ';' && t.front() != '#')
                items.push_back({Item::Damaged, number, {}, std::string(t.substr(0, 80))});
        }
    }
    return items;
}

int IniSnapshot::SectionCount(std::string_view section) const {
    int n = 0;
    for (const Line& line : doc_->lines)
        n += line.kind == Kind::Section && SameName(line.name, Trim(section));
    return n;
}

int IniSnapshot::KeyCount(std::string_view section, std::string_view key) const {
    const long first = FindSection(*doc_, Trim(section));
    if (first < 0)
        return 0;
    int n = 0;
    for (std::size_t i = static_cast<std::size_t>(first) + 1; i < doc_->lines.size(); ++i) {
        const Line& line = doc_->lines[i];
        if (line.kind == Kind::Section)
            break;
        n += line.kind == Kind::Key && SameName(line.name, Trim(key));
    }
    return n;
}

} // namespace kv
