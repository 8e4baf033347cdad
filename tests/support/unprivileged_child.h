#pragma once

// POSIX only: permissions do not bind the superuser, so checks of what a folder without
// permissions hides run in a child that gives up root first.

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

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

}  // namespace kopiensieb::testing
