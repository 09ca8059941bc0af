/* cgirun: starts CGI programs the way a web server does and measures each
 * whole process: wall time from spawn to reaped exit, user+system CPU time
 * and peak resident memory from wait4. The programs run interleaved, one of
 * each per round with the order rotated every round, so that the noise of a
 * shared machine falls on all of them alike; ratios are medians of per-round
 * ratios against a reference program.
 *
 *   cgirun [-n ROUNDS] [-w WARMUP] [-e STDERR_LOG] [-t CONTENT_TYPE] [-E NAME=VALUE]...
 *          -b BODY_FILE PROGRAM...
 *   PROGRAM = "LABEL|EXECUTABLE|QUERY_STRING|MARKER|REFERENCE_LABEL[|NAME=VALUE]"
 *
 * Each program gets argv[0] = its full path, its own directory as working
 * directory, a CGI environment for a POST of BODY_FILE (CONTENT_TYPE
 * application/x-www-form-urlencoded unless -t says otherwise; -E adds a
 * variable, or stands for the one of that name, for every program, and a
 * PROGRAM's last field for that program alone: HTTP_ACCEPT=application/json
 * for a JSON answer, say), the body on a pipe and its output read from a pipe. A run
 * whose output lacks MARKER stops the benchmark: a failure page must never
 * be timed as a success. The body is sent from its file a piece at a time,
 * so that a large one adds nothing to this program's memory.
 *
 * Linked statically and kept small: exec carries the parent's resident
 * memory over into the child's peak RSS figure, so this program's own
 * footprint would otherwise show in every row (it is printed with the
 * table). */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxPrograms = 16, kMaxExtraEnv = 8, kEnvSize = 24 + kMaxExtraEnv };

typedef struct {
  char* label;
  char* exe;
  char* query;
  char* marker;
  char* own_env; /* a variable of this program's alone, or NULL */
  int ref;       /* index of the reference program, or -1 */
  char dir[4096];
  char* env[kEnvSize];
  double *wall, *cpu, *rss; /* per round: ms, ms, MiB */
} Program;

static Program programs[kMaxPrograms];
static int program_count;
static int body_fd;
static size_t body_size;
static const char* content_type = "application/x-www-form-urlencoded";
static char* extra_env[kMaxExtraEnv];
static int extra_env_count;
static int stderr_fd;
static char output[1 << 16];

static void Die(const char* what) {
  if (errno != 0)
    fprintf(stderr, "cgirun: %s: %s\n", what, strerror(errno));
  else
    fprintf(stderr, "cgirun: %s\n", what);
  exit(1);
}

static double NowMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static char* Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text;
  if (vasprintf(&text, format, args) < 0) Die("vasprintf");
  va_end(args);
  return text;
}

/* The variables a web server sets for a POSTed form (Apache's set). */
static void MakeEnvironment(Program* p) {
  const char* base = strrchr(p->exe, '/') + 1;
  char** e = p->env;
  /* First, so that they stand for the fixed ones of the same name. */
  if (p->own_env != NULL) *e++ = p->own_env;
  for (int i = 0; i < extra_env_count; ++i) *e++ = extra_env[i];
  *e++ = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
  *e++ = "GATEWAY_INTERFACE=CGI/1.1";
  *e++ = "SERVER_SOFTWARE=Apache/2.4.62 (Debian)";
  *e++ = "SERVER_NAME=localhost";
  *e++ = "SERVER_ADDR=127.0.0.1";
  *e++ = "SERVER_PORT=80";
  *e++ = "SERVER_PROTOCOL=HTTP/1.1";
  *e++ = "REQUEST_METHOD=POST";
  *e++ = Format("REQUEST_URI=/cgi-bin/%s?%s", base, p->query);
  *e++ = Format("SCRIPT_NAME=/cgi-bin/%s", base);
  *e++ = Format("SCRIPT_FILENAME=%s", p->exe);
  *e++ = "DOCUMENT_ROOT=/var/www/html";
  *e++ = Format("QUERY_STRING=%s", p->query);
  *e++ = Format("CONTENT_TYPE=%s", content_type);
  *e++ = Format("CONTENT_LENGTH=%zu", body_size);
  *e++ = "REMOTE_ADDR=127.0.0.1";
  *e++ = "REMOTE_PORT=54321";
  *e++ = "HTTP_HOST=localhost";
  *e++ = "HTTP_USER_AGENT=Mozilla/5.0 (X11; Linux x86_64)";
  *e++ = "HTTP_ACCEPT=text/html";
  *e = NULL;
}

/* One request: body in, page out, exit reaped. Returns 0 when the page holds
 * the program's marker. */
static int RunOnce(Program* p, double* wall, double* cpu, double* rss) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) Die("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
  posix_spawn_file_actions_addchdir_np(&actions, p->dir);
  char* argv[] = {p->exe, NULL};

  const double start = NowMs();
  pid_t pid;
  int rc = posix_spawn(&pid, p->exe, &actions, NULL, argv, p->env);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    errno = rc;
    Die(p->exe);
  }

  /* Write the body and read the page together, as a web server does, so a
   * large body cannot deadlock against a full output pipe. */
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  static char piece[1 << 16];
  size_t sent = 0, got = 0, piece_at = 0, piece_end = 0;
  int writing = 1;
  if (body_size == 0) {
    close(in[1]);
    writing = 0;
  }
  for (;;) {
    struct pollfd fds[2] = {{.fd = out[0], .events = POLLIN}, {.fd = in[1], .events = POLLOUT}};
    if (poll(fds, writing ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      Die("poll");
    }
    if (writing && fds[1].revents) {
      if (piece_at == piece_end) {
        size_t want = body_size - sent < sizeof piece ? body_size - sent : sizeof piece;
        ssize_t r = pread(body_fd, piece, want, (off_t)sent);
        if (r <= 0) Die("reading the body");
        piece_at = 0;
        piece_end = (size_t)r;
      }
      ssize_t n = write(in[1], piece + piece_at, piece_end - piece_at);
      if (n > 0) {
        sent += (size_t)n;
        piece_at += (size_t)n;
      }
      if ((n < 0 && errno != EAGAIN) || sent == body_size) {
        close(in[1]);
        writing = 0;
      }
    }
    if (fds[0].revents) {
      char discard[4096];
      char* into = got < sizeof output - 1 ? output + got : discard;
      size_t room = got < sizeof output - 1 ? sizeof output - 1 - got : sizeof discard;
      ssize_t n = read(out[0], into, room);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (into == output + got) got += (size_t)n;
    }
  }
  if (writing) close(in[1]);
  close(out[0]);
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) Die("wait4");
  *wall = NowMs() - start;
  *cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  *rss = (double)usage.ru_maxrss / 1024.0;
  output[got] = '\0';
  if (memmem(output, got, p->marker, strlen(p->marker)) != NULL) return 0;
  fprintf(stderr, "cgirun: %s: output without \"%s\" (exit status %d):\n%.2000s\n", p->label,
          p->marker, status, output);
  return -1;
}

/* This process's peak RSS so far (VmHWM). */
static double PeakRssKib(void) {
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  double kib = 0;
  while (status != NULL && fgets(line, sizeof line, status) != NULL)
    if (sscanf(line, "VmHWM: %lf", &kib) == 1) break;
  if (status != NULL) fclose(status);
  return kib;
}

static int CompareDoubles(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static double Median(const double* values, int count) {
  double* sorted = malloc(sizeof(double) * (size_t)count);
  memcpy(sorted, values, sizeof(double) * (size_t)count);
  qsort(sorted, (size_t)count, sizeof(double), CompareDoubles);
  double m = count % 2 ? sorted[count / 2] : (sorted[count / 2 - 1] + sorted[count / 2]) / 2;
  free(sorted);
  return m;
}

static double MedianRatio(const double* a, const double* b, int count) {
  double* ratios = malloc(sizeof(double) * (size_t)count);
  for (int i = 0; i < count; ++i) ratios[i] = a[i] / b[i];
  double m = Median(ratios, count);
  free(ratios);
  return m;
}

static void OpenBody(const char* path) {
  body_fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (body_fd < 0 || fstat(body_fd, &st) != 0) Die(path);
  body_size = (size_t)st.st_size;
}

static void AddProgram(char* text) {
  if (program_count == kMaxPrograms) Die("too many programs");
  Program* p = &programs[program_count];
  char* parts[5];
  for (int i = 0; i < 5; ++i) {
    parts[i] = strsep(&text, "|");
    if (parts[i] == NULL) {
      errno = 0;
      Die("PROGRAM is LABEL|EXECUTABLE|QUERY_STRING|MARKER|REFERENCE_LABEL[|NAME=VALUE]");
    }
  }
  p->own_env = strsep(&text, "|");
  p->label = parts[0];
  p->exe = parts[1];
  p->query = parts[2];
  p->marker = parts[3];
  p->ref = -1;
  for (int i = 0; i < program_count; ++i)
    if (strcmp(programs[i].label, parts[4]) == 0) p->ref = i;
  if (p->exe[0] != '/') {
    errno = 0;
    Die("the executable needs an absolute path");
  }
  snprintf(p->dir, sizeof p->dir, "%.*s", (int)(strrchr(p->exe, '/') - p->exe), p->exe);
  MakeEnvironment(p);
  ++program_count;
}

int main(int argc, char** argv) {
  int rounds = 300, warmup = 10, opt;
  const char* body_path = NULL;
  const char* log_path = "/dev/null";
  while ((opt = getopt(argc, argv, "n:w:b:e:t:E:")) != -1) {
    if (opt == 'n') rounds = atoi(optarg);
    if (opt == 'w') warmup = atoi(optarg);
    if (opt == 'b') body_path = optarg;
    if (opt == 'e') log_path = optarg;
    if (opt == 't') content_type = optarg;
    if (opt == 'E') {
      if (extra_env_count == kMaxExtraEnv) Die("too many -E");
      extra_env[extra_env_count++] = optarg;
    }
    if (opt == '?') return 2;
  }
  if (body_path == NULL || optind == argc || rounds < 1) {
    fprintf(stderr,
            "usage: cgirun [-n ROUNDS] [-w WARMUP] [-e STDERR_LOG] [-t CONTENT_TYPE] "
            "[-E NAME=VALUE]... -b BODY_FILE PROGRAM...\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  OpenBody(body_path);
  stderr_fd = open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (stderr_fd < 0) Die(log_path);
  for (int i = optind; i < argc; ++i) AddProgram(argv[i]);
  for (int i = 0; i < program_count; ++i) {
    programs[i].wall = calloc((size_t)rounds, sizeof(double));
    programs[i].cpu = calloc((size_t)rounds, sizeof(double));
    programs[i].rss = calloc((size_t)rounds, sizeof(double));
  }

  for (int round = -warmup; round < rounds; ++round) {
    for (int k = 0; k < program_count; ++k) {
      Program* p = &programs[(round + warmup + k) % program_count];
      double wall, cpu, rss;
      if (RunOnce(p, &wall, &cpu, &rss) != 0) return 1;
      if (round < 0) continue;
      p->wall[round] = wall;
      p->cpu[round] = cpu;
      p->rss[round] = rss;
    }
  }

  const double own_rss_kib = PeakRssKib();

  printf("%-36s %8s %8s %8s %7s %7s %7s  %s\n", "program", "wall ms", "CPU ms", "RSS MiB", "wall x",
         "CPU x", "RSS x", "ratios against");
  for (int i = 0; i < program_count; ++i) {
    Program* p = &programs[i];
    double rss = Median(p->rss, rounds);
    printf("%-36s %8.3f %8.3f %8.2f", p->label, Median(p->wall, rounds), Median(p->cpu, rounds),
           rss);
    if (p->ref >= 0) {
      Program* r = &programs[p->ref];
      printf(" %7.2f %7.2f %7.2f  %s\n", MedianRatio(p->wall, r->wall, rounds),
             MedianRatio(p->cpu, r->cpu, rounds), rss / Median(r->rss, rounds), r->label);
    } else {
      printf(" %7s %7s %7s\n", "-", "-", "-");
    }
  }
  printf(
      "rounds: %d after %d warm-up rounds; medians; ratios: medians of per-round ratios "
      "(RSS: of medians); this runner's own peak RSS: %.2f MiB\n",
      rounds, warmup, own_rss_kib / 1024.0);
  return 0;
}
