// Compiled by scripts/check-install against the installed headers as C++11,
// 14, 17 and 20 with g++ and clang++, -pedantic -Wall -Wextra -Werror: a C++
// application includes qel2.h without touching its own warning flags. The
// names a C caller uses for a completion entry work the same way here.
#include <qel2.h>

static void on_done(void *entry) { static_cast<void>(entry); }

int main() {
  callback_fn cb = on_done;
  req_status_t entry = req_status_t();
  entry.callback_fn = cb;
  static_assert(sizeof(entry.callback_fn) == sizeof(callback_fn), "one pointer");
  return entry.callback_fn == on_done ? 0 : 1;
}
