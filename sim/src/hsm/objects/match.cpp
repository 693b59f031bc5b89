#include "hsm/objects/match.h"

#include <algorithm>

namespace hsmsim::hsm::obj {

namespace {

std::span<const uint8_t> up_to_nul(std::span<const uint8_t> v) {
  auto it = std::find(v.begin(), v.end(), uint8_t{0});
  return v.first(static_cast<size_t>(it - v.begin()));
}

bool same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return std::ranges::equal(a, b);
}

bool check_value_matches(std::span<const uint8_t> want, const std::vector<uint8_t> *have) {
  if (std::all_of(want.begin(), want.end(), [](uint8_t b) { return b == 0; })) return true;
  if (!have) return false;
  if (want.size() >= have->size()) {
    size_t lead = want.size() - have->size();
    return std::all_of(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(lead),
                       [](uint8_t b) { return b == 0; }) &&
           same(want.subspan(lead), *have);
  }
  return same(want, std::span<const uint8_t>(*have).first(want.size()));
}

bool attr_matches(const Object &o, const TemplateAttr &a) {
  const std::vector<uint8_t> *have = o.get(a.type);
  switch (a.type) {
    case attr::kLabel:
      return have && same(up_to_nul(a.kept), up_to_nul(*have));
    case attr::kKcv:
    case attr::kEkcv:
      return check_value_matches(a.kept, have);
    default:
      break;
  }
  if (a.kind == Kind::Flag) return o.flag(a.type) == (kept_to_number(a.kept) != 0);
  return have && same(a.kept, *have);
}

template <typename T>
bool contains(const std::vector<T> &v, T x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

bool shares_match(const Object &o, const ParsedTemplate &t) {
  if (t.users)
    for (uint16_t u : *t.users)
      if (u != o.owner && !contains(o.users, u)) return false;
  if (t.sessions)
    for (uint32_t s : *t.sessions)
      if (s != o.session && !contains(o.sessions, s)) return false;
  return t.m_value.value_or(0) == 0 || *t.m_value == o.m_value;
}

}  // namespace

bool matches(const Object &o, const ParsedTemplate &t) {
  for (const auto &a : t.attrs)
    if (!attr_matches(o, a)) return false;
  return shares_match(o, t);
}

}  // namespace hsmsim::hsm::obj
