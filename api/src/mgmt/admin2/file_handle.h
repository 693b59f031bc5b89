// A FILE closed on every path out of the function that opened it.
#ifndef QEL2_MGMT_ADMIN2_FILE_HANDLE_H
#define QEL2_MGMT_ADMIN2_FILE_HANDLE_H

#include <cstdio>
#include <memory>

namespace qel2::mgmt {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Null when the name is null or the file cannot be opened.
inline FileHandle open_file(const char *name, const char *mode) {
  return FileHandle(name ? std::fopen(name, mode) : nullptr);
}

}  // namespace qel2::mgmt

#endif
