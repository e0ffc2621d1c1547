#include "varncheck/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Warnings of one kind past this many are counted, not listed; every error is listed.
constexpr long kListedPerRule = 10;

class Printer : public CheckSink {
 public:
  Printer(const char* name, bool allWarnings, FILE* out)
      : name_(name), allWarnings_(allWarnings), out_(out) {}

  bool wants(Rule rule) override {
    return isError(rule) || allWarnings_ || ++seen_[static_cast<int>(rule)] <= kListedPerRule;
  }

  void diagnostic(const Diagnostic& d) override {
    const bool error = isError(d.rule);
    const char* severity = error ? "error" : "warning";
    const int length = static_cast<int>(d.text.size());
    if (d.line == 0) {
      std::fprintf(out_, "%s: %s: %.*s\n", name_, severity, length, d.text.data());
    } else {
      std::fprintf(out_, "%s:%ld: %s: %.*s\n", name_, d.line, severity, length, d.text.data());
    }
  }

  void summarise(const CheckSummary& s) {
    for (int rule = 0; rule < kRuleCount; ++rule) {
      if (seen_[rule] > kListedPerRule) {
        std::fprintf(out_, "%s: %ld more warnings of one kind (%s) not listed; --all lists them\n",
                     name_, seen_[rule] - kListedPerRule, ruleName(static_cast<Rule>(rule)));
      }
    }
    std::fprintf(out_, "%s: %ld line%s, %ld entr%s, %ld error%s, %ld warning%s\n", name_, s.lines,
                 s.lines == 1 ? "" : "s", s.entries, s.entries == 1 ? "y" : "ies", s.errors,
                 s.errors == 1 ? "" : "s", s.warnings, s.warnings == 1 ? "" : "s");
  }

 private:
  const char* name_;
  bool allWarnings_;
  FILE* out_;
  long seen_[kRuleCount] = {};
};

}  // namespace

int checkFile(const char* path, const ReportOptions& options, FILE* out, FILE* err) {
  const bool standardInput = std::strcmp(path, "-") == 0;
  const char* name = standardInput ? "(standard input)" : path;
  const int fd = standardInput ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(err, "varncheck: %s: %s\n", name, std::strerror(errno));
    return kCheckUnreadable;
  }
  Printer printer(name, options.allWarnings, out);
  const CheckSummary summary = checkTable(fd, options.shape, printer);
  if (!standardInput) close(fd);
  std::fflush(out);
  if (summary.outOfMemory) {
    std::fputs("varncheck: out of memory\n", err);
    return kCheckUnreadable;
  }
  if (summary.readFailed) {
    std::fprintf(err, "varncheck: %s: %s\n", name, std::strerror(summary.readErrno));
    return kCheckUnreadable;
  }
  printer.summarise(summary);
  return summary.errors > 0 ? kCheckErrors : kCheckClean;
}

int checkBuiltInTables(const BuiltInTable* tables, int count, bool allWarnings, FILE* out,
                       FILE* err) {
  int status = kCheckClean;
  int absent = 0;
  for (int i = 0; i < count; ++i) {
    const BuiltInTable& t = tables[i];
    if (access(t.path, F_OK) != 0 && errno == ENOENT) {
      std::fprintf(out, "%s: absent (the table of %s)\n", t.path, t.reader);
      ++absent;
      continue;
    }
    const int result = checkFile(t.path, {t.shape, allWarnings}, out, err);
    if (result > status) status = result;
  }
  // A script that checks before it deploys must not go on with no table at all.
  if (absent == count) {
    std::fflush(out);
    std::fputs("varncheck: none of this build's tables exists\n", err);
    return kCheckUnreadable;
  }
  return status;
}

int finishOutput(int status, FILE* out, FILE* err) {
  // A failed write leaves the stream's error set; flushing again reports the reason.
  const bool flushFailed = std::fflush(out) != 0;
  const int reason = flushFailed ? errno : EIO;
  if (!flushFailed && !std::ferror(out)) return status;
  std::fprintf(err, "varncheck: standard output: %s\n", std::strerror(reason));
  return kCheckUnreadable;
}
