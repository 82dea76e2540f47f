#include "pelkoctl/cups_policy.h"

#include <map>
#include <sstream>

#include "agent/util/coding.h"

namespace pelko::ctl {

namespace {

struct LimitBlock {
  std::vector<std::string> operations;  // lower case; "all" for <Limit All>
  bool authType = false;                // AuthType other than None
  bool require = false;                 // a Require line
};

struct Policy {
  std::vector<LimitBlock> limits;
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// "<Limit Create-Job Print-Job>" -> {"limit", "create-job", "print-job"}.
std::vector<std::string> SectionWords(std::string line) {
  for (char& c : line) {
    if (c == '<' || c == '>') c = ' ';
  }
  std::vector<std::string> words = Words(AsciiLowered(line));
  return words;
}

std::map<std::string, Policy> ReadPolicies(const std::string& conf) {
  std::map<std::string, Policy> policies;
  std::istringstream in(conf);
  std::string current;
  bool inPolicy = false;
  bool inLimit = false;
  for (std::string raw; std::getline(in, raw);) {
    const std::string line = TrimBlanks(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '<') {
      const std::vector<std::string> words = SectionWords(line);
      if (words.empty()) continue;
      if (words[0] == "policy" && words.size() > 1) {
        // The name keeps its case in messages; CUPS compares without it.
        const std::vector<std::string> original = Words(line.substr(1, line.find('>') - 1));
        current = original.size() > 1 ? original[1] : words[1];
        policies[current];
        inPolicy = true;
      } else if (words[0] == "/policy") {
        inPolicy = false;
      } else if (inPolicy && (words[0] == "limit" || words[0] == "limitexcept")) {
        LimitBlock block;
        block.operations.assign(words.begin() + 1, words.end());
        policies[current].limits.push_back(block);
        inLimit = true;
      } else if (words[0] == "/limit" || words[0] == "/limitexcept") {
        inLimit = false;
      }
      continue;
    }
    if (!inPolicy || !inLimit) continue;
    const std::vector<std::string> words = Words(AsciiLowered(line));
    LimitBlock& block = policies[current].limits.back();
    if (words[0] == "authtype" && words.size() > 1 && words[1] != "none") block.authType = true;
    if (words[0] == "require" && words.size() > 1) block.require = true;
  }
  return policies;
}

bool NeedsAuthentication(const Policy& policy, const std::string& operation) {
  const LimitBlock* governing = nullptr;
  for (const LimitBlock& block : policy.limits) {
    for (const std::string& name : block.operations) {
      if (name == operation && governing == nullptr) governing = &block;
    }
  }
  for (const LimitBlock& block : policy.limits) {
    for (const std::string& name : block.operations) {
      if (name == "all" && governing == nullptr) governing = &block;
    }
  }
  return governing != nullptr && governing->authType && governing->require;
}

}  // namespace

std::vector<std::string> PoliciesTrustingClientNames(const std::string& conf) {
  std::vector<std::string> trusting;
  for (const auto& [name, policy] : ReadPolicies(conf)) {
    if (!NeedsAuthentication(policy, "create-job") || !NeedsAuthentication(policy, "print-job")) {
      trusting.push_back(name);
    }
  }
  return trusting;
}

std::string DefaultPolicyName(const std::string& conf) {
  std::istringstream in(conf);
  std::string name = "default";
  for (std::string raw; std::getline(in, raw);) {
    const std::vector<std::string> words = Words(raw);
    if (words.size() > 1 && AsciiLowered(words[0]) == "defaultpolicy") name = words[1];
  }
  return name;
}

}  // namespace pelko::ctl
