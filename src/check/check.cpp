#include "check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "folder_check.h"
#include "log_summary.h"
#include "message_check.h"
#include "message_text.h"
#include "paths.h"
#include "platform.h"

namespace kelvorin {
namespace {

constexpr char kHelp[] =
    "kelvorin-check: see what the Kelvorin plug-in would make of a mailing, and what its\n"
    "log says of one afterwards. It reads what the plug-in reads and changes nothing.\n"
    "\n"
    "  kelvorin-check MESSAGE [--recipient ADDRESS] [--ini PATH]\n"
    "      Merges MESSAGE in memory as the plug-in would, with the rows of the message's\n"
    "      recipient (or of ADDRESS). The merged message goes to standard output, byte\n"
    "      for byte; the lines the plug-in would log, then every problem found, each\n"
    "      with its file and line, go to standard error.\n"
    "  kelvorin-check FOLDER [--ini PATH]\n"
    "      Checks every message file in FOLDER (names beginning with a dot are passed\n"
    "      over) and prints how many would merge, fail (by error line) or get no rows,\n"
    "      then one line per failing file, and the temporary files that killed runs\n"
    "      left there, with their sizes and ages.\n"
    "  kelvorin-check --log LOGFILE [--since STAMP] [--until STAMP]\n"
    "      Summarises a mailing from the plug-in's log: the runs that started between\n"
    "      the stamps, completed, failed by error line, messages deleted or moved,\n"
    "      first and last time stamp, lowest and median runs a minute. STAMP is a\n"
    "      time stamp as the log writes it: \"hh:mm:ss dd-mm-yyyy\".\n"
    "\n"
    "  kelvorin-check --version\n"
    "      Prints the version of this program and of the plug-in built with it.\n"
    "\n"
    "  --ini PATH   the plug-in's settings file (default: kelvorin.INI beside this program)\n"
    "\n"
    "Problems found: keys of [Database] and [Options] the plug-in does not read, values\n"
    "longer than it keeps, flags that are neither Yes nor No, a Password that other\n"
    "users may read, Source, Request or the query file missing, a query without\n"
    "%recipient%, the data source's errors, a message that may not be rewritten or\n"
    "has no recipient line, a recipient line inside a row block, a row-block marker\n"
    "without a partner, placeholders that name no column or stand outside every row\n"
    "block while several rows came, row blocks without rows, and a marker or\n"
    "placeholder left in the merged message.\n"
    "\n"
    "Exit status: 0 nothing is wrong, 1 a problem was found, 2 the check could not run.\n";

struct Arguments {
  std::string target, ini, recipient, log, since, until;
};

// Whether the plug-in would take address from a recipient line as it is:
// not too long, no line break, no backslash.
bool Acceptable(const std::string& address) {
  char taken[kRecipientCapacity];
  return ExtractRecipient((kRecipientPrefix + address).c_str(), taken) && address == taken;
}

// False for anything but the forms in kHelp; an option given twice or with
// an empty value is refused rather than ignored.
bool Parse(int argc, char** argv, Arguments* a) {
  std::map<std::string, std::string*> options = {{"--ini", &a->ini},
                                                 {"--recipient", &a->recipient},
                                                 {"--log", &a->log},
                                                 {"--since", &a->since},
                                                 {"--until", &a->until}};
  for (int i = 1; i < argc; ++i) {
    auto option = options.find(argv[i]);
    if (option != options.end() && i + 1 < argc && option->second->empty() && argv[i + 1][0]) {
      *option->second = argv[++i];
    } else if (argv[i][0] != '-' && a->target.empty()) {
      a->target = argv[i];
    } else {
      return false;
    }
  }
  bool log_form = !a->log.empty() && a->target.empty() && a->ini.empty() && a->recipient.empty();
  bool check_form = a->log.empty() && !a->target.empty() && a->since.empty() && a->until.empty();
  return (log_form || check_form) && (a->recipient.empty() || Acceptable(a->recipient));
}

void Print(const Findings& findings) {
  for (const Finding& f : findings)
    std::fprintf(stderr, "%s: %s\n", f.where.c_str(), f.text.c_str());
}

int CheckOne(const Arguments& a, const CheckInputs& in, const Findings& ini_findings) {
  OdbcHandles* connection = nullptr;
  MessageReport r = CheckMessage(a.target.c_str(), in, &connection);
  CloseQuery(connection);
  platform::SetBinaryOutput();
  std::fwrite(r.output.data(), 1, r.output.size(), stdout);
  std::fflush(stdout);
  std::fwrite(r.log.data(), 1, r.log.size(), stderr);
  Print(ini_findings);
  Print(r.findings);
  return ini_findings.empty() && r.findings.empty() ? 0 : 1;
}

// The settings file beside this program, or as given; its folder holds the
// files it names by bare name. False when it cannot be read.
bool FindIni(const std::string& given, std::string* ini, std::string* directory) {
  char module[platform::kMaxPath + 1], folder[platform::kMaxPath + 1];
  if (!given.empty()) {
    // A bare name is the current folder's file, which then holds the files it
    // names by bare name; Win32's profile reader would look for a bare name
    // in the Windows folder.
    *ini = platform::HasSeparator(given.c_str())
               ? given
               : std::string(".") + platform::kPathSeparator + given;
  } else {
    if (!platform::ModulePath(module, sizeof module) ||
        !platform::DirectoryOf(module, folder, sizeof folder)) {
      return false;
    }
    *ini = std::string(folder) + "kelvorin.INI";
  }
  platform::File file;
  if (!platform::OpenForRead(ini->c_str(), &file)) return false;
  platform::Close(file);
  *directory = platform::DirectoryOf(ini->c_str(), folder, sizeof folder) ? folder : "";
  return true;
}

// Whether the message or folder to check is there, and may go with the
// options given; false after saying why.
bool CheckTarget(const Arguments& a, bool* folder) {
  platform::FileFacts facts;
  platform::Status why;
  if (!platform::DescribeFile(a.target.c_str(), &facts, &why) &&
      why.kind == platform::Status::kNotFound) {
    std::fprintf(stderr, "kelvorin-check: no such file %s\n", a.target.c_str());
    return false;
  }
  // Each message of a folder has its own recipient line; one address for
  // them all is no mailing the plug-in would send.
  *folder = platform::IsFolder(a.target.c_str());
  if (*folder && !a.recipient.empty()) {
    std::fputs("kelvorin-check: --recipient goes with one MESSAGE, not a FOLDER\n", stderr);
    return false;
  }
  return true;
}

int Summarise(const Arguments& a) {
  char* text = nullptr;
  std::size_t length = 0;
  if (!LoadWholeFile(a.log.c_str(), &text, &length)) {
    std::fprintf(stderr, "kelvorin-check: cannot read the log %s\n", a.log.c_str());
    return 2;
  }
  std::string log(text, length);
  FreeText(text);
  std::string summary;
  int status = SummariseLog(log, a.since, a.until, &summary);
  std::fputs(summary.c_str(), stdout);
  if (status == 2)
    std::fputs("kelvorin-check: --since and --until take a \"hh:mm:ss dd-mm-yyyy\" that can be\n",
               stderr);
  return status;
}

}  // namespace

int CheckMain(int argc, char** argv) {
  Arguments a;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("kelvorin-check " KELVORIN_VERSION);
    return 0;
  }
  if (!Parse(argc, argv, &a)) {
    std::fputs("kelvorin-check: bad arguments; kelvorin-check --help tells the forms\n", stderr);
    return 2;
  }
  if (!a.log.empty()) return Summarise(a);
  bool folder = false;
  if (!CheckTarget(a, &folder)) return 2;
  std::string ini, directory;
  if (!FindIni(a.ini, &ini, &directory)) {
    std::fprintf(stderr, "kelvorin-check: cannot read the settings file %s\n",
                 ini.empty() ? "kelvorin.INI" : ini.c_str());
    return 2;
  }
  Findings ini_findings;
  LintIni(ini.c_str(), &ini_findings);
  LintQuarantine(ini.c_str(), directory.c_str(),
                 folder ? a.target + platform::kPathSeparator : a.target, &ini_findings);
  CheckInputs in{ini.c_str(), directory.c_str(),
                 a.recipient.empty() ? nullptr : a.recipient.c_str()};
  if (folder) return CheckFolder(a.target, in, ini_findings);
  return CheckOne(a, in, ini_findings);
}

}  // namespace kelvorin
