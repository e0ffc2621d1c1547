#include "check_agreement.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "test_util.h"

namespace {

struct Seen {
  long line;
  std::string key;
  std::string raw;
  Verdict verdict;
  long shadowedBy;
};

class Collector : public CheckSink {
 public:
  void diagnostic(const Diagnostic& d) override {
    said.push_back(std::to_string(d.line) + " " + ruleName(d.rule) + ": " + std::string(d.text));
  }
  void entry(const Entry& e) override {
    entries.push_back({e.line, std::string(e.key), std::string(e.raw), e.verdict, e.shadowedBy});
    said.push_back(std::to_string(e.line) + " entry " + show(e.key) + " " + show(e.raw) + " " +
                   std::to_string(static_cast<int>(e.verdict)) + " " +
                   std::to_string(e.shadowedBy));
  }
  std::vector<Seen> entries;
  std::vector<std::string> said;  // diagnostics and entries, in the order given
};

}  // namespace

std::string checkerDisagreement(const std::string& path, Shape shape) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "cannot open " + path;
  Collector collector;
  checkTable(fd, shape, collector);
  close(fd);
  const bool parse = shape == Shape::kParse;
  std::map<std::string, const Seen*> first;  // key -> the entry a lookup returns
  for (const Seen& e : collector.entries) {
    if (e.verdict == Verdict::kReachable) first.emplace(e.key, &e);
  }
  for (const Seen& e : collector.entries) {
    if (e.verdict == Verdict::kNeverFound) continue;
    const LookupResult got = lookupAt(path, parse ? 3 : 5, parse ? "# " : "", {e.key, "L"});
    const auto it = first.find(e.key);
    const Seen* expected = e.verdict == Verdict::kReachable ? &e
                           : it == first.end()              ? nullptr
                                                            : it->second;
    if (expected == nullptr ||
        (e.verdict == Verdict::kShadowed && expected->line != e.shadowedBy)) {
      return "line " + std::to_string(e.line) + " key " + show(e.key) +
             ": shadowed by a line with no reachable entry of that key";
    }
    if (!(got == LookupResult{expected->raw, kStatusFound})) {
      return "line " + std::to_string(e.line) + " key " + show(e.key) + " reported " +
             (e.verdict == Verdict::kReachable ? "reachable" : "shadowed") + ": lookup gave " +
             show(got.out) + " status " + std::to_string(got.status) + ", expected " +
             show(expected->raw);
    }
  }
  return "";
}

std::string readingsDisagreement(const std::string& path, Shape shape) {
  Collector readings[2];
  std::string summaries[2];
  for (int parsed = 0; parsed < 2; ++parsed) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return "cannot open " + path;
    const CheckSummary s = checkTable(fd, shape, readings[parsed], parsed == 1);
    close(fd);
    summaries[parsed] = std::to_string(s.lines) + " lines " + std::to_string(s.entries) +
                        " entries " + std::to_string(s.errors) + " errors " +
                        std::to_string(s.warnings) + " warnings";
  }
  const std::vector<std::string>& fast = readings[0].said;
  const std::vector<std::string>& parsed = readings[1].said;
  for (size_t i = 0; i < fast.size() || i < parsed.size(); ++i) {
    const std::string a = i < fast.size() ? fast[i] : "nothing";
    const std::string b = i < parsed.size() ? parsed[i] : "nothing";
    if (a != b) return "from bits: " + a + "; parsed: " + b;
  }
  if (summaries[0] != summaries[1])
    return "from bits: " + summaries[0] + "; parsed: " + summaries[1];
  return "";
}
