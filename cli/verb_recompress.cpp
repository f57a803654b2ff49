// verb_recompress.cpp - "vzr recompress": an archive rewritten whole in the
// other storage mode or at another compression level, through the engine's
// one rewrite (a complete new copy moved over the archive only when whole).
#include <string>
#include <vector>

#include "cli.h"
#include "compression.h"
#include "hardlinks.h"
#include "progress.h"
#include "vzrpack.h"

namespace {

// The rewrite announces each entry it writes with the status "  Adding File...";
// the bar counts the content bytes of the entries before it.
class EntryProgress : public StatusWindow {
 public:
  EntryProgress(const std::string& text, const VzrArchive& archive, cli::Progress& progress)
      : text_(text), archive_(archive), progress_(progress) {}
  void PushFieldsToControls() override {
    if (text_ != "  Adding File...") return;
    if (next_ > 0 && next_ <= archive_.FileIndex.count) done_ += archive_.FileIndex.files[next_ - 1].fileSize;
    ++next_;
    progress_.Update(done_);
  }
  void RepaintNow() override {}

 private:
  const std::string& text_;
  const VzrArchive& archive_;
  cli::Progress& progress_;
  uint32_t next_ = 0;
  uint64_t done_ = 0;
};

int RunRecompress(const cli::Args& args) {
  if (args.positionals.size() != 1) return cli::Usage("recompress", "one archive is needed");
  const bool raw = args.Has("raw");
  if (raw && args.Has("level")) return cli::Usage("recompress", "--level and --raw exclude each other");
  cli::Compression compression;
  if (cli::ReadCompression(args, "recompress", "level", compression) != cli::kDone) return cli::kNothing;
  const std::string& path = args.positionals[0];
  VzrArchive archive;  // for the messages and the bar; the engine loads its own
  const int rc = cli::LoadArchive(path, archive);
  if (rc == cli::kProblems) cli::FileMessage(path, "not rewritten: its index is damaged");
  if (rc != cli::kDone) return cli::kNothing;
  uint64_t content = 0;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) content += archive.FileIndex.files[i].fileSize;

  std::string status;
  cli::Progress progress(content, args.quiet);
  EntryProgress window(status, archive, progress);
  int result = 1;
  const cli::OtherNames otherNames(path);
  {
    cli::StatusCapture capture(status, &window);
    result = RecompressArchive(path.c_str(), raw ? -1 : compression.level, compression.threads);
  }
  progress.Clear();
  if (result != 0) {
    cli::FileMessage(path, cli::Reason(LastEngineError(), "could not be rewritten"));
    return cli::kNothing;
  }
  otherNames.Tell();
  return cli::kDone;
}

const cli::Register recompressVerb(
    {"recompress", "rewrites an archive raw, or segmented at a level",
     "usage: vzr recompress [--level N | --raw] [--threads N] ARCHIVE\n"
     "Rewrites ARCHIVE whole with every entry's content kept: segmented and\n"
     "compressed at level N (default 6), or raw with --raw. The new copy replaces\n"
     "the archive only when it is complete.\n"
     "  --level N    compression level 0..9\n" VZR_HELP_LEVELS
     "  --raw        store every entry raw (storage mode 0)\n" VZR_HELP_THREADS,
     {{"level", true}, {"raw", false}, {"threads", true}},
     RunRecompress});

}  // namespace
