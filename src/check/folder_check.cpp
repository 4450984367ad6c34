#include "folder_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "failure.h"
#include "platform.h"

namespace kelvorin {
namespace {

constexpr std::size_t kShownProblems = 20;  // the rest: check a message alone

struct Summary {
  long merged = 0, no_rows = 0;
  std::map<std::string, long> failures;  // by error line
  std::vector<std::string> failing;      // "name: error line"
  Findings problems;
};

// A folder's messages, and the temporary files that killed runs left.
struct Listing {
  std::vector<std::string> messages, leftovers;
};

void AddName(void* listing, const char* name) {
  Listing& l = *static_cast<Listing*>(listing);
  if (platform::IsTempName(name)) {
    l.leftovers.push_back(name);
  } else if (name[0] != '.') {
    l.messages.push_back(name);
  }
}

std::string Age(std::int64_t seconds) {
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 2 * 3600) return std::to_string(seconds / 60) + " min";
  if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + " h";
  return std::to_string(seconds / 86400) + " days";
}

// A run killed while writing leaves its temporary file, as big as the merge
// had got; one that is writing now has one too, only young.
void PrintLeftovers(const std::string& folder, const std::vector<std::string>& leftovers) {
  if (leftovers.empty()) return;
  std::printf("temporary files left by runs (delete them when no run is writing):\n");
  for (const std::string& name : leftovers) {
    platform::FileFacts facts;
    if (!platform::DescribeFile((folder + platform::kPathSeparator + name).c_str(), &facts)) {
      continue;  // finished or removed since the listing
    }
    std::printf("  %s  %llu bytes, %s old\n", name.c_str(),
                static_cast<unsigned long long>(facts.size), Age(facts.age_seconds).c_str());
  }
}

void Tally(Summary& s, const std::string& name, const MessageReport& r) {
  if (r.merged) {
    ++s.merged;
  } else {
    ++(r.failure.what == Failure::kNoData ? s.no_rows : s.failures[FailureGroup(r.failure)]);
    s.failing.push_back(name + ": " + FailureText(r.failure));
  }
  // The first finding of a failed message is its failure, listed already.
  s.problems.insert(s.problems.end(), r.findings.begin() + (r.merged ? 0 : 1), r.findings.end());
}

// A bar redrawn in place on a terminal; elsewhere a plain line now and then.
void ShowProgress(std::size_t done, std::size_t total, bool terminal) {
  if (total < 100) return;
  if (terminal && (done % (total / 100) == 0 || done == total)) {
    int filled = static_cast<int>(done * 40 / total);
    std::fprintf(stderr, "\r[%-40.*s] %zu/%zu", filled, "########################################",
                 done, total);
    if (done == total) std::fputc('\n', stderr);
  } else if (!terminal && (done % 1000 == 0 || done == total)) {
    std::fprintf(stderr, "checked %zu of %zu messages\n", done, total);
  }
}

void Print(const std::string& folder, std::size_t total, const Summary& s, const Findings& ini) {
  long failed = static_cast<long>(total) - s.merged - s.no_rows;
  std::printf("%zu messages in %s\n  would merge %8ld\n  would fail  %8ld\n", total, folder.c_str(),
              s.merged, failed);
  for (const auto& [error, count] : s.failures) std::printf("    %8ld  %s\n", count, error.c_str());
  std::printf("  no rows     %8ld\n", s.no_rows);
  if (!s.failing.empty()) std::printf("failing:\n");
  for (const std::string& line : s.failing) std::printf("  %s\n", line.c_str());
  Findings problems = ini;
  problems.insert(problems.end(), s.problems.begin(), s.problems.end());
  if (!problems.empty()) std::printf("problems: %zu\n", problems.size());
  for (std::size_t i = 0; i < problems.size() && i < kShownProblems; ++i) {
    std::printf("  %s: %s\n", problems[i].where.c_str(), problems[i].text.c_str());
  }
  if (problems.size() > kShownProblems) {
    std::printf("  (%zu more: check a message alone to see its own)\n",
                problems.size() - kShownProblems);
  }
}

}  // namespace

int CheckFolder(const std::string& folder, const CheckInputs& in, const Findings& ini_findings) {
  Listing listing;
  if (!platform::ListFiles(folder.c_str(), AddName, &listing)) {
    std::fprintf(stderr, "kelvorin-check: cannot read the folder %s\n", folder.c_str());
    return 2;
  }
  std::vector<std::string>& names = listing.messages;
  std::sort(names.begin(), names.end());
  std::sort(listing.leftovers.begin(), listing.leftovers.end());
  const bool terminal = platform::ErrorIsTerminal();
  Summary s;
  OdbcHandles* connection = nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = folder + platform::kPathSeparator + names[i];
    Tally(s, names[i], CheckMessage(path.c_str(), in, &connection));
    ShowProgress(i + 1, names.size(), terminal);
  }
  CloseQuery(connection);
  Print(folder, names.size(), s, ini_findings);
  PrintLeftovers(folder, listing.leftovers);
  bool clean = s.merged == static_cast<long>(names.size()) && s.problems.empty() &&
               ini_findings.empty() && listing.leftovers.empty();
  return clean ? 0 : 1;
}

}  // namespace kelvorin
