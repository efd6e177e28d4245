// Preloaded into a test's child interpreter (LD_PRELOAD), this library stands between the
// module and the C library's open, read, write and close, and injects the faults that a real
// system produces only rarely: interrupted calls, short reads, read errors, failing writes to
// standard output and failing closes. It counts what it saw, so a test can prove that every
// plot file that was opened was closed exactly once.
//
// Only what concerns a plot file is touched, so the interpreter's own files go through as they
// are: a path is marked when it contains the text of TARNEX_FI_MARK; reads and closes act on
// descriptors opened on a marked path; writes to descriptors 1 and 2 act only while such a
// descriptor is open, that is, during a call of the reader.
//
// TARNEX_FI names the faults, as words separated by blanks or commas. It is read again at each
// open of a marked path, so a child can change it between calls.
//
//   eintr              the first attempt of each open of a marked path, of each read of a
//                      marked descriptor and of each write to descriptor 1 or 2 fails with
//                      EINTR; the attempt after it goes through
//   read-bytes=N       a read of a marked descriptor delivers at most N bytes
//   read-fail=CODE@N   once N bytes came from a marked descriptor, its reads fail with errno CODE
//   write-bytes=N      a write to descriptor 1 or 2 takes at most N bytes
//   write-fail=zero@K  from the K-th write call to descriptor 1 after the open on, every write
//                      returns 0 without writing
//   write-fail=CODE@K  the same, failing with errno CODE instead
//   close-fail=CODE    a close of a marked descriptor closes it, then reports errno CODE
//
// tarnex_fi_counter(name) gives the counters, for the child to read through ctypes before and
// after each call.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

enum { kTrackedDescriptors = 4096 };

// What became of a descriptor number, as far as marked paths go.
enum DescriptorState { kUntracked = 0, kMarkedOpen, kMarkedClosed };

struct Faults {
  int eintr;
  size_t read_bytes;  // 0: no limit
  int read_fail_code;
  size_t read_fail_after;
  size_t write_bytes;  // 0: no limit
  int write_fail;      // 0: none, -1: writes of zero bytes, else the errno
  long write_fail_from;
  int close_fail_code;
};

static struct Faults faults;

static _Atomic unsigned char state[kTrackedDescriptors];
static _Atomic size_t delivered[kTrackedDescriptors];  // bytes read from a marked descriptor
static atomic_long marked_open_now;
static atomic_long stdout_writes;  // write calls to descriptor 1 since the last marked open

static atomic_long opens, closes, stale_closes, reads, injected_eintr, system_eintr;

// Each kind of call alternates between an interrupted attempt and one that goes through.
enum CallKind { kOpen, kRead, kWrite, kCallKinds };
static _Thread_local int interrupted_last[kCallKinds];

static int (*real_open)(const char*, int, ...);
static int (*real_open64)(const char*, int, ...);
static ssize_t (*real_read)(int, void*, size_t);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_close)(int);

static void* next_symbol(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == NULL) abort();
  return symbol;
}

__attribute__((constructor)) static void resolve_symbols(void) {
  real_open = (int (*)(const char*, int, ...))next_symbol("open");
  real_open64 = (int (*)(const char*, int, ...))next_symbol("open64");
  real_read = (ssize_t(*)(int, void*, size_t))next_symbol("read");
  real_write = (ssize_t(*)(int, const void*, size_t))next_symbol("write");
  real_close = (int (*)(int))next_symbol("close");
}

static int tracked(int fd) { return fd >= 0 && fd < kTrackedDescriptors; }

static int is_marked_path(const char* path) {
  const char* mark = getenv("TARNEX_FI_MARK");
  return mark != NULL && *mark != '\0' && path != NULL && strstr(path, mark) != NULL;
}

static int is_marked_descriptor(int fd) { return tracked(fd) && state[fd] == kMarkedOpen; }

// "N" or "N@M": the numbers of a fault's value.
static void parse_pair(const char* text, long* first, long* second) {
  char* end;
  *first = strtol(text, &end, 10);
  *second = *end == '@' ? strtol(end + 1, NULL, 10) : 0;
}

static void parse_fault(const char* word) {
  long first, second;
  if (strcmp(word, "eintr") == 0) {
    faults.eintr = 1;
  } else if (strncmp(word, "read-bytes=", 11) == 0) {
    faults.read_bytes = strtoul(word + 11, NULL, 10);
  } else if (strncmp(word, "read-fail=", 10) == 0) {
    parse_pair(word + 10, &first, &second);
    faults.read_fail_code = (int)first;
    faults.read_fail_after = (size_t)second;
  } else if (strncmp(word, "write-bytes=", 12) == 0) {
    faults.write_bytes = strtoul(word + 12, NULL, 10);
  } else if (strncmp(word, "write-fail=zero@", 16) == 0) {
    faults.write_fail = -1;
    faults.write_fail_from = strtol(word + 16, NULL, 10);
  } else if (strncmp(word, "write-fail=", 11) == 0) {
    parse_pair(word + 11, &first, &second);
    faults.write_fail = (int)first;
    faults.write_fail_from = second;
  } else if (strncmp(word, "close-fail=", 11) == 0) {
    faults.close_fail_code = (int)strtol(word + 11, NULL, 10);
  } else if (*word != '\0') {
    abort();  // a test asked for a fault that does not exist
  }
}

static void read_faults(void) {
  memset(&faults, 0, sizeof faults);
  const char* text = getenv("TARNEX_FI");
  if (text == NULL) return;
  char word[64];
  size_t length = 0;
  for (const char* c = text;; ++c) {
    if (*c == '\0' || *c == ' ' || *c == ',') {
      word[length] = '\0';
      parse_fault(word);
      length = 0;
      if (*c == '\0') break;
    } else if (length + 1 < sizeof word) {
      word[length++] = *c;
    }
  }
}

// Whether this attempt is the interrupted one of its pair.
static int interrupt_now(enum CallKind kind) {
  if (!faults.eintr) return 0;
  interrupted_last[kind] = !interrupted_last[kind];
  if (!interrupted_last[kind]) return 0;
  ++injected_eintr;
  errno = EINTR;
  return 1;
}

static int open_with(int (*real)(const char*, int, ...), const char* path, int flags,
                     mode_t mode) {
  const int marked = is_marked_path(path);
  if (marked) {
    read_faults();
    if (interrupt_now(kOpen)) return -1;
  }
  const int fd = real(path, flags, mode);
  if (fd < 0) {
    if (marked && errno == EINTR) ++system_eintr;
    return fd;
  }
  if (tracked(fd)) state[fd] = marked ? kMarkedOpen : kUntracked;
  if (marked) {
    if (tracked(fd)) delivered[fd] = 0;
    ++opens;
    ++marked_open_now;
    stdout_writes = 0;
  }
  return fd;
}

static mode_t mode_argument(int flags, va_list arguments) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

EXPORT int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_with(real_open, path, flags, mode);
}

EXPORT int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  return open_with(real_open64, path, flags, mode);
}

EXPORT ssize_t read(int fd, void* buffer, size_t count) {
  if (!is_marked_descriptor(fd)) return real_read(fd, buffer, count);
  ++reads;
  if (interrupt_now(kRead)) return -1;
  const size_t so_far = delivered[fd];
  if (faults.read_fail_code != 0) {
    if (so_far >= faults.read_fail_after) {
      errno = faults.read_fail_code;
      return -1;
    }
    if (count > faults.read_fail_after - so_far) count = faults.read_fail_after - so_far;
  }
  if (faults.read_bytes != 0 && count > faults.read_bytes) count = faults.read_bytes;
  const ssize_t got = real_read(fd, buffer, count);
  if (got > 0) delivered[fd] += (size_t)got;
  if (got < 0 && errno == EINTR) ++system_eintr;
  return got;
}

EXPORT ssize_t write(int fd, const void* buffer, size_t count) {
  if ((fd != STDOUT_FILENO && fd != STDERR_FILENO) || marked_open_now == 0) {
    return real_write(fd, buffer, count);
  }
  if (interrupt_now(kWrite)) return -1;
  if (fd == STDOUT_FILENO && faults.write_fail != 0 &&
      ++stdout_writes >= faults.write_fail_from) {
    if (faults.write_fail < 0) return 0;
    errno = faults.write_fail;
    return -1;
  }
  if (faults.write_bytes != 0 && count > faults.write_bytes) count = faults.write_bytes;
  return real_write(fd, buffer, count);
}

EXPORT int close(int fd) {
  if (!tracked(fd) || state[fd] == kUntracked) return real_close(fd);
  if (state[fd] == kMarkedClosed) {
    // Closed before: a second close, unless the number was given out again meanwhile.
    const int result = real_close(fd);
    if (result != 0 && errno == EBADF) ++stale_closes;
    return result;
  }
  state[fd] = kMarkedClosed;
  ++closes;
  --marked_open_now;
  const int result = real_close(fd);
  if (result == 0 && faults.close_fail_code != 0) {
    errno = faults.close_fail_code;
    return -1;
  }
  return result;
}

// opens, closes: of marked paths; stale_closes: closes of a marked descriptor already closed;
// reads: read calls on marked descriptors; injected_eintr: attempts failed here with EINTR;
// system_eintr: opens and reads of marked paths that the system itself interrupted.
EXPORT long tarnex_fi_counter(const char* name) {
  if (strcmp(name, "opens") == 0) return opens;
  if (strcmp(name, "closes") == 0) return closes;
  if (strcmp(name, "stale_closes") == 0) return stale_closes;
  if (strcmp(name, "reads") == 0) return reads;
  if (strcmp(name, "injected_eintr") == 0) return injected_eintr;
  if (strcmp(name, "system_eintr") == 0) return system_eintr;
  return -1;
}
