#pragma once
// A small INI file: "[Section]" header lines and "key=value" lines, UTF-8 text.
//
// Reads and writes go to the file itself on every call (nothing is cached), so
// two writers in turn never undo each other's keys and a read always sees the
// file as it stands. Section and key names match without regard to ASCII case;
// the first occurrence of a section or key wins. Values are text; blanks
// around names and values are not part of them.
//
// A write rewrites the whole file, old or new but never torn. Where a new
// file can take the old one's place without loss (the folder is writable,
// the file is ours with a group and mode we can give again, it has one
// link and no access list), the new text goes to a temporary file in the
// same folder, is flushed to the disk, and replaces the old file by a
// rename. Otherwise (a read-only or sticky folder, another user's file, a
// file with hard links) the text goes into the file itself, which keeps its
// owner and links: the room it needs is claimed first, the text written and
// flushed, and a write that fails all the same puts the old text back. A
// write that fails returns false and leaves the old file as it was. Lines
// the writer does not touch (comments, unknown sections and keys, damaged
// lines) are kept byte for byte, and so are the byte order mark and the
// line ending style.
//
// A write never follows a symbolic link that someone else could have planted:
// it goes through a link only when every link on the way and the file it
// leads to belong to the running user, and otherwise fails. A file whose
// permission bits allow no write is never replaced, also not by root. Each
// write removes the temporary files that killed writes left in the folder
// (they are named after the file and held locked while a write lives).
//
// Damaged input never crashes the reader: lines that are neither a section
// header nor a key line are ignored, over-long lines are kept but not
// interpreted, and a file beyond kMaxFileSize is read only up to that size and
// refused for writing (a rewrite would cut it off). No write makes a file
// beyond kMaxFileSize either, so whatever was written reads back.
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct IniDocument;

// One key to write: its section, its name and its value.
struct IniEntry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

class IniFile {
public:
    static constexpr std::size_t kMaxFileSize = 1u << 20;     // 1 MiB
    // Room for any text an edit holds (32 767 characters of up to three
    // bytes in UTF-8) with its key.
    static constexpr std::size_t kMaxLineLength = 128u << 10; // 128 KiB

    explicit IniFile(std::string path);

    const std::string& FileName() const { return path_; }

    // Missing file, section or key: the default.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal with an optional sign, or hexadecimal after "0x"/"0X";
    // anything else, or a value outside 32 bits, gives the default.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // An integer that is not 0 is true; a value that is not an integer gives
    // the default.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // False when the file could not be written (no room, read-only file,
    // a file that could not be read whole, a text beyond kMaxFileSize, a
    // new file in a folder that refuses it, a link of another user), or when
    // the name or value cannot be stored in one line (empty or "="/line
    // breaks in a name, line breaks or NUL in a value, "[" or ";" leading a
    // key). The old file is then untouched.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Several keys in one write, in order: all of them or, on any failure
    // (as WriteString's), none.
    bool WriteStrings(std::span<const IniEntry> entries);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);

    // What WriteString does to the file's text, on a text: out is the text
    // with the key set; false (out untouched) when WriteString would refuse
    // the name, the value or a text beyond kMaxFileSize.
    static bool EditText(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value, std::string& out);

    // True when path is a symbolic link that a write will not follow (it, a
    // link it leads through, or the file at its end belongs to another user,
    // or it leads nowhere).
    static bool UntrustedLink(const std::string& path);

    // The integer rule of ReadInteger on a bare text: true and the value when
    // the whole text (blanks around it ignored) is such an integer.
    static bool ParseInteger(std::string_view text, int& value);

private:
    std::string path_;
};

// Writes `data` as the whole file at `path` by the rule of IniFile's writes
// (a temporary file in the same folder, flushed to the disk, renamed; links
// and read-only files as there). With `exclusive` the name must be free, and
// the file appears under it only whole: a name another writer took first
// fails with EEXIST, so parallel writers never share one. False with *err
// (an errno value) when the file could not be written; an old file is then
// untouched and no temporary file is left.
bool WriteWholeFile(const std::string& path, std::string_view data, bool exclusive = false, int* err = nullptr);

// One reading of an INI file, for reading many keys from the same state of
// the file with one bounded read. The file is opened without blocking and
// only a regular file is read (a FIFO or a device never waits for a writer),
// and at most `maxBytes` of it: a longer file is not read at all. Lookups
// follow the rules of IniFile.
class IniSnapshot {
public:
    // An empty snapshot: every key is missing.
    IniSnapshot();
    // Reads the file now. Ok() tells whether it was read; Error() says why not.
    // streams: a pipe or a character device (/dev/stdin) is read too, as its
    // writer sends it, up to maxBytes.
    static IniSnapshot Read(const std::string& path, std::size_t maxBytes = IniFile::kMaxFileSize, bool streams = false);
    // The text as it would be read from a file.
    static IniSnapshot FromText(std::string_view text);

    bool Ok() const { return error_.empty(); }
    // Why the file was not read: "no such file", "a folder", "not a regular
    // file", "larger than N bytes", or the system's reason.
    const std::string& Error() const { return error_; }
    // The text began with a UTF-8 byte order mark.
    bool HasBom() const;

    // The value of the key (blanks around it removed), or false when missing.
    bool Find(std::string_view section, std::string_view key, std::string& value) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // How often the section's header stands in the text, and how often the
    // key stands in the section's first occurrence. The lookups above take
    // the first of each: more than one is a text that says two things (two
    // files run together, a key typed twice).
    int SectionCount(std::string_view section) const;
    int KeyCount(std::string_view section, std::string_view key) const;

    // Every line that is not blank or a comment, in order, for a reader that
    // must refuse what the lookups pass over: a key given twice, a section
    // twice, a name it does not know, a damaged line.
    struct Item {
        enum Kind { Section, Key, Damaged } kind;
        int line;          // from 1
        std::string name;  // the section's or the key's (blanks around removed)
        std::string value; // a key's value, a damaged line's text
    };
    std::vector<Item> Items() const;

private:
    std::shared_ptr<const IniDocument> doc_;
    std::string error_;
};

} // namespace kv
