#include "test_util.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/table_reader.h"

ScratchFile::ScratchFile(std::string_view content) {
  char name[] = "/tmp/lookup-test-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::abort();
  path_ = name;
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    std::abort();
  close(fd);
}

ScratchFile::~ScratchFile() { unlink(path_.c_str()); }

LookupResult lookupIn(std::string_view table, int fieldCount, std::string_view prefix,
                      const std::vector<std::string>& args) {
  ScratchFile file(table);
  return lookupAt(file.path(), fieldCount, prefix, args);
}

LookupResult lookupAt(const std::string& path, int fieldCount, std::string_view prefix,
                      const std::vector<std::string>& args) {
  std::vector<const char*> argv{"lookup"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  const int out = memfd_create("lookup-out", 0);
  const LookupProfile profile{path.c_str(), fieldCount, prefix};
  LookupResult result;
  result.status = runLookup(profile, static_cast<int>(argv.size()) - 1, argv.data(), out);
  const off_t size = lseek(out, 0, SEEK_CUR);
  result.out.resize(static_cast<size_t>(size));
  if (pread(out, result.out.data(), result.out.size(), 0) != size) std::abort();
  close(out);
  return result;
}

std::vector<std::string> recordsAt(const std::string& path) {
  auto reader = std::make_unique<TableReader>();
  reader->fd = open(path.c_str(), O_RDONLY);
  HostRecord record{};
  std::vector<std::string> records;
  while (readRecord(*reader, record)) records.emplace_back(record.buffer, record.length);
  close(reader->fd);
  return records;
}

std::string show(std::string_view bytes) {
  std::string text = "\"";
  for (const unsigned char c : bytes) {
    if (c == '\t') {
      text += "\\t";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\\' || c == '"') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

std::string randomTable(std::mt19937& rng) {
  static const char kBytes[] = "abk1#  ==\t\t\t\t\n\r\v\f\0\xff";
  std::string table;
  const int lines = std::uniform_int_distribution<int>(0, 12)(rng);
  for (int l = 0; l < lines; ++l) {
    const int shape = std::uniform_int_distribution<int>(0, 9)(rng);
    int length = shape < 6   ? std::uniform_int_distribution<int>(0, 30)(rng)
                 : shape < 9 ? std::uniform_int_distribution<int>(95, 102)(rng)
                             : std::uniform_int_distribution<int>(150, 400)(rng);
    for (int i = 0; i < length; ++i) {
      table += kBytes[std::uniform_int_distribution<size_t>(0, sizeof kBytes - 2)(rng)];
    }
    if (std::uniform_int_distribution<int>(0, 7)(rng) != 0) table += '\n';
  }
  return table;
}

std::string fieldTable(std::mt19937& rng) {
  static const char kText[] = "ab1#  =";
  static const char kOdd[] = "\v\f\r\t\t\0";
  const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  std::string table;
  for (int lines = below(16); lines > 0; --lines) {
    for (int fields = 1 + below(6), f = 0; f < fields; ++f) {
      if (f > 0) table += below(12) == 0 ? kOdd[below(sizeof kOdd - 1)] : '\t';
      if (f == 2 && below(3) == 0) table += "# ";
      // Lengths gather at the slot's 39 and 40 bytes, and near the 98 of a line.
      const int length = below(4) == 0 ? 36 + below(6) : below(3) == 0 ? below(25) : below(6);
      for (int i = 0; i < length; ++i) table += kText[below(sizeof kText - 1)];
    }
    if (below(20) != 0) table += '\n';
  }
  return table;
}
