// grep_bench_tool - the invented script trees the vzr grep comparison
// searches.
//
//   grep_bench_tool tree <dir> <files>     files of 100 to 20,000 bytes in three levels of
//                                          ten folders each (the layout of the ops tree)
//   grep_bench_tool corpus <dir> <MiB>     script files of 64 KiB to 1 MiB, MiB in all
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

// Script-like text: indented lines of commands, names, numbers and comments.
std::string ScriptText(std::size_t n, std::mt19937& random) {
  static const char* const kWords[] = {
      "spawn",        "actor",      "define",  "set_position", "cart_03", "lantern_keeper", "if",  "else",
      "while",        "{",          "}",       "wait",         "halt",    "glimmer_gate",   "12",  "0.5",
      "-3.25",        "trigger",    "on_use",  "play_sound",   "door_7",  "level_intro",    "var", "return",
      "// the keeper", "patrol_path", "target", "health",      "100",     "mission_state",  "=",   "+"};
  std::string out;
  out.reserve(n + 128);
  while (out.size() < n) {
    out.append(random() % 4 * 2, ' ');
    for (int w = 2 + static_cast<int>(random() % 7); w > 0; --w) {
      out += kWords[random() % std::size(kWords)];
      out += ' ';
    }
    out.back() = '\n';
  }
  out.resize(n);
  return out;
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

int BuildTree(const std::string& dir, int files) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> size(100, 20000);
  const char* kinds[] = {".con", ".ssc", ".inc", ".rs", ".con"};
  for (int i = 0; i < files; ++i) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "d%d/e%d/f%d", i % 10, i / 10 % 10, i / 100 % 10);
    WriteText(std::filesystem::path(dir) / folder / ("file" + std::to_string(i) + kinds[i % 5]),
              ScriptText(size(random), random));
  }
  return 0;
}

int BuildCorpus(const std::string& dir, std::size_t mib) {
  std::mt19937 random(777);
  std::uniform_int_distribution<std::size_t> size(64 << 10, 1 << 20);
  std::size_t written = 0;
  for (int i = 0; written < mib << 20; ++i) {
    const std::size_t n = size(random);
    WriteText(std::filesystem::path(dir) / ("scripts" + std::to_string(i % 8)) / ("part" + std::to_string(i) + ".con"),
              ScriptText(n, random));
    written += n;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "tree" && argc == 4) return BuildTree(argv[2], std::atoi(argv[3]));
  if (command == "corpus" && argc == 4) return BuildCorpus(argv[2], std::strtoul(argv[3], nullptr, 10));
  std::fprintf(stderr, "usage: %s tree <dir> <files> | corpus <dir> <MiB>\n", argv[0]);
  return 2;
}
