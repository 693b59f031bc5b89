// M-of-N quorum: M values per service, tokens issued to a partition's users,
// approvals counted per token, listing in pages, deletion and time-outs.
// An approval names its approver in its first 32 bytes; the rest of its 289
// bytes is carried, not checked.
#include <algorithm>

#include "hsm/codes.h"
#include "hsm/engine/secure.h"
#include "hsm/opcodes.h"
#include "hsm/ops/admin2_common.h"
#include "hsm/ops/admin_common.h"
#include "hsm/ops/table.h"

namespace hsmsim::hsm {

namespace {

constexpr size_t kHeader = 20;
constexpr size_t kToken = 80;
constexpr size_t kName = 32;
constexpr size_t kApproval = 289;
constexpr uint32_t kInfoFlag = 1;
constexpr uint32_t kApprovedFlag = 2;
constexpr uint32_t kTimeoutSet = 3;
constexpr uint32_t kSetC = 4, kSetA = 8;
constexpr uint8_t kMaxM = 16;

// The session the request names (whole or masked handle), logged in.
Session *requester(HsmState &st, Call &c) {
  uint32_t refused = 0;
  Session *s = logged_in_session(st, c.req.session_handle & 0x3FFFFFFF, &refused);
  if (!s) c.fail(refused);
  return s;
}

Session *officer(HsmState &st, Call &c) {
  Session *s = nullptr;
  if (uint32_t refused = officer_session(st, c.req.session_handle & 0x3FFFFFFF, false, &s))
    return c.fail(refused), nullptr;
  return s;
}

uint32_t required(const MofNPartition &p, const MofNToken &t) {
  return std::max<uint32_t>(1, p.m[t.service]);
}

void put_token(wire::BeWriter &w, const MofNToken &t) {
  w.u16(t.id).u16(t.service).u32(t.node).u64(t.key).bytes(t.rand);
  std::vector<uint8_t> name(kName, 0);
  std::copy_n(t.user.begin(), std::min(t.user.size(), kName - 1), name.begin());
  w.bytes(name).u64(t.c_time).u64(t.a_time);
}

std::vector<uint8_t> info_record(const MofNPartition &p, const MofNToken &t) {
  std::vector<uint8_t> rec;
  wire::BeWriter w(rec);
  put_token(w, t);
  w.u16(static_cast<uint16_t>(t.approvers.size())).u16(static_cast<uint16_t>(required(p, t)));
  for (const auto &a : t.approvers) {
    std::vector<uint8_t> name(kName, 0);
    std::copy_n(a.begin(), std::min(a.size(), kName - 1), name.begin());
    w.bytes(name);
  }
  return rec;
}

// The token a caller hands back: known by its id and random.
MofNToken *find_token(MofNPartition &p, std::span<const uint8_t> t) {
  if (t.size() < kToken) return nullptr;
  const uint16_t id = static_cast<uint16_t>(t[0] << 8 | t[1]);
  for (auto &tok : p.tokens)
    if (tok.id == id && std::equal(tok.rand.begin(), tok.rand.end(), t.begin() + 16)) return &tok;
  return nullptr;
}

void get_m_value(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(16);
  const uint32_t service = r.u32();
  if (!r.ok() || service >= kServices) return c.fail(code::kInvalidInput);
  c.respond(std_response(0, st.admin2.mofn[s->partition].m[service]));
}

void set_m_value(HsmState &st, Call &c) {
  Session *s = officer(st, c);
  if (!s) return;
  auto r = c.reader();
  const uint32_t m = r.u32();
  r.skip(12);
  const uint32_t service = r.u32();
  if (!r.ok() || service >= kServices) return c.fail(code::kInvalidInput);
  if (m > kMaxM) return c.fail(code::kInvalidMValue);
  st.admin2.mofn[s->partition].m[service] = static_cast<uint8_t>(m);
  c.ok();
}

// Opcode 218: a new token, or (header flags 1) what a token has gathered.
void get_token(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto body = c.body();
  auto r = c.reader();
  r.skip(8);
  const uint32_t flags = r.u32();
  if (body.size() != kHeader + 4 + kToken) return c.fail(code::kInvalidInput);
  auto tok = body.subspan(kHeader + 4, kToken);
  MofNPartition &p = st.admin2.mofn[s->partition];
  const bool room = c.out.count() > 1;
  if (flags == kInfoFlag) {
    MofNToken *t = find_token(p, tok);
    if (!t) return c.fail(code::kInvalidInput);
    auto rec = info_record(p, *t);
    const uint32_t done = t->approvers.size() >= required(p, *t) ? kApprovedFlag : 0;
    const auto len = static_cast<uint32_t>(rec.size());
    if (room && rec.size() > c.out.capacity(1))
      return c.respond(std_response(code::kResultSize, done, 0, len));
    c.respond(std_response(0, done, 0, len));
    if (room) c.out.segment(1) = std::move(rec);
    return;
  }
  wire::BeReader tr(tok);
  tr.skip(2);
  MofNToken t;
  t.service = tr.u16();
  tr.skip(4);
  t.key = tr.u64();
  tr.skip(16);
  t.user = name_field(tr, kName);
  Partition *part = st.partitions.at(s->partition);
  if (t.service >= kServices) return c.fail(code::kInvalidInput);
  if (!part || !part->find_user(t.user)) return c.fail(code::kUserDoesNotExist);
  if (!room || c.out.capacity(1) < kToken)
    return c.respond(std_response(code::kResultSize, 0, kToken, 0));
  if (p.tokens.size() >= kTokensPerPartition) return c.fail(code::kInvalidInput);
  t.id = p.next_id++;
  t.node = part->node_id;
  engine::fill_random(t.rand);
  t.c_time = static_cast<uint64_t>(p.c_timeout);
  p.tokens.push_back(t);
  std::vector<uint8_t> out;
  wire::BeWriter w(out);
  put_token(w, t);
  c.respond(std_response(0, 0, kToken, kToken));
  c.out.segment(1) = std::move(out);
}

void approve_token(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto body = c.body();
  auto r = c.reader();
  r.skip(8);
  const uint32_t flags = r.u32();
  r.skip(8 + 4 + kToken);
  const uint16_t num_tokens = r.u16(), num_approvals = r.u16();
  const size_t head = kHeader + 4 + kToken + 8;
  if (!r.ok() || body.size() != head + kToken * num_tokens + kApproval * num_approvals)
    return c.fail(code::kInvalidInput);
  MofNPartition &p = st.admin2.mofn[s->partition];
  std::vector<MofNToken *> targets;
  if (flags == kInfoFlag) {
    for (size_t i = 0; i < num_tokens; ++i)
      targets.push_back(find_token(p, body.subspan(head + kToken * i, kToken)));
  } else {
    targets.push_back(find_token(p, body.subspan(kHeader + 4, kToken)));
  }
  if (targets.empty() || std::count(targets.begin(), targets.end(), nullptr))
    return c.fail(code::kInvalidInput);
  Partition *part = st.partitions.at(s->partition);
  std::vector<uint8_t> status;
  wire::BeWriter sw(status);
  uint32_t accepted = 0;
  for (size_t i = 0; i < num_approvals; ++i) {
    wire::BeReader ar(body.subspan(head + kToken * num_tokens + kApproval * i, kApproval));
    const std::string who = name_field(ar, kName);
    uint32_t verdict = part && part->find_user(who) ? 0 : code::kUserDoesNotExist;
    for (MofNToken *t : targets) {
      if (verdict) break;
      if (std::find(t->approvers.begin(), t->approvers.end(), who) != t->approvers.end())
        verdict = code::kUserExists;
    }
    if (verdict == 0) {
      ++accepted;
      for (MofNToken *t : targets) {
        t->approvers.push_back(who);
        if (t->approvers.size() == required(p, *t)) {  // the quorum: its approved validity
          t->c_time = 0;
          t->a_time = static_cast<uint64_t>(p.a_timeout);
        }
      }
    }
    sw.u32(verdict);
  }
  if (c.out.count() < 2 || c.out.capacity(1) < status.size())
    return c.respond(std_response(code::kResultSize));
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter(rec).u32(accepted).u32(static_cast<uint32_t>(targets[0]->approvers.size()));
  c.respond(std::move(rec));
  c.out.segment(1) = std::move(status);
}

// From ulBeginIndex, as many records as fit: count = tokens from there on,
// total size = records in this answer, buffer size = their bytes; 183 when
// more follow (the next page starts after the records given).
void list_tokens(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(kHeader);
  const uint32_t begin = r.u32();
  if (!r.ok()) return c.fail(code::kInvalidInput);
  MofNPartition &p = st.admin2.mofn[s->partition];
  const size_t from = std::min<size_t>(begin, p.tokens.size());
  const size_t room = c.out.count() > 1 ? c.out.capacity(1) : 0;
  std::vector<uint8_t> run;
  size_t all = 0, given = 0;
  bool full = false;
  for (size_t i = from; i < p.tokens.size(); ++i) {
    auto rec = info_record(p, p.tokens[i]);
    all += rec.size();
    if (full || run.size() + rec.size() > room) {
      full = true;
      continue;
    }
    run.insert(run.end(), rec.begin(), rec.end());
    ++given;
  }
  const auto count = static_cast<uint32_t>(p.tokens.size() - from);
  std::vector<uint8_t> rec;
  if (c.out.count() < 2) {  // a size query
    rec = std_response(0, 0, 0, static_cast<uint32_t>(all));
  } else {
    rec = std_response(full ? code::kResultSize : 0, 0, static_cast<uint32_t>(given),
                       static_cast<uint32_t>(run.size()));
    c.out.segment(1) = std::move(run);
  }
  wire::BeWriter(rec).u32(count);
  c.respond(std::move(rec));
}

void delete_token(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto body = c.body();
  auto r = c.reader();
  r.skip(8);
  const uint32_t flags = r.u32();
  if (body.size() < kHeader + 4) return c.fail(code::kInvalidInput);
  MofNPartition &p = st.admin2.mofn[s->partition];
  if (flags == 2) {
    p.tokens.clear();
  } else if (flags == 4) {
    User *u = logged_in_user(st, *s);
    const std::string me = u ? u->name : std::string();
    std::erase_if(p.tokens, [&](const MofNToken &t) { return t.user == me; });
  } else if (flags == 0) {
    MofNToken *t = find_token(p, body.subspan(kHeader + 4));
    if (!t) return c.fail(code::kInvalidInput);
    std::erase_if(p.tokens, [&](const MofNToken &x) { return &x == t; });
  } else {
    return c.fail(code::kInvalidInput);
  }
  c.ok();
}

void token_timeout(HsmState &st, Call &c) {
  Session *s = requester(st, c);
  if (!s) return;
  auto r = c.reader();
  r.skip(8);
  const uint32_t flags = r.u32();
  r.skip(4);
  const uint32_t which = r.u32();
  const auto c_timeout = static_cast<int32_t>(r.u32()), a_timeout = static_cast<int32_t>(r.u32());
  if (!r.ok()) return c.fail(code::kInvalidInput);
  MofNPartition &p = st.admin2.mofn[s->partition];
  if (flags == kTimeoutSet) {
    if (!officer(st, c)) return;
    if (((which & kSetC) && c_timeout < 0) || ((which & kSetA) && a_timeout < 0))
      return c.fail(code::kInvalidInput);
    if (which & kSetC) p.c_timeout = c_timeout;
    if (which & kSetA) p.a_timeout = a_timeout;
  }
  std::vector<uint8_t> rec = std_response(0);
  wire::BeWriter(rec)
      .u32(static_cast<uint32_t>(p.c_timeout))
      .u32(static_cast<uint32_t>(p.a_timeout));
  c.respond(std::move(rec));
}

}  // namespace

void add_admin2_mofn_ops(HandlerTable &t) {
  t.add(kMgmtCommand, op::kGetMValue, get_m_value);
  t.add(kMgmtCommand, op::kSetMValue, set_m_value);
  t.add(kMgmtCommand, op::kGetToken, get_token);
  t.add(kMgmtCommand, op::kApproveToken, approve_token);
  t.add(kMgmtCommand, op::kListTokens, list_tokens);
  t.add(kMgmtCommand, op::kDeleteToken, delete_token);
  t.add(kMgmtCommand, op::kTokenTimeout, token_timeout);
}

}  // namespace hsmsim::hsm
