#include "lint.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "message_text.h"
#include "platform.h"
#include "quarantine.h"
#include "settings.h"
#include "template_scan.h"

namespace kelvorin {
namespace {

// The keys the plug-in reads, and how many characters it keeps of each.
struct Key {
  const char* section;
  const char* name;
  std::size_t kept;
};
const Key kKeys[] = {
    {"Database", "Source", kTextValueCapacity - 1},
    {"Database", "Username", kTextValueCapacity - 1},
    {"Database", "Password", kTextValueCapacity - 1},
    {"Database", "Rowname", kOptionCapacity - 1},
    {"Database", "Request", kRequestCapacity - 1},
    {"Options", "DeleteOnErrors", kOptionCapacity - 1},
    {"Options", "SkipSpaces", kOptionCapacity - 1},
    {"Options", "FormatLeft", kOptionCapacity - 1},
    {"Options", "FormatRight", kOptionCapacity - 1},
    {"Options", "HeaderGuard", kOptionCapacity - 1},
    {"Options", "Quarantine", kRequestCapacity - 1},
    {"Options", "QueryTimeout", kOptionCapacity - 1},
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Edits (insert, delete, replace a letter) that turn a into b.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t replaced = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      diagonal = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, replaced});
    }
  }
  return row[b.size()];
}

// The known key nearest to name, or "" when none is within three edits.
std::string Nearest(const std::string& name) {
  std::string best;
  std::size_t best_distance = 4;
  for (const Key& k : kKeys) {
    std::size_t d = Distance(Lower(name), Lower(k.name));
    if (d < best_distance) best = k.name, best_distance = d;
  }
  return best;
}

void LintSection(const platform::Profile& ini, const std::string& where, const char* section,
                 Findings* out) {
  char names[8192];
  ini.Keys(section, names, sizeof names);
  for (const char* name = names; *name != '\0'; name += std::strlen(name) + 1) {
    auto known = [&](const Key& k) {
      return Lower(k.section) == Lower(section) && Lower(k.name) == Lower(name);
    };
    if (std::any_of(std::begin(kKeys), std::end(kKeys), known)) continue;
    std::string text = std::string("[") + section + "] " + name + " is not a key the plug-in reads";
    std::string near = Nearest(name);
    out->push_back({where, text + (near.empty() ? "" : "; did you mean " + near + "?")});
  }
}

int LineOf(const char* begin, const char* at) {
  return 1 + static_cast<int>(std::count(begin, at, '\n'));
}

// A template being read, and what was found in it by line.
struct TemplateLint {
  const char* begin;
  const char* end;
  const std::string& marker;
  std::vector<std::pair<const char*, const char*>> blocks;  // from opening to closing marker
  std::vector<std::pair<int, std::string>> found;

  void Add(const char* at, std::string text) {
    found.push_back({LineOf(begin, at), std::move(text)});
  }
};

void LintBlocks(TemplateLint& t, int rows) {
  const std::size_t n = t.marker.size();
  for (const char* pos = t.begin;;) {
    const char* open = Find(pos, t.end, t.marker.data(), n);
    if (open == t.end) return;
    const char* close = Find(open + n, t.end, t.marker.data(), n);
    if (close == t.end) {
      t.Add(open, "row-block marker " + t.marker +
                      " has no partner: it is sent as it is, with the text after it");
      return;
    }
    t.blocks.push_back({open, close});
    if (rows == 0) t.Add(open, "row block, but the query gives no rows");
    pos = close + n;
  }
}

// A row block around the recipient line writes it once per row, and the
// plug-in refuses a recipient line that is not written exactly once.
void LintRecipientLine(TemplateLint& t) {
  RecipientLine line;
  if (!FindRecipientLine(t.begin, static_cast<std::size_t>(t.end - t.begin), &line)) return;
  auto inside = [&line](auto& b) { return b.first < line.start && line.start < b.second; };
  if (std::any_of(t.blocks.begin(), t.blocks.end(), inside)) {
    t.Add(line.start,
          "recipient line inside a row block: it is written once per row, so the "
          "plug-in fails the merge of more than one row");
  }
}

void LintPlaceholders(TemplateLint& t, int columns, int rows) {
  for (const char* pos = t.begin; (pos = Find(pos, t.end, "%%", 2)) != t.end;) {
    Placeholder p = ScanPlaceholder(pos, t.end, INT_MAX);
    std::string text = "%%" + std::to_string(p.column) + "%%";
    auto inside = [pos](auto& b) { return b.first < pos && pos < b.second; };
    if (p.column > 0 && columns >= 0 && p.column > columns) {
      t.Add(pos, "placeholder " + text + " names no column: the query gives " +
                     std::to_string(columns) + ", so it is sent as written");
    } else if (p.column > 0 && rows > 1 && std::none_of(t.blocks.begin(), t.blocks.end(), inside)) {
      t.Add(pos, "placeholder " + text + " is outside every row block: only the first of the " +
                     std::to_string(rows) + " rows fills it");
    }
    pos = p.next;
  }
}

// A flag whose value is neither Yes nor No is read by a rule the author may
// not have in mind: say how.
void LintFlags(const platform::Profile& ini, const char* ini_path, Findings* out) {
  for (const char* flag : {"DeleteOnErrors", "SkipSpaces", "HeaderGuard"}) {
    char value[kOptionCapacity];
    ini.Read("Options", flag, "Yes", value, sizeof value);
    if (Lower(value) == "yes" || Lower(value) == "no") continue;
    out->push_back({ini_path, std::string("[Options] ") + flag + "=" + value +
                                  " is neither Yes nor No: the plug-in reads it as " +
                                  (FlagIsOn(flag, value) ? "Yes" : "No")});
  }
}

// A password in a file that others may read is theirs too.
void LintPassword(const platform::Profile& ini, const char* ini_path, Findings* out) {
  char password[2];
  platform::FileFacts facts;
  if (ini.Read("Database", "Password", "", password, sizeof password) == 0 ||
      !platform::DescribeFile(ini_path, &facts) || !facts.others_may_read) {
    return;
  }
  out->push_back({ini_path,
                  "[Database] Password is set and other users may read this file: let only the "
                  "plug-in's user read it, or let the data source keep the credentials"});
}

}  // namespace

void LintIni(const char* ini_path, Findings* out) {
  platform::Profile ini(ini_path);
  for (const char* section : {"Database", "Options"}) LintSection(ini, ini_path, section, out);
  for (const Key& k : kKeys) {
    char value[8192];
    std::size_t n = ini.Read(k.section, k.name, "", value, sizeof value);
    if (n <= k.kept) continue;
    const std::string kept = std::strcmp(k.name, "Quarantine") == 0
                                 ? "uses none of it and deletes failed messages"
                                 : "keeps the first " + std::to_string(k.kept);
    out->push_back({ini_path, std::string("[") + k.section + "] " + k.name + " has " +
                                  std::to_string(n) + " characters; the plug-in " + kept});
  }
  LintFlags(ini, ini_path, out);
  LintPassword(ini, ini_path, out);
}

void LintQuarantine(const char* ini_path, const char* directory, const std::string& messages,
                    Findings* out) {
  char folder[kRequestCapacity];
  platform::Profile(ini_path).Read("Options", "Quarantine", "", folder, sizeof folder);
  if (folder[0] == '\0' || !QuarantineHolds(messages.c_str(), folder, directory)) return;
  out->push_back({ini_path,
                  "[Options] Quarantine is the messages' own folder, from which the host sends: "
                  "the plug-in deletes a failed message instead"});
}

void LintTemplate(const std::string& name, const char* message, std::size_t length,
                  const std::string& marker, int columns, int rows, Findings* out) {
  TemplateLint lint{message, message + length, marker, {}, {}};
  LintBlocks(lint, rows);
  LintRecipientLine(lint);
  LintPlaceholders(lint, columns, rows);
  // In the order of the message's lines; on one line, blocks first.
  std::stable_sort(lint.found.begin(), lint.found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [line, text] : lint.found)
    out->push_back({name + ":" + std::to_string(line), text});
}

void LintMerged(const std::string& name, const std::string& merged, const std::string& marker,
                int columns, Findings* out) {
  const char* begin = merged.data();
  const char* end = begin + merged.size();
  auto at = [&](const char* p) {
    return name + ":" + std::to_string(LineOf(begin, p)) + " merged";
  };
  if (const char* m = Find(begin, end, marker.data(), marker.size()); m != end) {
    out->push_back({at(m), "block marker " + marker + " left in the merged message"});
  }
  for (const char* pos = begin; (pos = Find(pos, end, "%%", 2)) != end;) {
    Placeholder p = ScanPlaceholder(pos, end, columns);
    if (p.column > 0) {
      out->push_back(
          {at(pos), "placeholder %%" + std::to_string(p.column) + "%% left in the merged message"});
    }
    pos = p.next;
  }
}

}  // namespace kelvorin
