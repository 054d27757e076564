// A document shows a source file by including it between two markers:
//
//   <!-- include: examples/HostUsage.cpp -->
//   ```cpp
//   ...the file's text, exactly...
//   ```
//   <!-- end include -->
//
// The build compiles and runs the file; this test holds the document's copy
// equal to it, so that what a reader copies is what CI ran.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string const sourceRoot = BTS_SOURCE_DIR;

std::string readFile(std::string const& path) {
  std::ifstream in(sourceRoot + "/" + path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Include {
  std::string file;
  std::string shown;
};

// The includes of `doc` in order; a marker without its block or its end is
// reported as a failure of the document.
std::vector<Include> includesOf(std::string const& doc) {
  static std::string const open = "<!-- include: ", openEnd = " -->\n", close = "```\n<!-- end include -->";
  std::string const text = readFile(doc);
  std::vector<Include> found;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    std::size_t const nameEnd = text.find(openEnd, at);
    std::size_t const fence = nameEnd == std::string::npos ? nameEnd : text.find('\n', nameEnd + openEnd.size());
    std::size_t const end = fence == std::string::npos ? fence : text.find(close, fence);
    if (end == std::string::npos) {
      ADD_FAILURE() << doc << ": include marker at byte " << at << " has no fenced block and end marker";
      break;
    }
    found.push_back({text.substr(at + open.size(), nameEnd - at - open.size()), text.substr(fence + 1, end - fence - 1)});
  }
  return found;
}

TEST(DocumentIncludes, ReadmeShowsItsExampleAsTheBuildRunsIt) {
  auto const includes = includesOf("README.md");
  ASSERT_EQ(includes.size(), 3u) << "the README shows an example scenario, the Python example and the example program";
  EXPECT_EQ(includes[0].file, "tools/bridge-sim/scenarios/flush.scn");
  EXPECT_EQ(includes[1].file, "examples/PythonUsage.py");
  EXPECT_EQ(includes[2].file, "examples/HostUsage.cpp");
  for (auto const& inc : includes)
    EXPECT_EQ(inc.shown, readFile(inc.file)) << "README.md shows an old copy of " << inc.file << ": paste the file in";
}

}  // namespace
