// Attribute files: entries of an attribute name and its value, turned into a
// template.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/be_codec.h"
#include "common/template/attr_walk.h"
#include "common/template/template_writer.h"
#include "qel2_template.h"

namespace qel2::tmpl {
namespace {

constexpr size_t kMaxNameLen = 2047;
constexpr size_t kMaxLineLen = 4095;

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips blanks, tabs and line ends; false at the end of the file.
bool skip_blanks(FILE *fp) {
  int c;
  while ((c = std::getc(fp)) != EOF) {
    if (!is_blank(c)) {
      std::ungetc(c, fp);
      return true;
    }
  }
  return false;
}

// The next run of non-blank characters, at most kMaxNameLen of them; false
// at the end of the file.
bool read_name(FILE *fp, std::string *name) {
  name->clear();
  if (!skip_blanks(fp)) return false;
  int c;
  while (name->size() < kMaxNameLen && (c = std::getc(fp)) != EOF) {
    if (is_blank(c)) {
      std::ungetc(c, fp);
      break;
    }
    name->push_back(static_cast<char>(c));
  }
  return true;
}

// The value: skip to the next non-blank, then the rest of that line without
// its line end. A line longer than the line limit is refused, not cut.
bool read_value_line(FILE *fp, std::string *line) {
  line->clear();
  if (!fp || !skip_blanks(fp)) return false;
  int c;
  while ((c = std::getc(fp)) != EOF && c != '\n') {
    if (line->size() == kMaxLineLen) return false;
    line->push_back(static_cast<char>(c));
  }
  return !std::ferror(fp);
}

// Room left for an attribute at *psize in the template buffer.
bool fits(const Uint32 *psize, uint64_t value_len) {
  return *psize <= kTemplateBufferSize && kAttrHeadSize + value_len <= kTemplateBufferSize - *psize;
}

// Writes size and value at attr (the caller writes the type) and advances
// the running length.
Uint32 put_value(Attribute *attr, Uint32 *psize, const void *value, size_t n) {
  if (!fits(psize, n)) return 1;
  uint8_t *head = reinterpret_cast<uint8_t *>(attr);
  put_be32(head + 4, static_cast<uint32_t>(n));
  if (n) std::memcpy(head + kAttrHeadSize, value, n);
  *psize += static_cast<Uint32>(kAttrHeadSize + n);
  return 0;
}

// An unsigned number with base detection; the whole text must be consumed
// and the value must stay below the greatest 64-bit value.
bool parse_unsigned(const std::string &text, uint64_t *out) {
  if (text.empty() || std::memchr(text.data(), 0, text.size())) return false;
  errno = 0;
  char *end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE || v == ULLONG_MAX) return false;
  *out = v;
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits, optionally after 0x/0X, in pairs; a lone digit without a
// prefix is one byte. Any other character refuses the value.
bool parse_hex(const std::string &text, std::string *bytes) {
  bytes->clear();
  if (text.empty()) return false;
  const bool prefix = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t start = prefix ? 2 : 0;
  const size_t digits = text.size() - start;
  for (size_t i = start; i < text.size(); ++i)
    if (hex_digit(text[i]) < 0) return false;
  if (!prefix && digits == 1) {
    bytes->push_back(static_cast<char>(hex_digit(text[0])));
    return true;
  }
  if (digits % 2 != 0) return false;
  for (size_t i = start; i < text.size(); i += 2)
    bytes->push_back(static_cast<char>(hex_digit(text[i]) << 4 | hex_digit(text[i + 1])));
  return true;
}

Uint32 put_number_text(Attribute *attr, Uint32 *psize, uint64_t v) {
  char text[16];
  const int n =
      std::snprintf(text, sizeof text, "%d\n", static_cast<int32_t>(static_cast<uint32_t>(v)));
  return put_value(attr, psize, text, static_cast<size_t>(n));
}

bool reader_args_ok(FILE *fp, Attribute *attr, Uint32 *psize) { return fp && attr && psize; }

}  // namespace
}  // namespace qel2::tmpl

extern "C" {

QEL2_EXPORT Uint32 copy_str_value(FILE *fp, Attribute *attr, Uint32 *psize) {
  using namespace qel2::tmpl;
  std::string line;
  if (!reader_args_ok(fp, attr, psize) || !read_value_line(fp, &line)) return 1;
  // The text as C text, with its NUL.
  const size_t len = std::strlen(line.c_str());
  return put_value(attr, psize, line.c_str(), len + 1);
}

QEL2_EXPORT Uint32 copy_byte_value(FILE *fp, Attribute *attr, Uint32 *psize) {
  using namespace qel2::tmpl;
  std::string line, bytes;
  if (!reader_args_ok(fp, attr, psize) || !read_value_line(fp, &line) || line.empty()) return 1;
  // Reckoned at half the text, prefix included, at least one byte.
  const uint64_t reckoned = line.size() / 2 ? line.size() / 2 : 1;
  if (!fits(psize, reckoned) || !parse_hex(line, &bytes)) return 1;
  return put_value(attr, psize, bytes.data(), bytes.size());
}

QEL2_EXPORT Uint32 copy_int_value(FILE *fp, Attribute *attr, Uint32 *psize) {
  using namespace qel2::tmpl;
  std::string line;
  uint64_t v = 0;
  if (!reader_args_ok(fp, attr, psize) || !read_value_line(fp, &line) || !parse_unsigned(line, &v))
    return 1;
  return put_number_text(attr, psize, v);
}

QEL2_EXPORT Uint32 copy_pub_exp_value(FILE *fp, Attribute *attr, Uint32 *psize,
                                      pub_exp_copy_fmt copy_fmt) {
  using namespace qel2::tmpl;
  std::string line;
  uint64_t v = 0;
  if (!reader_args_ok(fp, attr, psize) || !read_value_line(fp, &line) || !parse_unsigned(line, &v))
    return 1;
  switch (copy_fmt) {
    case PUB_EXP_COPY_STRING_VALUE:
      return put_number_text(attr, psize, v);
    case PUB_EXP_COPY_U32_VALUE: {
      uint8_t be[4];
      qel2::put_be32(be, static_cast<uint32_t>(v));
      return put_value(attr, psize, be, sizeof be);
    }
    default:
      printf("Invalid copy format %d", static_cast<int>(copy_fmt));
      return 1;
  }
}

QEL2_EXPORT uint8_t read_attr_file(char *file, uint8_t **attr, uint32_t *attr_len,
                                   uint32_t *attr_count, pub_exp_copy_fmt copy_fmt) {
  using namespace qel2::tmpl;
  if (!attr) return 1;
  FILE *fp = file ? std::fopen(file, "r") : nullptr;
  if (!fp) {
    printf("Error: Unable to open the attribute file %s\n", file ? file : "(null)");
    return 1;
  }
  uint8_t *buf = static_cast<uint8_t *>(std::calloc(1, kTemplateBufferSize));
  if (!buf) {
    printf("Error: Unable to allocate memory for the attribute buffer");
    std::fclose(fp);
    return 1;
  }
  *attr = buf;
  if (attr_count) *attr_count = 0;

  Uint32 len = 0;
  bool failed = false;
  std::string name;
  while (!failed && read_name(fp, &name)) {
    // A name with a NUL inside is no name, whatever its start spells.
    const uint32_t type = std::strlen(name.c_str()) == name.size() ? attr_name_to_type(name.data())
                                                                   : OBJ_ATTR_NAME_UNKNOWN;
    if (type == OBJ_ATTR_NAME_UNKNOWN) {
      printf("\n\tInvalid attribute type :: %s, stopping parsing of the file \n", name.c_str());
      failed = true;
      break;
    }
    const Uint32 start = len;
    Attribute *place = reinterpret_cast<Attribute *>(buf + start);
    Uint32 rc;
    switch (type) {
      case OBJ_ATTR_LABEL:
      case OBJ_ATTR_ID:
        rc = copy_str_value(fp, place, &len);
        break;
      case OBJ_ATTR_MODULUS:
      case OBJ_ATTR_KCV:
      case OBJ_ATTR_EKCV:
        rc = copy_byte_value(fp, place, &len);
        break;
      case OBJ_ATTR_PUBLIC_EXPONENT:
        rc = copy_pub_exp_value(fp, place, &len, copy_fmt);
        break;
      default:
        rc = copy_int_value(fp, place, &len);
        break;
    }
    if (rc != 0) {
      printf("\n\tError: Reading %s attribute value from file failed\n", name.c_str());
      failed = true;
      break;
    }
    qel2::put_be32(buf + start, type);
    if (attr_count) ++*attr_count;
  }
  if (std::ferror(fp)) failed = true;
  std::fclose(fp);
  if (failed) {
    std::free(buf);
    *attr = nullptr;
    return 1;
  }
  if (attr_len) *attr_len = len;
  return 0;
}

}  // extern "C"
