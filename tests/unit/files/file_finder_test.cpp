#include "agent/files/file_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fakes/fake_files.h"

namespace pelko {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Paths(const FileFinder& finder) {
  std::vector<std::string> paths;
  for (const auto& f : finder.Files()) paths.push_back(f.path);
  return paths;
}

TEST(FileFinderTest, ListsFoldersInPostOrderAndTheirFilesDeepestFirst) {
  FakeFileSystem files;
  files.AddFolder("R\\A\\A1");
  files.AddFolder("R\\B");
  files.PutFile("R\\top.xml", "");
  files.PutFile("R\\A\\a.xml", "");
  files.PutFile("R\\A\\A1\\deep.XML", "");
  files.PutFile("R\\B\\b.txt", "");
  FileFinder finder(files);
  EXPECT_TRUE(finder.ClearFolders());
  EXPECT_TRUE(finder.SetRoot("R\\\\ ", true));
  EXPECT_EQ(finder.Root(), "R");
  EXPECT_THAT(finder.Folders(), ElementsAre("R\\A\\A1", "R\\A", "R\\B", "R"));
  EXPECT_TRUE(finder.AddFiles("*.xml", true, false));
  EXPECT_THAT(Paths(finder), ElementsAre("R\\A\\A1\\deep.XML", "R\\A\\a.xml", "R\\top.xml"));

  // A finder only adds; ClearFolders keeps what was found.
  finder.ClearFolders();
  finder.SetRoot("R\\B", false);
  EXPECT_THAT(finder.Folders(), ElementsAre("R\\B"));
  finder.AddFiles("*", true, false);
  EXPECT_EQ(finder.Files().size(), 4u);
}

TEST(FileFinderTest, ScanKeepsEntriesByTheFlagsAndSkipsTheDotFolders) {
  FakeFileSystem files;
  files.AddFolder("R\\Sub.xml");
  files.PutFile("R\\a.xml", "12345");
  FileFinder finder(files);
  EXPECT_TRUE(finder.ScanFolder("R\\", "*", false, true));
  EXPECT_THAT(Paths(finder), ElementsAre("R\\Sub.xml"));
  EXPECT_TRUE(finder.Files()[0].isFolder);
  EXPECT_EQ(finder.Files()[0].attributes & kAttributeDirectory, kAttributeDirectory);

  FileFinder onlyFiles(files);
  EXPECT_TRUE(onlyFiles.ScanFolder("R", "*.XML", true, false));
  ASSERT_THAT(Paths(onlyFiles), ElementsAre("R\\a.xml"));
  EXPECT_FALSE(onlyFiles.Files()[0].isFolder);
  EXPECT_EQ(onlyFiles.Files()[0].size, 5u);
  EXPECT_NE(onlyFiles.Files()[0].lastWritten, 0u);

  FileFinder missing(files);
  EXPECT_TRUE(missing.ScanFolder("R\\Nowhere", "*", true, true));
  EXPECT_TRUE(missing.SetRoot("R\\Nowhere", true));
  EXPECT_TRUE(missing.AddFiles("*", true, true));
  EXPECT_TRUE(missing.Files().empty());
}

TEST(FileFinderTest, VisitsInTheListingsOrderAndDeletesThroughTheFolderItFoundAFileIn) {
  FakeFileSystem files;
  files.AddFolder("R\\A\\A1");
  files.AddFolder("R\\B");
  files.AddFolder("R\\Dir.xml");
  files.PutFile("R\\top.xml", "");
  files.PutFile("R\\A\\a.xml", "");
  files.PutFile("R\\A\\A1\\deep.XML", "");
  files.PutFile("R\\B\\b.txt", "");
  FileFinder finder(files);
  std::vector<std::string> seen;
  EXPECT_TRUE(finder.VisitFiles("R\\", "*.xml", [&](Folder& folder, const FoundFile& file) {
    seen.push_back(file.path);
    if (file.path == "R\\A\\a.xml") {
      EXPECT_EQ(folder.Delete("a.xml"), FileStatus::kOk);
    }
  }));
  EXPECT_THAT(seen, ElementsAre("R\\A\\A1\\deep.XML", "R\\A\\a.xml", "R\\top.xml"));
  EXPECT_FALSE(files.Exists("R\\A\\a.xml"));
  EXPECT_TRUE(finder.Files().empty());
  EXPECT_TRUE(
      finder.VisitFiles("R\\Nowhere", "*", [&](Folder&, const FoundFile&) { ADD_FAILURE(); }));
}

TEST(FileFinderTest, StripTrailingSeparatorsAsWritten) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Logs\\\\", "C:\\Logs"},  {"C:\\Logs\\ \t", "C:\\Logs"},
      {"C:\\Logs/", "C:\\Logs/"},    {"/var/logs//", "/var/logs"},
      {"C:\\Logs ", "C:\\Logs "},    {"\\", ""},
      {"C:\\Logs\\ \\", "C:\\Logs"}, {"", ""},
      {"a/b\\c/", "a/b\\c/"},
  };
  for (const auto& [in, out] : cases) {
    std::string path = in;
    FileFinder::StripTrailingSeparators(path);
    EXPECT_EQ(path, out) << '"' << in << '"';
  }
}

TEST(MatchesPatternTest, LikeFindFirstFile) {
  EXPECT_TRUE(MatchesPattern("A.XML", "*.xml"));
  EXPECT_TRUE(MatchesPattern("x_20261206.xml", "*.xml"));
  EXPECT_FALSE(MatchesPattern("a.xml.tmp", "*.xml"));
  EXPECT_TRUE(MatchesPattern("noext", "*.*"));
  EXPECT_TRUE(MatchesPattern("..", "*.*"));
  EXPECT_TRUE(MatchesPattern("abc", "a?c"));
  EXPECT_FALSE(MatchesPattern("abd", "a?c"));
  EXPECT_TRUE(MatchesPattern("aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*b"));
  EXPECT_FALSE(MatchesPattern("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace pelko
