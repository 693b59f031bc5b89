// Known-answer files of the python3-cryptography-vectors package (NIST
// .rsp and RFC text files): records of "Name = value" lines separated by
// blank lines, under optional [SECTION] headers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace crypto_test {

using Bytes = std::vector<uint8_t>;

inline const char *kVectorRoot = "/usr/lib/python3/dist-packages/cryptography_vectors/";

inline Bytes hex(std::string s) {
  if (s.size() % 2) s.insert(s.begin(), '0');  // "7" is 07
  Bytes out;
  for (size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(uint8_t(std::stoul(s.substr(i, 2), nullptr, 16)));
  return out;
}

struct Record {
  std::string section;  // the [..] header it is under, without brackets
  std::map<std::string, std::string> f;
  bool has(const std::string &k) const { return f.count(k) != 0; }
  const std::string &operator[](const std::string &k) const {
    static const std::string none;
    auto it = f.find(k);
    return it == f.end() ? none : it->second;
  }
  Bytes bytes(const std::string &k) const { return hex((*this)[k]); }
};

// The records of a file, at most `max` of those `keep` accepts; an empty
// list when the file is absent (the caller skips with a message).
template <typename Keep>
std::vector<Record> load(const std::string &rel, size_t max, Keep keep) {
  std::vector<Record> out;
  std::ifstream in(std::string(kVectorRoot) + rel);
  if (!in) return out;
  std::string line, section;
  Record cur;
  auto flush = [&] {
    if (!cur.f.empty() && out.size() < max && keep(cur)) out.push_back(cur);
    cur = Record{};
    cur.section = section;
  };
  while (out.size() < max && std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      flush();
      section = line.substr(1, line.find(']') - 1);
      cur.section = section;
      continue;
    }
    // "Name = value", "Name =" for an empty value, or a bare word ("FAIL").
    const auto eq = line.find(" =");
    if (eq == std::string::npos) {
      cur.f[line] = "";
      continue;
    }
    cur.f[line.substr(0, eq)] = eq + 3 <= line.size() ? line.substr(eq + 3) : "";
  }
  flush();
  return out;
}
inline std::vector<Record> load(const std::string &rel, size_t max) {
  return load(rel, max, [](const Record &) { return true; });
}

#define SKIP_WITHOUT(records, file) \
  if ((records).empty())            \
  GTEST_SKIP() << "vector file " << (file) << " not installed (python3-cryptography-vectors)"

}  // namespace crypto_test
