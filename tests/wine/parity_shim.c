// Test-only, preloaded into Wine: a pseudo-terminal refuses parity, so Wine's
// SetCommState fails there. This lets the request through without the parity
// bits and appends what was asked for to $PORTFLASH_PARITY_LOG, one line per
// call on a terminal: "parity=even|odd|none check=0|1 bits=5..8 stop=1|2".
// glibc's tcsetattr makes the system call itself: wrapping it sees every request.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int tcsetattr(int fd, int action, const struct termios* wanted) {
  static int (*real)(int, int, const struct termios*);
  if (real == NULL) real = (int (*)(int, int, const struct termios*))dlsym(RTLD_NEXT, "tcsetattr");
  const char* path = getenv("PORTFLASH_PARITY_LOG");
  if (wanted == NULL || path == NULL || !isatty(fd)) return real(fd, action, wanted);
  struct termios copy = *wanted;
  FILE* log = fopen(path, "ae");
  if (log != NULL) {
    fprintf(log, "parity=%s check=%d bits=%d stop=%d\n",
            (copy.c_cflag & PARENB) == 0 ? "none"
            : (copy.c_cflag & PARODD)    ? "odd"
                                         : "even",
            (copy.c_iflag & INPCK) != 0, 5 + (int)((copy.c_cflag & CSIZE) / CS6),
            (copy.c_cflag & CSTOPB) ? 2 : 1);
    fclose(log);
  }
  copy.c_cflag &= ~(tcflag_t)(PARENB | PARODD);
  return real(fd, action, &copy);
}
