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
  void diagnostic(const Diagnostic&) override {}
  void entry(const Entry& e) override {
    entries.push_back({e.line, std::string(e.key), std::string(e.raw), e.verdict, e.shadowedBy});
  }
  std::vector<Seen> entries;
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
