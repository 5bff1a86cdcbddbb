// What the export tool's native tests share: the fixtures' paths, whole-file reads, the
// tool run in-process, and a scratch folder of each test's own.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/exporttool.h"

namespace clitest {

namespace fs = std::filesystem;

inline std::string Fixture(const char* name) { return std::string(GLYPHDOCK_FIXTURE_DIR) + "/" + name; }

inline std::vector<unsigned char> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// glyphdock-export with these arguments, its two streams kept.
inline TRun Tool(std::vector<std::string> args) {
  args.insert(args.begin(), "glyphdock-export");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  TRun r;
  r.Status = RunExportTool(static_cast<int>(argv.size()), argv.data(), out, err, false);
  r.Out = out.str();
  r.Err = err.str();
  return r;
}

// A new empty folder under the system's temporary folder, named from `prefix`.
inline fs::path MakeScratch(const std::string& prefix) {
  const fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  return dir;
}

inline void RemoveScratch(const fs::path& dir) {
  std::error_code e;
  if (!dir.empty()) fs::remove_all(dir, e);
}

}  // namespace clitest
