#pragma once

// POSIX only: permissions do not bind the superuser, so checks of what a folder without
// permissions hides run in a child that gives up root first.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <initializer_list>

namespace kopiensieb::testing {

// Runs `check` in a forked child that has dropped root and gives what it returned (0..255;
// 200 when root could not be dropped), or -1 when the child did not end normally.
inline int RunWithoutPrivileges(const std::function<int()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(200);
    }
    ::_exit(check());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

// What a child answers for its checks: the number (from 1) of the first that failed, 0 when
// all held.
inline int FirstFailed(std::initializer_list<bool> checks) {
  const auto failed = std::find(checks.begin(), checks.end(), false);
  return failed == checks.end() ? 0 : 1 + static_cast<int>(failed - checks.begin());
}

}  // namespace kopiensieb::testing
