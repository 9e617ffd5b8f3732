#pragma once
// The seed corpora in fuzz/corpus/<target>/: the replay programs run every
// file there (so a finding, once its input is added, is replayed by every
// test run) and write their generated inputs there when asked to
// (--write-seeds DIR), which is how the corpora were made.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kvfuzz {

// Runs fn on every file of dir; the number of files run (0 when dir is missing).
template <class Fn> std::size_t ReplayCorpus(const std::string& dir, Fn fn) {
    std::error_code ec;
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        fn(bytes.data(), bytes.size());
        ++n;
    }
    return n;
}

// Writes one seed as DIR/<prefix>-<index>; no-op when dir is empty.
inline void WriteSeed(const std::string& dir, const char* prefix, std::size_t index, const std::uint8_t* data,
                      std::size_t size) {
    if (dir.empty())
        return;
    std::filesystem::create_directories(dir);
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%04zu", prefix, index);
    std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The --write-seeds DIR argument, or "".
inline std::string SeedDirArgument(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--write-seeds")
            return argv[i + 1];
    return {};
}

} // namespace kvfuzz
