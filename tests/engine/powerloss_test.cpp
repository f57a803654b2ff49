// A save cut by a power failure leaves the old archive or the complete new
// one. The file services record every operation of a save; from the record
// the test builds each state a POSIX file system may hold after the cut:
// for every number of completed operations, a file's writes up to its last
// completed flush are on the disk, each later write is there or not, block
// (4 KiB) by block, and every create, rename and delete after the last flush
// of its folder is done or not. Where there are too many such choices a
// seeded sample of them is taken. Every state must load and extract as the
// old archive or the new one.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "fileservices.h"
#include "testutil.h"
#include "vzrpack.h"

using testutil::Bytes;
using Kind = vzrfs::FsOperation::Kind;

namespace {

constexpr uint64_t kBlock = 4096;
constexpr std::size_t kEnumerateUpTo = 8;  // choices enumerated in full up to this many
constexpr int kSampledStates = 62;         // seeded states per cut beyond that, besides all and none

struct Operation {
  Kind kind;
  std::string path, target;
  uint64_t offset;
  Bytes data;
};

// Records the file-system operations while it lives.
class OperationLog {
 public:
  OperationLog() {
    vzrfs::SetOperationRecorder([this](const vzrfs::FsOperation& o) {
      operations.push_back({o.kind, o.path, o.target, o.offset, o.data ? Bytes(o.data, o.data + o.length) : Bytes()});
    });
  }
  ~OperationLog() { vzrfs::SetOperationRecorder(nullptr); }
  std::vector<Operation> operations;
};

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }
bool ChangesNames(Kind k) { return k == Kind::Create || k == Kind::Rename || k == Kind::Delete; }

// A save's record, with the file (numbered; 0 is the archive before the
// save) each operation touched.
class PowerCuts {
 public:
  PowerCuts(std::vector<Operation> operations, std::string archive, Bytes oldBytes)
      : ops_(std::move(operations)), archive_(std::move(archive)) {
    std::map<std::string, int> names{{archive_, 0}};
    bases_.push_back(std::move(oldBytes));
    for (const Operation& op : ops_) {
      int file = -1;
      if (op.kind == Kind::Create || ((op.kind == Kind::Write || op.kind == Kind::Flush) && !names.count(op.path))) {
        file = static_cast<int>(bases_.size());
        bases_.emplace_back();
        names[op.path] = file;
      } else if (op.kind != Kind::FlushFolder && names.count(op.path)) {
        file = names[op.path];
      }
      if (op.kind == Kind::Rename) names[op.target] = file;
      if (op.kind == Kind::Rename || op.kind == Kind::Delete) names.erase(op.path);
      files_.push_back(file);
    }
  }
  std::size_t Operations() const { return ops_.size(); }

  // Calls check with the archive's bytes (none: no file of that name) in each
  // state the first `done` operations may leave; returns how many states.
  std::size_t ForEachState(std::size_t done, std::mt19937& random,
                           const std::function<void(const std::optional<Bytes>&)>& check) const {
    std::map<int, std::size_t> lastFlush;             // file -> operation number + 1
    std::map<std::string, std::size_t> folderFlush;  // folder -> operation number + 1
    for (std::size_t i = 0; i < done; ++i) {
      if (ops_[i].kind == Kind::Flush) lastFlush[files_[i]] = i + 1;
      if (ops_[i].kind == Kind::FlushFolder) folderFlush[ops_[i].path] = i + 1;
    }
    // The choices: pieces of unflushed writes, and unflushed name changes.
    struct Choice {
      std::size_t op;
      uint64_t from, to;  // a piece of a write; unused for a name change
    };
    std::vector<Choice> choices;
    std::vector<int> choiceOf(done, -1);  // name changes and flushed writes: -1 when settled
    for (std::size_t i = 0; i < done; ++i) {
      const Operation& op = ops_[i];
      if (op.kind == Kind::Write && i + 1 > lastFlush[files_[i]]) {
        choiceOf[i] = static_cast<int>(choices.size());
        for (uint64_t at = op.offset; at < op.offset + op.data.size(); at = (at / kBlock + 1) * kBlock)
          choices.push_back({i, at, std::min<uint64_t>((at / kBlock + 1) * kBlock, op.offset + op.data.size())});
      } else if (ChangesNames(op.kind) && i + 1 > folderFlush[FolderOf(op.kind == Kind::Rename ? op.target : op.path)]) {
        choiceOf[i] = static_cast<int>(choices.size());
        choices.push_back({i, 0, 0});
      }
    }
    std::vector<std::vector<bool>> masks;
    if (choices.size() <= kEnumerateUpTo) {
      for (uint32_t m = 0; m < (1u << choices.size()); ++m) {
        std::vector<bool> mask(choices.size());
        for (std::size_t b = 0; b < choices.size(); ++b) mask[b] = (m >> b) & 1;
        masks.push_back(std::move(mask));
      }
    } else {
      masks.push_back(std::vector<bool>(choices.size(), false));
      masks.push_back(std::vector<bool>(choices.size(), true));
      for (int s = 0; s < kSampledStates; ++s) {
        std::vector<bool> mask(choices.size());
        for (std::size_t b = 0; b < choices.size(); ++b) mask[b] = random() & 1;
        masks.push_back(std::move(mask));
      }
    }
    for (const std::vector<bool>& mask : masks) check(ArchiveIn(done, choices, choiceOf, mask));
    return masks.size();
  }

 private:
  template <typename Choices>
  std::optional<Bytes> ArchiveIn(std::size_t done, const Choices& choices, const std::vector<int>& choiceOf,
                                 const std::vector<bool>& mask) const {
    std::map<std::string, int> names{{archive_, 0}};
    for (std::size_t i = 0; i < done; ++i) {
      const Operation& op = ops_[i];
      if (!ChangesNames(op.kind) || (choiceOf[i] >= 0 && !mask[static_cast<std::size_t>(choiceOf[i])])) continue;
      if (op.kind == Kind::Create) names[op.path] = files_[i];
      if (op.kind == Kind::Rename) names[op.target] = files_[i];
      if (op.kind != Kind::Create) names.erase(op.path);
    }
    const auto found = names.find(archive_);
    if (found == names.end()) return std::nullopt;
    Bytes bytes = bases_[static_cast<std::size_t>(found->second)];
    auto put = [&bytes](const Operation& op, uint64_t from, uint64_t to) {
      if (bytes.size() < to) bytes.resize(to, 0);  // a block not written reads as zeros
      std::memcpy(bytes.data() + from, op.data.data() + (from - op.offset), to - from);
    };
    for (std::size_t i = 0; i < done; ++i) {
      const Operation& op = ops_[i];
      if (op.kind != Kind::Write || files_[i] != found->second) continue;
      if (choiceOf[i] < 0) {
        put(op, op.offset, op.offset + op.data.size());
        continue;
      }
      for (auto c = static_cast<std::size_t>(choiceOf[i]); c < choices.size() && choices[c].op == i; ++c)
        if (mask[c]) put(op, choices[c].from, choices[c].to);
    }
    return bytes;
  }

  std::vector<Operation> ops_;
  std::vector<int> files_;
  std::vector<Bytes> bases_;
  std::string archive_;
};

using Entries = std::vector<std::pair<std::string, Bytes>>;

// The entries of the archive at path, loaded and extracted; none when it
// cannot be read whole.
std::optional<Entries> ReadArchive(const std::string& path) {
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  if (archive.indexDamaged) return std::nullopt;
  Entries entries;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const unsigned char* data = archive.Extract(i, nullptr);
    if (!data) return std::nullopt;
    entries.emplace_back(archive.FileIndex.files[i].name, Bytes(data, data + archive.curLength));
  }
  archive.CloseArchiveStream();
  return entries;
}

Bytes Content(std::size_t n, unsigned seed) {
  std::string s;
  for (unsigned i = 0; s.size() < n; ++i) s += "spawn crate" + std::to_string((i * 17 + seed) % 89) + " 0.5;\n";
  s.resize(n);
  return testutil::ToBytes(s);
}

const std::vector<std::size_t> kSizes{5000, 300, 9000, 0, 12000, 100, 7000};

void WriteArchive(const std::string& path, uint32_t storageMode) {
  testutil::ArchiveLayout layout;
  layout.storageMode = storageMode;
  for (std::size_t i = 0; i < kSizes.size(); ++i) {
    const Bytes c = Content(kSizes[i], static_cast<unsigned>(i));
    const std::string name = "maps/m" + std::to_string(i) + ".scr";
    if (storageMode == 0)
      layout.AddRaw(name, c);
    else
      layout.entries.push_back({name, testutil::LiteralSegmentedForm(c), static_cast<uint32_t>(c.size())});
  }
  layout.WriteTo(path);
}

int Replace(const std::string& archive, uint32_t inx, const Bytes& content) {
  VzrArchive a;
  a.LoadIndex(archive.c_str());
  if (!a.GrowFileBuffer(static_cast<uint32_t>(content.size()) + 2)) return 1;
  std::memcpy(a.fileBuffer, content.data(), content.size());
  return a.AddReplaceFile(inx, static_cast<uint32_t>(content.size()));
}

struct Save {
  const char* what;
  uint32_t storageMode;
  std::function<bool(const std::string& archive, const std::string& folder)> run;
};

// `vzr update` and `vzr remove`/`vzr add` load the archive and call
// AddReplaceFile and AddRemoveEntries (cli/verb_write.cpp) with nothing of
// their own between the engine and the disk, so the calls here write what
// those verbs write.
std::vector<Save> Saves() {
  return {
      {"AddReplaceFile, raw", 0, [](const std::string& a, const std::string&) { return Replace(a, 2, Content(11000, 40)) == 0; }},
      {"AddReplaceFile, segmented", 1,
       [](const std::string& a, const std::string&) { return Replace(a, 1, Content(40000, 41)) == 0; }},
      {"vzr update (AddReplaceFile of a file's content)", 1,
       [](const std::string& a, const std::string&) { return Replace(a, 6, Content(2000, 42)) == 0; }},
      {"vzr remove (AddRemoveEntries)", 0,
       [](const std::string& a, const std::string&) {
         VzrArchive archive;
         archive.LoadIndex(a.c_str());
         return archive.AddRemoveEntries({0, 4}, {}) == 0;
       }},
      {"vzr add (AddRemoveEntries)", 1,
       [](const std::string& a, const std::string& folder) {
         testutil::WriteFileBytes(folder + "/new.scr", Content(9000, 43));
         VzrArchive archive;
         archive.LoadIndex(a.c_str());
         return archive.AddRemoveEntries({}, {{"maps/new.scr", folder + "/new.scr"}}) == 0;
       }},
      {"repack (PackDirectory over the archive)", 0,
       [](const std::string& a, const std::string& folder) {
         for (unsigned i = 0; i < 4; ++i)
           testutil::WriteFileBytes(folder + "/src/d" + std::to_string(i % 2) + "/f" + std::to_string(i) + ".scr",
                                    Content(3000 + 2500 * i, 50 + i));
         std::string source = folder + "/src";
         char base[16] = "maps";
         return PackDirectory(source.data(), base, a.c_str(), 0) == 4;
       }},
  };
}

TEST(PowerLoss, EveryStateAfterACutIsTheOldOrTheNewArchive) {
  testutil::TempDir tmp;
  const std::string folder = std::filesystem::canonical(tmp.path()).string();
  std::size_t total = 0;
  for (const Save& save : Saves()) {
    SCOPED_TRACE(save.what);
    const std::string archive = folder + "/game.vzr", scratch = folder + "/state.bin";
    WriteArchive(archive, save.storageMode);
    const Bytes oldBytes = testutil::ReadFileBytes(archive);
    SetTraceSink([](const std::string&) {});
    const std::optional<Entries> oldEntries = ReadArchive(archive);
    std::vector<Operation> record;
    {
      OperationLog log;
      ASSERT_TRUE(save.run(archive, folder));
      record = std::move(log.operations);
    }
    const std::optional<Entries> newEntries = ReadArchive(archive);
    ASSERT_TRUE(oldEntries && newEntries);
    ASSERT_NE(*oldEntries, *newEntries);

    // A state's verdict depends on the archive's bytes alone; many states share them.
    std::unordered_map<std::string, bool> verdicts;
    std::size_t states = 0, bad = 0;
    std::mt19937 random(15);
    const PowerCuts cuts(std::move(record), archive, oldBytes);
    for (std::size_t done = 0; done <= cuts.Operations(); ++done) {
      states += cuts.ForEachState(done, random, [&](const std::optional<Bytes>& bytes) {
        if (!bytes) {
          ++bad;
          return;
        }
        const std::string key(bytes->begin(), bytes->end());
        auto known = verdicts.find(key);
        if (known == verdicts.end()) {
          testutil::WriteFileBytes(scratch, *bytes);
          const std::optional<Entries> read = ReadArchive(scratch);
          known = verdicts.emplace(key, read && (*read == *oldEntries || *read == *newEntries)).first;
        }
        if (!known->second) ++bad;
      });
    }
    SetTraceSink(nullptr);
    EXPECT_EQ(bad, 0u) << "of " << states << " states after " << cuts.Operations() << " operations";
    std::printf("[ power loss ] %s: %zu operations, %zu states, %zu distinct archive contents\n", save.what,
                cuts.Operations(), states, verdicts.size());
    total += states;
    std::filesystem::remove_all(folder + "/src");
  }
  std::printf("[ power loss ] %zu states checked in all\n", total);
  EXPECT_GE(total, 1000u);
}

}  // namespace
