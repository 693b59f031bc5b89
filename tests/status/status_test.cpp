#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "qel2_errors.h"

namespace {

constexpr const char *kUnknown =
    "Error: new error from underlying FW/SW, might need to upgrade to new SW to decode";

std::string text_of(uint32_t code, std::string *printed) {
  testing::internal::CaptureStdout();
  const char *t = reinterpret_cast<const char *>(Qel2ResultAsString(code));
  *printed = testing::internal::GetCapturedStdout();
  return t;
}

struct TextCase {
  uint32_t code;
  const char *text;  // nullptr: unknown
  const char *printed;
};

// Names the parameterised cases by their code, so a failure says which one.
void PrintTo(const TextCase &c, std::ostream *os) { *os << std::hex << "0x" << c.code; }

class StatusText : public testing::TestWithParam<TextCase> {};

TEST_P(StatusText, LooksUpExactText) {
  const TextCase &c = GetParam();
  std::string printed;
  std::string text = text_of(c.code, &printed);
  EXPECT_EQ(text, c.text ? c.text : kUnknown);
  EXPECT_EQ(printed, c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Tricky, StatusText,
    testing::Values(
        // success and boundaries of the table
        TextCase{0, "HSM Return: SUCCESS", ""},
        TextCase{0x40, "CSP Error: ERR_SIGNATURE_MISMATCH", ""},
        TextCase{0x80, "HSM Error: Unclassified Error", ""},  // also ERR_SIGNATURE_MISMATCH_INT
        TextCase{0x42, "CSP Error: ERR_BAD_RECORD", ""},  // ERR_BAD_RECORD_INT and ERR_BAD_SIGN_R
        TextCase{0x52, "CSP Error: ERR_SIGNATURE_MISMATCH", ""},
        TextCase{0x7C, "CSP Error: ERR_BAD_DSIV_INCORRECT_PARAM", ""},
        // shared and near-identical texts
        TextCase{0x8B, "HSM Error: Invalid session handle passed in the command", ""},
        TextCase{0x90, "HSM Error: Invalid session handle passed in the command", ""},
        TextCase{0xAC, "HSM Error: Operation Failed. Invalid inputs passed", ""},
        TextCase{0xAD, "HSM Error: Operation Failed. Invalid inputs passed", ""},
        TextCase{0xAF, "HSM Error: Invalid attribute type in the object template", ""},
        TextCase{0xB0, "HSM Error: Type or value of a attribute is not correct", ""},
        TextCase{0xB1, "HSM Error: Invalid key size passed", ""},
        // escapes and typos kept as the system prints them
        TextCase{
            0xBB,
            "\n\tHSM Error: HSM is already busy generating the keys(or random bytes) for another "
            "request\n",
            ""},
        TextCase{0x40000045, "TESSALINE: TIMEOUT: Failed to recieve msg from the Daemon socket\n",
                 ""},
        TextCase{0x40000110, "ERR_OPERATION_NOT_SUPPORTED)", ""},
        TextCase{0x4000022F, " ERR_FAIL_SPAWN_PUB_KEY", ""},
        TextCase{0x4440010C, "Certitificate format wrong\n", ""},
        TextCase{0x104, "HSM Error: Integrity check failed after restore. Parition is zeroized.",
                 ""},
        TextCase{0x127, "HSM_ERROR: KCV does not match", ""},
        TextCase{0x44400105,
                 "Failed to delete certificate\n. Please ensure that a minimum of 1 certificate "
                 "exists\n",
                 ""},
        // negative errno values
        TextCase{0xFFFFFF92u, "-ETIMEDOUT", ""},
        TextCase{0xFFFFFFF0u, "-EBUSY Device or resource busy", ""},
        TextCase{0xFFFFFFF4u, "-ENOMEM", ""},
        // enumerators without a text, gaps and neighbours of ranges
        TextCase{0x11, nullptr, "error code 11\n"}, TextCase{0xFA, nullptr, "error code fa\n"},
        TextCase{0xC5, nullptr, "error code c5\n"},
        TextCase{0x4000004E, nullptr, "error code 4000004e\n"},
        TextCase{0x40000059, nullptr, "error code 40000059\n"},
        TextCase{0x44000200, nullptr, "error code 44000200\n"},
        TextCase{0x7D, nullptr, "error code 7d\n"}, TextCase{0x128, nullptr, "error code 128\n"},
        TextCase{0x40000235, nullptr, "error code 40000235\n"},
        TextCase{0x4444011A, nullptr, "error code 4444011a\n"},
        TextCase{0xFFFFFFFFu, nullptr, "error code ffffffff\n"},
        // high bits count: a code that matches a known one in the low bits only
        TextCase{0x10000080u, nullptr, "error code 10000080\n"}));

TEST(StatusText, LogPullRoleTextNamesTheRoles) {
  std::string printed;
  std::string t = text_of(RET_LOG_PULL_ROLE_MISSING, &printed);
  EXPECT_EQ(t.rfind("HSM ERROR: Partition does not have a log pulling role", 0), 0u);
  EXPECT_NE(t.find("CO"), std::string::npos);
  EXPECT_NE(t.find("AU"), std::string::npos);
  EXPECT_EQ(printed, "");
}

TEST(StatusText, TextIsStableStorage) {
  EXPECT_EQ(Qel2ResultAsString(RET_RESULT_SIZE), Qel2ResultAsString(183));
}

TEST(StatusCodes, EnumeratorValues) {
  static_assert(RET_RESULT_SIZE == 183);
  static_assert(RET_CLUSTER_OPERATION_INCOMPLETE == 0x30000081);
  static_assert(TESSALINE_INVALID_OPERATION == 0x40000048);
  static_assert(ERR_ARGUMENTS_BAD == 0x40000206);
  static_assert(ERR_SIGNATURE_MISMATCH_INT == 0x80);
  static_assert(ERR_BAD_SIGN_R == 0x42 && ERR_BAD_SIGN_R_INT == 0x82);
  static_assert(ERR_BAD_RECORD_INT == 0x42);
  static_assert(ERR_INVALID_MEMCPY_OP == 0x44400085);
}

TEST(StatusPredicates, TessalineRange) {
  const struct {
    uint32_t code;
    uint8_t expected;
  } cases[] = {{0x4000003F, 0}, {0x40000040, 1}, {0x40000053, 1}, {0x40000059, 1},
               {0x4000005A, 0}, {0, 0},          {0xC0000048, 0}};
  for (auto c : cases) EXPECT_EQ(tessaline_error_code(c.code), c.expected) << std::hex << c.code;
}

TEST(StatusPredicates, ReplicatedOpcodes) {
  const uint16_t replicated[] = {9,   13,  14,  15,  18,  21,  23,  25,  27,  45, 69,
                                 130, 155, 191, 205, 218, 219, 220, 222, 226, 241};
  int count = 0;
  for (uint32_t op = 0; op <= 0xFFFF; ++op) count += is_valid_ha_op(static_cast<uint16_t>(op));
  EXPECT_EQ(count, 21);
  for (uint16_t op : replicated) EXPECT_EQ(is_valid_ha_op(op), 1) << op;
  EXPECT_EQ(is_valid_ha_op(17), 0);  // destroy is not replicated
  // only the low 16 bits of an opcode take part
  uint32_t wide = 0x10009;
  EXPECT_EQ(is_valid_ha_op(static_cast<uint16_t>(wide)), 1);
}

TEST(StatusPredicates, ClusterIncompleteOnObjectChangingOpcodes) {
  const uint16_t changing[] = {15, 18, 21, 23, 25, 27, 69, 130, 155, 218, 219, 220, 222, 226, 241};
  int count = 0;
  for (uint32_t op = 0; op <= 0xFFFF; ++op)
    count += is_valid_cluster_ha_op_response(static_cast<uint16_t>(op), 0x30000081);
  EXPECT_EQ(count, 15);
  for (uint16_t op : changing) {
    EXPECT_EQ(is_valid_cluster_ha_op_response(op, 0x30000081), 1) << op;
    EXPECT_EQ(is_valid_cluster_ha_op_response(op, 0x30000080), 0) << op;
    EXPECT_EQ(is_valid_cluster_ha_op_response(op, 0), 0) << op;
  }
  for (uint16_t op : {9, 13, 14, 17, 45, 191, 205})
    EXPECT_EQ(is_valid_cluster_ha_op_response(op, 0x30000081), 0) << op;
}

}  // namespace
