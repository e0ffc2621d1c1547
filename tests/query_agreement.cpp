#include "query_agreement.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "test_util.h"

namespace {

std::string readBack(int fd) {
  std::string text(static_cast<size_t>(lseek(fd, 0, SEEK_CUR)), '\0');
  if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) std::abort();
  close(fd);
  return text;
}

}  // namespace

Batch queryAt(const std::string& path, int fieldCount, std::string_view prefix,
              const QueryOptions& options, const std::vector<std::string>& keys) {
  // As on a command line, and, for an odd number of keys, packed as from standard input.
  std::vector<const char*> argv;
  std::string packed;
  for (const std::string& key : keys) {
    argv.push_back(key.c_str());
    packed.append(key.c_str(), key.c_str() + std::strlen(key.c_str()) + 1);
  }
  const int out = memfd_create("query-out", 0);
  const int err = memfd_create("query-err", 0);
  const LookupProfile profile{path.c_str(), fieldCount, prefix};
  Batch batch;
  const QueryKeys given = keys.size() % 2 == 0 ? QueryKeys{argv.data(), nullptr, keys.size()}
                                               : QueryKeys{nullptr, packed.data(), keys.size()};
  batch.status = runQuery(profile, options, given, out, err);
  batch.out = readBack(out);
  batch.err = readBack(err);
  return batch;
}

Batch lookupsOneByOne(const std::string& path, int fieldCount, std::string_view prefix,
                      const QueryOptions& options, const std::string& selector,
                      const std::vector<std::string>& keys) {
  Batch batch{"", "", kQueryAllFound};
  for (const std::string& key : keys) {
    const LookupResult r = lookupAt(path, fieldCount, prefix, {key, selector});
    if (r.status != kStatusFound) batch.status = kQuerySomeNotFound;
    if (options.withStatus) batch.out += std::to_string(r.status) + "\t";
    batch.out += r.out;
    if (options.zeroEnds) {
      if (r.out.back() == '\n') batch.out.pop_back();  // the zero byte replaces the newline
      batch.out += '\0';
    } else if (r.out.back() != '\n') {
      batch.out += '\n';
    }
  }
  return batch;
}

std::string queryDisagreement(const std::string& path, int fieldCount, std::string_view prefix,
                              QueryOptions options, const std::string& selector,
                              const std::vector<std::string>& keys) {
  options.selector = readSelector(selector.c_str());
  const Batch got = queryAt(path, fieldCount, prefix, options, keys);
  const Batch expected = lookupsOneByOne(path, fieldCount, prefix, options, selector, keys);
  if (got == expected) return "";
  return "batch " + show(got.out) + " status " + std::to_string(got.status) + " err " +
         show(got.err) + "; one by one " + show(expected.out) + " status " +
         std::to_string(expected.status);
}
