/* Test-only, preloaded into Wine: a pseudo-terminal refuses parity, so Wine's
 * SetCommState fails there. This lets the request through without the parity
 * bits and appends what was asked for to $PORTFLASH_PARITY_LOG, one line per
 * call on a pseudo-terminal: "parity=even|odd|none check=0|1 bits=5..8 stop=1|2". */
#define _GNU_SOURCE
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

static int is_pty(int fd) {
  struct stat info;
  /* Unix 98 pseudo-terminal slaves: majors 136 to 143. */
  return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
         major(info.st_rdev) <= 143;
}

static void record(tcflag_t cflag, tcflag_t iflag) {
  const char* path = getenv("PORTFLASH_PARITY_LOG");
  if (path == NULL) return;
  const char* parity = (cflag & PARENB) == 0 ? "none" : (cflag & PARODD) ? "odd" : "even";
  int bits = (cflag & CSIZE) == CS5   ? 5
             : (cflag & CSIZE) == CS6 ? 6
             : (cflag & CSIZE) == CS7 ? 7
                                      : 8;
  char line[96];
  int n = snprintf(line, sizeof line, "parity=%s check=%d bits=%d stop=%d\n", parity,
                   (iflag & INPCK) != 0, bits, (cflag & CSTOPB) ? 2 : 1);
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, (size_t)n) < 0) { /* nothing to do */
  }
  close(fd);
}

/* Every termios setter ends in one of these requests; glibc's tcsetattr too. */
int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  int sets = request == TCSETS || request == TCSETSW || request == TCSETSF;
  int sets2 = request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2;
  if ((!sets && !sets2) || arg == NULL || !is_pty(fd)) return real(fd, request, arg);
  if (sets2) {
    struct termios2 copy;
    memcpy(&copy, arg, sizeof copy);
    record(copy.c_cflag, copy.c_iflag);
    copy.c_cflag &= ~(tcflag_t)(PARENB | PARODD);
    return real(fd, request, &copy);
  }
  struct termios copy;
  memcpy(&copy, arg, sizeof copy);
  record(copy.c_cflag, copy.c_iflag);
  copy.c_cflag &= ~(tcflag_t)(PARENB | PARODD);
  return real(fd, request, &copy);
}

/* glibc's tcsetattr makes the system call itself, past ioctl() above. Its
 * struct termios starts as the kernel's: c_iflag, c_oflag, c_cflag, c_lflag. */
enum { kGlibcTermiosSize = 60 };
int tcsetattr(int fd, int action, const void* termios_p) {
  static int (*real)(int, int, const void*);
  if (real == NULL) real = (int (*)(int, int, const void*))dlsym(RTLD_NEXT, "tcsetattr");
  if (termios_p == NULL || !is_pty(fd)) return real(fd, action, termios_p);
  unsigned int copy[kGlibcTermiosSize / sizeof(unsigned int)];
  memcpy(copy, termios_p, sizeof copy);
  record(copy[2], copy[0]);
  copy[2] &= ~(unsigned int)(PARENB | PARODD);
  return real(fd, action, copy);
}
