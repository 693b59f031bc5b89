#include "hsm/state/hsm_state.h"

#include "hsm/engine/secure.h"

namespace hsmsim::hsm {

namespace {

void add_seed_user(Partition &p, const char *name, UserType type, const char *password) {
  User u;
  u.id = p.next_user_id++;
  u.name = name;
  u.type = static_cast<uint32_t>(type);
  u.password = Secret(std::string(password));
  p.users.push_back(std::move(u));
}

}  // namespace

void HsmState::seed() {
  id = Identity{};
  id.fips_state = defaults::kFipsState;
  id.user_fail_limit = id.officer_fail_limit = defaults::kLoginFailureLimit;
  partitions = Partitions{};
  apps.clear();
  sessions.clear();
  faults.clear();
  slow_ops.clear();
  objects.clear();
  admin = AdminState{};
  contexts.clear();
  admin2 = Admin2State{};
  maintenance = MaintenanceState{};

  Partition *admin = partitions.add(defaults::kAdminPartition, 0);
  admin->fips_state = static_cast<uint8_t>(defaults::kFipsState);
  add_seed_user(*admin, defaults::kAdminName, UserType::CryptoOfficer, defaults::kAdminPassword);

  Partition *p1 = partitions.add(defaults::kPartition, 1);
  p1->fips_state = static_cast<uint8_t>(defaults::kFipsState);
  add_seed_user(*p1, defaults::kOfficerName, UserType::CryptoOfficer, defaults::kOfficerPassword);
  add_seed_user(*p1, defaults::kUserName, UserType::CryptoUser, defaults::kUserPassword);
}

uint32_t HsmState::random_u32_nonzero() {
  uint32_t v = 0;
  while (v == 0) {
    uint8_t b[4];
    engine::fill_random(b);
    v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  }
  return v;
}

uint32_t HsmState::fail_limit(uint32_t user_type) const {
  bool officer = user_type == static_cast<uint32_t>(UserType::CryptoOfficer) ||
                 user_type == static_cast<uint32_t>(UserType::PartitionCryptoOfficer) ||
                 user_type == static_cast<uint32_t>(UserType::PreCryptoOfficer);
  return officer ? id.officer_fail_limit : id.user_fail_limit;
}

uint32_t HsmState::session_state(const Session &s) {
  Application *a = apps.by_index(s.app_index);
  if (!a || !a->login)
    return static_cast<uint32_t>(s.rw() ? SessionState::RwPublic : SessionState::RoPublic);
  switch (static_cast<UserType>(a->login->type)) {
    case UserType::CryptoUser:
    case UserType::TwoFactorCryptoUser:
      return static_cast<uint32_t>(s.rw() ? SessionState::RwUser : SessionState::RoUser);
    case UserType::ApplianceUser:
      return static_cast<uint32_t>(SessionState::RwApplianceUser);
    case UserType::PreCryptoOfficer:
      return static_cast<uint32_t>(SessionState::RwPreOfficer);
    default:
      return static_cast<uint32_t>(SessionState::RwOfficer);
  }
}

}  // namespace hsmsim::hsm
