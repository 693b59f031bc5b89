// The administrator's session (device 1, partition 0) and a mkdtemp
// directory for the files the calls read and write.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "admin_fixture.h"
#include "qel2_admin2.h"

namespace maint_test {

using namespace admin_test;

class MaintenanceTest : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    char tmpl[] = "/tmp/qel2-maint-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    admin_ = admin_session(1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    AdminTest::TearDown();
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string write(const std::string &name, const std::vector<uint8_t> &bytes) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }
  static std::vector<uint8_t> read(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  static std::vector<uint8_t> pattern(size_t n, uint8_t seed = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + seed + i / 256);
    return v;
  }
  static Int8 *c_str(std::string &s) { return reinterpret_cast<Int8 *>(s.data()); }

  std::string dir_;
  Uint32 admin_ = 0;
};

}  // namespace maint_test
