#!/usr/bin/env bash
# plant-faults.sh [NAME...]: plants each fault of the table below in the work tree, one at a time,
# rebuilds build/ incrementally, runs the tests that should catch it (ctest -R), puts the file
# back (git checkout), and says CAUGHT or MISSED (the tests' output: build/plant-faults/NAME.log);
# NO TEST when no test matches (yet). A developer's tool for the power of the suite, not run by
# CI: it needs root (the servers, the rows that take rights away) and a clean src/ (the files are
# restored from git). Names pick some faults.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "plant-faults.sh: run as root" >&2; exit 2; }
git diff --quiet -- src tests || { echo "plant-faults.sh: src/ or tests/ has changes" >&2; exit 2; }

# One fault a paragraph: name, file, tests (a ctest -R regex), then one or more pairs of an
# exact text of the file (found exactly once) and what replaces it.
faults=$(cat <<'TABLE'
name: yes-by-three-letters
file: src/settings/settings.cpp
tests: ^unit$
old:     if (c != *word) return false;
new:     if (*word == '\0') return true; if (c != *word) return false;

name: header-guard-fails-open
file: src/settings/settings.cpp
tests: ^unit$
old:   if (IsWord(key, "headerguard")) return !IsWord(value, "no");
new:

name: in-place-rewrite-not-cut
file: src/merge/merge_writer.cpp
tests: ^unit$
old:       (cut && !platform::EndHere(file, &cause->status))) {
new:       false) {

name: in-place-rewrite-not-restored
file: src/merge/merge_writer.cpp
tests: ^unit$
old:   if (!ok && platform::Rewind(file)) (void)WriteWhole(file, r.old, r.old_size, true, &restoring);
new:

name: rewrite-not-flushed
file: src/merge/merge_writer.cpp
tests: ^unit$|faults_linux
old:   return platform::Flush(file, &cause->status);
new:   return true;

name: temporary-file-left
file: src/merge/merge_writer.cpp
tests: ^unit$
old:   (void)platform::RemoveFile(temp);
new:

name: no-in-place-fallback
file: src/merge/merge_writer.cpp
tests: ^unit$|faults_linux
old:   return ok && cause->status.kind == platform::Status::kDenied && RewriteInPlace(target, r, cause);
new:   return false;

name: writability-not-checked
file: src/merge/merge_writer.cpp
tests: faults_linux
old:   return platform::CheckWritable(path, &cause.status) ||
new:   return true ||

name: recipient-line-check-skipped
file: src/merge/merge_writer.cpp
tests: ^unit$|properties_linux
old:   if (LineKept(has_own ? &own : nullptr, line, *out)) return true;
new:   return true;

name: value-makes-first-recipient-line
file: src/merge/merge_writer.cpp
tests: properties_linux
old:   return own != nullptr && line.copies == 1 && first.start == merged.text() + line.landed &&
new:   return own != nullptr && line.copies == 1 &&

name: header-guard-off-in-blocks
file: src/merge/merge_writer.cpp
tests: properties_linux
old:   if (s.guard) to.BlankLineBreaks(from);
new:

name: header-guard-off-outside-blocks
file: src/merge/merge_writer.cpp
tests: properties_linux
old:   if (header) out_.BlankLineBreaks(from);
new:

name: block-marker-line-break-kept
file: src/merge/template_scan.cpp
tests: properties_linux
old:   if (at < end && *at == '\r') ++at;
new:

name: placeholder-one-column-too-many
file: src/merge/template_scan.cpp
tests: properties_linux
old:   if (closed && value >= 1 && value <= columns) return {static_cast<int>(value), p + 2};
new:   if (closed && value >= 1 && value <= columns + 1) return {static_cast<int>(value), p + 2};

name: placeholder-51-digits
file: src/merge/template_scan.cpp
tests: properties_linux
old:   for (; p < end && digits < kMaxPlaceholderDigits && *p >= '0' && *p <= '9'; ++p, ++digits) {
new:   for (; p < end && digits <= kMaxPlaceholderDigits && *p >= '0' && *p <= '9'; ++p, ++digits) {

name: wrap-one-column-early
file: src/merge/cell_wrap.cpp
tests: ^unit$
old:   const char* end = plain ? PlainLineEnd(at, stop, right - start + 1) : nullptr;
new:   const char* end = plain ? PlainLineEnd(at, stop, right - start) : nullptr;
old:     if (column + len > right) break;
new:     if (column + len >= right) break;

name: negative-left-margin-counted
file: src/merge/cell_wrap.cpp
tests: ^unit$
old:   const long long start = left > 0 ? left : 0;
new:   const long long start = left;

name: wrap-two-spaces-across-blocks-plain
file: src/merge/cell_wrap.cpp
tests: ^unit$
old:     if (!PlainBlock(from, &spaces) || (last >> 56 & spaces) != 0) return false;
new:     if (!PlainBlock(from, &spaces)) return false;

name: plug-in-ignores-rowname
file: src/driver/run.cpp
tests: properties_linux
old:   options.marker = settings_.BlockMarker;
new:   options.marker = "%kelvorin%";

name: margins-swapped
file: src/driver/run.cpp
tests: properties_linux
old:   options.left = settings_.FormatLeft;
new:   options.left = settings_.FormatRight;
old:   options.right = settings_.FormatRight;
new:   options.right = settings_.FormatLeft;

name: always-trimmed
file: src/query/result_table.h
tests: ^unit$|properties_linux
old:       : skip_spaces_(skip_spaces), max_bytes_(max_bytes) {}
new:       : skip_spaces_(true), max_bytes_(max_bytes) {}

name: result-cap-ignored
file: src/query/result_table.cpp
tests: ^unit$
old:   if (len + 1 > max_bytes_ - bytes_) {
new:   if (false) {

name: preview-ignores-ini
file: src/driver/run.cpp
tests: properties_linux
old:       !MergeMessage(message_text_, message_length_, table, MergeOptionsOf(), out, &failure_)) {
new:       !MergeMessage(message_text_, message_length_, table, {}, out, &failure_)) {

name: check-ignores-recipient
file: src/check/message_check.cpp
tests: runs_linux
old:   if (in.recipient != nullptr) run.SetRecipient(in.recipient);
new:

name: check-no-recipient-finding
file: src/check/message_check.cpp
tests: runs_linux
old:   if (std::strstr(run.query_text(), kRecipientToken) == nullptr) {
new:   if (false) {

name: check-ignores-ini
file: src/check/check.cpp
tests: runs_linux
old:   if (!given.empty()) {
new:   if (false) {

name: check-no-help
file: src/check/check.cpp
tests: runs_linux
old:   if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
new:   if (false) {

name: check-unreadable-log-summed
file: src/check/check.cpp
tests: runs_linux
old:   if (!LoadWholeFile(a.log.c_str(), &text, &length)) {
new:   if (!LoadWholeFile(a.log.c_str(), &text, &length) && false) {

name: check-unreadable-folder-passed
file: src/check/folder_check.cpp
tests: runs_linux
old:   if (!platform::ListFiles(folder.c_str(), AddName, &listing)) {
new:   if (!platform::ListFiles(folder.c_str(), AddName, &listing) && false) {

name: bad-since-taken-as-start
file: src/check/log_summary.cpp
tests: ^unit$
old:   if (!since.empty() && (from = Moment(since)) < 0) return 2;
new:   if (!since.empty() && (from = Moment(since)) < 0) from = 0;

name: failures-counted-by-delete-lines
file: src/check/log_summary.cpp
tests: ^unit$
old:     } else if (StartsWith(text, "ERROR: ") && !FollowsCause(text, after_record_)) {
new:     } else if ((text == kDeletedLine || StartsWith(text, kMovedLine)) && !FollowsCause(text, after_record_)) {

name: window-end-excluded
file: src/check/log_summary.cpp
tests: ^unit$
old:     const bool inside = from_ <= moment && moment <= to_;
new:     const bool inside = from_ <= moment && moment < to_;

name: fetch-warning-accepted
file: src/query/result_fetch.cpp
tests: faults_linux
old:     if (!cut && !CheckOdbc(rc, Passes::kSuccessOnly, SQL_HANDLE_STMT, statement, b.failure)) {
new:     if (!cut && !CheckOdbc(rc, Passes::kSuccessOrInfo, SQL_HANDLE_STMT, statement, b.failure)) {

name: value-of-65536-bytes-accepted
file: src/query/result_fetch.cpp
tests: faults_linux
old:          (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(c.size));
new:          (indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(c.size));

name: nul-in-value-accepted
file: src/query/result_fetch.cpp
tests: values_maria
old:   return HoldsNoNul(value, length, i + 1, b.failure) ? value : nullptr;
new:   return value;

name: empty-user-sent-as-given
file: src/query/odbc_connection.cpp
tests: values_(pg|maria)
old:   return text[0] ? Text(text) : nullptr;
new:   return Text(text);
old:   return text[0] ? SQL_NTS : 0;
new:   return SQL_NTS;

name: no-login-timeout
file: src/query/odbc_connection.cpp
tests: scale_linux
old: constexpr unsigned kLoginTimeoutSeconds = 30;
new: constexpr unsigned kLoginTimeoutSeconds = 0;

name: no-query-timeout
file: src/query/odbc_connection.cpp
tests: scale_linux
old:   if (!SetQueryTimeout(h, query_timeout, failure)) return false;
new:

name: quote-not-doubled
file: src/merge/message_text.cpp
tests: ^unit$
old:     if (*c == '\'') *at++ = '\'';
new:

name: backslash-in-address-taken
file: src/merge/message_text.cpp
tests: ^unit$
old:   if (std::memchr(line.address, '\\', len) != nullptr) return false;
new:

name: address-fills-its-buffer
file: src/merge/message_text.cpp
tests: ^unit$
old:   if (len == 0 || len >= kRecipientCapacity) return false;
new:   if (len == 0 || len > kRecipientCapacity) return false;

name: line-breaks-of-logged-values-kept
file: src/log/run_log.cpp
tests: ^unit$
old:     line[at + i] = value[i] == '\r' || value[i] == '\n' ? ' ' : value[i];
new:     line[at + i] = value[i];

name: busy-log-not-waited-for
file: src/log/run_log.cpp
tests: ^unit$
old: constexpr int kBusyTries = 200;
new: constexpr int kBusyTries = 0;

name: removed-log-kept
file: src/platform/posix/platform_posix.cpp
tests: ^unit$
old:   if (!kept->IsOpen() || ::fstat(FileHandle::Of(*kept), &info) != 0 || info.st_nlink == 0) {
new:   if (!kept->IsOpen() || ::fstat(FileHandle::Of(*kept), &info) != 0) {

name: kept-log-stays-locked
file: src/platform/posix/platform_posix.cpp
tests: ^unit$|faults_linux
old:   ::flock(FileHandle::Of(*kept), LOCK_UN);
new:

name: delete-ignores-error-policy
file: src/driver/driver.cpp
tests: runs_linux
old:   if (!s.DeleteOnErrors || run.message_not_a_file()) return;
new:   if (run.message_not_a_file()) return;

name: not-a-regular-file-deleted
file: src/driver/driver.cpp
tests: runs_linux|faults_linux
old:   if (!s.DeleteOnErrors || run.message_not_a_file()) return;
new:   if (!s.DeleteOnErrors) return;

name: no-reason-beside-quarantined
file: src/driver/driver.cpp
tests: faults_linux
old:   (void)(platform::WriteAll(reason, lines.text(), lines.size()) && platform::Flush(reason));
new:

name: quarantine-in-own-folder
file: src/driver/quarantine.cpp
tests: runs_linux
old:   if (QuarantineHolds(message_path, folder, directory)) return false;
new:

name: quarantine-tries-forever
file: src/driver/quarantine.cpp
tests: faults_linux
old:   for (int n = 0; n < kMaxTries; ++n) {
new:   for (int n = 0;; ++n) {

name: quarantine-replaces
file: src/platform/posix/platform_posix.cpp
tests: runs_linux
old:     int done = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
new:     int done = ::rename(from, to);

name: no-link-fallback-for-quarantine
file: src/platform/posix/platform_posix.cpp
tests: faults_linux
old:     if (done != 0 && errno == EINVAL && ::link(from, to) == 0) done = ::unlink(from);
new:

name: delete-ignores-lock
file: src/platform/posix/platform_posix.cpp
tests: ^unit$|faults_linux
old:   bool done = (!lockable || ::flock(fd, LOCK_EX | LOCK_NB) == 0) && change();
new:   bool done = change();

name: link-replaced-not-its-file
file: src/platform/posix/platform_posix.cpp
tests: runs_linux
old:   const char* result = link ? resolved : path;
new:   const char* result = path;

name: permission-bits-lost
file: src/platform/posix/platform_posix.cpp
tests: ^unit$
old: ) ::fchmod(fd, info.st_mode & 07777);
new: ) ::fchmod(fd, 0600);
TABLE
)

# The servers for the system tests, as the full scripts/test.sh starts them; build/ names them.
state=$(mktemp -d /tmp/kelvorin-plant.XXXXXX)
chmod 755 "$state"
planted=""
cleanup() {
  [ -z "$planted" ] || git checkout -- "$planted"
  scripts/engines.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state"
}
trap cleanup EXIT
logs=$PWD/build/plant-faults  # each fault's test output, to see which row caught it
mkdir -p "$logs"
scripts/engines.sh start "$state" --scale >/dev/null
cmake -S . -B build -DKELVORIN_TEST_ODBCINI="$state/odbc.ini" -DKELVORIN_TEST_SCALE=ON >/dev/null
cmake --build build -j2 >/dev/null

# Replaces, in file, each old text (found exactly once) by its new text; the pairs as arguments.
edit() {
  python3 - "$@" <<'PY'
import sys
path, pairs = sys.argv[1], sys.argv[2:]
text = open(path).read()
for old, new in zip(pairs[::2], pairs[1::2]):
    if text.count(old) != 1:
        sys.exit('%s: %r found %d times' % (path, old, text.count(old)))
    text = text.replace(old, new)
open(path, 'w').write(text)
PY
}

caught=0 missed=0 untested=0 stale=0
plant() {  # name file tests old new [old new...]
  local name=$1 file=$2 tests=$3 verdict
  shift 3
  [ ${#wanted[@]} -eq 0 ] || [[ " ${wanted[*]} " == *" $name "* ]] || return 0
  if ! (cd build && ctest -N -R "$tests") | grep 'Test *#' >/dev/null; then
    untested=$((untested + 1)) verdict="NO TEST ($tests)"
  elif ! edit "$file" "$@"; then
    stale=$((stale + 1)) verdict="STALE (text not found)"
  else
    planted=$file
    targets=(kelvorin kelvorin-check kelvorin_io_shim kelvorin_tests)  # what the tests run
    [ "$tests" != '^unit$' ] || targets=(kelvorin_tests)
    if ! cmake --build build -j2 --target "${targets[@]}" >/dev/null 2>&1; then
      verdict="STALE (does not build)" stale=$((stale + 1))
    elif (cd build && ctest -R "$tests" -j2 --timeout 600 --stop-on-failure --output-on-failure \
      >"$logs/$name.log" 2>&1); then
      missed=$((missed + 1)) verdict="MISSED by $tests"
    else
      caught=$((caught + 1))
      verdict="CAUGHT by $(grep -oE '[0-9]+ - [a-z_]+ \(Failed|[0-9]+ - [a-z_]+ \(Timeout' \
        "$logs/$name.log" | sed -E 's/^[0-9]+ - //; s/ \(.*//' | sort -u | paste -sd, -)"
    fi
    git checkout -- "$file"
    planted=""
  fi
  printf '%-36s %s\n' "$name" "$verdict"
}

wanted=("$@")
name="" file="" tests="" pairs=()
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    "name: "*) name=${line#name: } ;;
    "file: "*) file=${line#file: } ;;
    "tests: "*) tests=${line#tests: } ;;
    "old:"*) pairs+=("${line#old: }") ;;
    "new:"*) pairs+=("${line#new:}"); pairs[-1]=${pairs[-1]# } ;;
    "") plant "$name" "$file" "$tests" "${pairs[@]}"; pairs=() ;;
  esac
done <<<"$faults"$'\n'
cmake --build build -j2 >/dev/null  # the program as it is again
echo "faults: $caught caught, $missed missed, $untested without a test, $stale stale"
[ $((missed + stale)) -eq 0 ]
