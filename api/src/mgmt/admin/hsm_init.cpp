// First-time initialisation of an HSM: the board configuration from a file
// of name=value lines, from name and value strings, or as the caller's own
// record; the end of the initialisation phase; the block-delete-user check.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "mgmt/admin/teardown.h"
#include "qel2_admin.h"
#include "qel2_errors.h"
#include "request/mgmt_request.h"

using namespace qel2;
using namespace qel2::mgmt;

namespace {

constexpr size_t kLineBuffer = 256;  // lines of at most 255 characters
constexpr size_t kGroupIdMax = 31;
constexpr size_t kLabelMax = 49;
constexpr uint32_t kPairNodeIdMask = 0xFFFFF;
constexpr int kSetConfigLine = 2140;  // the line number the null-argument message has always named
constexpr uint8_t kBackupByMco = 1, kBlockDeleteUser = 2, kAuditEnable = 4;

// The built-in group password of initialisation, assembled at run time.
constexpr char kGroupPswdHead[] = "hsmgroup";
constexpr char kGroupPswdTail[] = "pw";
static_assert(sizeof kGroupPswdHead - 1 == 8 && sizeof kGroupPswdTail - 1 == 2);

// Where a configuration comes from; the two parsers differ in starting
// values, the node id mask and the label rule.
enum class Form { File, Pairs };

// The configuration in host order until it is laid out big-endian.
struct Config {
  uint32_t fips_state = 0;
  uint8_t flags = 0;
  uint32_t login_fail_count = 0, secret_key_wrap = 0, secret_key_unwrap = 0;
  uint32_t max_password = 0, min_password = 0, cloning = 0;
  std::string group_id;
  std::string label = "ostrel";
  uint32_t kek_method = 0;
  uint8_t cert_auth = 0;
  uint32_t node_id = 0;

  static Config starting(Form form) {
    Config c;
    if (form == Form::Pairs) {
      c.fips_state = KQ_FIPS_LVL2;
      c.login_fail_count = 20;
      c.secret_key_wrap = c.secret_key_unwrap = 1;
      c.max_password = 32;
      c.min_password = 7;
      c.cloning = 1;
      c.group_id = "group0";
    }
    return c;
  }

  void write(BoardConfiguration *out) const {
    BeWriter w(out, sizeof *out);
    w.u32(fips_state).zeros(27).u8(flags);
    w.u32(login_fail_count).u32(secret_key_wrap).u32(secret_key_unwrap).u32(0).u32(0);
    w.u32(max_password).u32(min_password).u32(cloning);
    w.fixed(group_id.data(), group_id.size(), 32).fixed(label.data(), label.size(), 50).zeros(2);
    w.u32(kek_method).u8(cert_auth).zeros(3).u32(node_id);
  }
};

uint32_t number(const char *v) { return static_cast<uint32_t>(std::strtol(v, nullptr, 10)); }

void set_flag(uint8_t &flags, uint8_t bit, const char *v) {
  if (number(v) & 1)
    flags |= bit;
  else
    flags &= static_cast<uint8_t>(~bit);
}

// Applies one name and value; ERR_INVALID_INPUT for an unknown name or a bad value.
Uint32 apply(Config &c, Form form, const char *name, const char *value) {
  const std::string n = name;
  if (n == "fips_state") {
    if (std::strlen(value) != 1 || (value[0] != '0' && value[0] != '2' && value[0] != '3'))
      return ERR_INVALID_INPUT;
    c.fips_state = static_cast<uint32_t>(value[0] - '0');
  } else if (n == "m_value") {
    // accepted and ignored
  } else if (n == "login_fail_count") {
    c.login_fail_count = number(value);
  } else if (n == "secret_key_wrap") {
    c.secret_key_wrap = number(value);
  } else if (n == "secret_key_unwrap") {
    c.secret_key_unwrap = number(value);
  } else if (n == "max_password_length") {
    c.max_password = number(value);
  } else if (n == "min_password_length") {
    c.min_password = number(value);
  } else if (n == "cloning") {
    c.cloning = number(value);
  } else if (n == "cert_auth") {
    c.cert_auth = static_cast<uint8_t>(number(value));
  } else if (n == "backup_by_mco") {
    set_flag(c.flags, kBackupByMco, value);
  } else if (n == "block_delete_user") {
    set_flag(c.flags, kBlockDeleteUser, value);
  } else if (n == "hsm_audit_log") {
    set_flag(c.flags, kAuditEnable, value);
  } else if (n == "node_id") {
    c.node_id = form == Form::Pairs ? number(value) & kPairNodeIdMask : number(value);
  } else if (n == "kek_method") {
    c.kek_method = number(value);
  } else if (n == "group_id") {
    c.group_id.assign(value, strnlen(value, kGroupIdMax));
  } else if (n == "label") {
    const size_t len = std::strlen(value);
    if (form == Form::Pairs && len > kLabelMax) {
      printf(
          "\n\tError: User passed label length (%d) more than max supported label length (%d) \n",
          static_cast<int>(len), static_cast<int>(kLabelMax));
      return ERR_INVALID_INPUT;
    }
    c.label.assign(value, len < kLabelMax ? len : kLabelMax);
  } else {
    return ERR_INVALID_INPUT;
  }
  return 0;
}

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};

Uint32 parse_file(const char *path, Config &c) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "r"));
  if (!f) return ERR_OPEN_FILE;
  char line[kLineBuffer];
  while (std::fgets(line, sizeof line, f.get())) {
    if (line[0] == '#' || line[0] == '\0' || line[0] == '\n') continue;
    if (char *nl = std::strchr(line, '\n')) *nl = '\0';
    char *eq = std::strchr(line, '=');
    if (eq == nullptr) return ERR_INVALID_INPUT;
    *eq = '\0';
    if (Uint32 r = apply(c, Form::File, line, eq + 1)) return r;
  }
  return 0;
}

}  // namespace

Uint32 Qel2InitHSMCommon(Uint32 ulSessionHandle, const BoardConfiguration *config) {
  const Uint32 handle = masked_session(ulSessionHandle);
  CommandRecord<sizeof(InitTokenCommand)> cmd;
  put_session_header(cmd.w, handle);
  cmd.w.bytes(config, sizeof *config);
  char pswd[32] = {};
  std::memcpy(pswd, kGroupPswdHead, sizeof kGroupPswdHead - 1);
  std::memcpy(pswd + sizeof kGroupPswdHead - 1, kGroupPswdTail, sizeof kGroupPswdTail - 1);
  cmd.w.bytes(pswd, sizeof pswd);
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_INIT_TOKEN, handle);
  rq.command(cmd).out(resp, sizeof resp);
  rq.send();
  explicit_bzero(cmd.bytes, sizeof cmd.bytes);
  return rq.result();
}

extern "C" {

QEL2_EXPORT Uint32 Qel2InitHSM(Uint32 ulSessionHandle, Int8 *config_file) {
  if (config_file == nullptr) return ERR_INVALID_INPUT;
  Config c = Config::starting(Form::File);
  if (Uint32 r = parse_file(reinterpret_cast<const char *>(config_file), c)) return r;
  BoardConfiguration board;
  c.write(&board);
  return Qel2InitHSMCommon(ulSessionHandle, &board);
}

QEL2_EXPORT Uint32 Qel2InitHSMNew(Uint32 ulSessionHandle, char **pParams, Uint32 ulNumParams) {
  // Names and values come in pairs, every one of them present.
  if (pParams == nullptr || ulNumParams % 2 != 0) return ERR_INVALID_INPUT;
  for (Uint32 i = 0; i < ulNumParams; ++i)
    if (pParams[i] == nullptr) return ERR_INVALID_INPUT;
  Config c = Config::starting(Form::Pairs);
  for (Uint32 i = 0; i < ulNumParams; i += 2)
    if (Uint32 r = apply(c, Form::Pairs, pParams[i], pParams[i + 1])) return r;
  BoardConfiguration board;
  c.write(&board);
  return Qel2InitHSMCommon(ulSessionHandle, &board);
}

QEL2_EXPORT Uint32 Qel2InitHSMNimbrel(Uint32 ulSessionHandle, BoardConfiguration *pConfig) {
  if (pConfig == nullptr) return ERR_INVALID_INPUT;
  return Qel2InitHSMCommon(ulSessionHandle, pConfig);
}

QEL2_EXPORT Uint32 Qel2InitHSMDone(Uint32 ulSessionHandle) {
  uint8_t resp[sizeof(StdResponse)] = {};
  MgmtRequest rq(KQ_INIT_DONE, masked_session(ulSessionHandle));
  rq.out(resp, sizeof resp);
  rq.send();
  const Uint32 r = rq.result();
  if (r == 0) drop_all_connections();
  return r;
}

QEL2_EXPORT Uint32 Qel2SetHSMConfig(hsmConfigArgs *pArgs) {
  if (pArgs == nullptr) {
    printf("%s %d pArgs is null\n", "Qel2SetHSMConfig", kSetConfigLine);
    return ERR_INVALID_INPUT;
  }
  if (pArgs->ulHsmConfigType != 1) {
    printf("ERROR: invalid config type %d recieved\n", static_cast<int>(pArgs->ulHsmConfigType));
    return ERR_INVALID_INPUT;
  }
  if (pArgs->ulHsmConfigValue != 1) {
    puts("ERROR: only enabling the block delete user is supported");
    return ERR_INVALID_INPUT;
  }
  // The setting reaches the HSM only through initialisation's flag.
  pArgs->ulSessionHandle = masked_session(pArgs->ulSessionHandle);
  return 0;
}

}  // extern "C"
