// Well-formedness checked by a parser from outside the project (xmllint).
// Under Wine there is no xmllint; the byte-level checks still run there.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace pelko {

inline ::testing::AssertionResult AllWellFormed(
    const std::vector<std::pair<std::string, std::string>>& files) {
#ifdef _WIN32
  (void)files;
  return ::testing::AssertionSuccess();
#else
  if (files.empty()) return ::testing::AssertionSuccess();
  char folder[] = "/tmp/pelko-xml-XXXXXX";
  if (mkdtemp(folder) == nullptr) return ::testing::AssertionFailure() << "no temp folder";
  std::string command = "xmllint --noout";
  std::vector<std::string> written;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string path = std::string(folder) + "/f" + std::to_string(i) + ".xml";
    std::ofstream(path, std::ios::binary) << files[i].second;
    written.push_back(path);
    command += " " + path;
  }
  const std::string errors = std::string(folder) + "/errors";
  command += " 2>" + errors;
  const int status = std::system(command.c_str());
  std::string message;
  {
    std::ifstream in(errors);
    std::getline(in, message, '\0');
  }
  for (const auto& path : written) std::remove(path.c_str());
  std::remove(errors.c_str());
  std::remove(folder);
  if (status == 0) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "xmllint: " << message;
  for (std::size_t i = 0; i < files.size(); ++i) {
    failure << "\n f" << i << " = " << files[i].first;
  }
  return failure;
#endif
}

}  // namespace pelko
