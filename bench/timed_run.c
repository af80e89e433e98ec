/* Runs a command and writes one line about it to OUT_FILE:
 *   wall-ms user-s system-s peak-KiB minor-faults others-all others-own
 * Wall time is taken on the monotonic clock around the child's whole life
 * (fork to reap), to the microsecond. others-all is the share of every
 * core's time that the rest of the machine kept busy meanwhile (the busy
 * time /proc/stat counts, less the command's own CPU time); others-own the
 * same over the cores this program may run on (taskset), which the command
 * inherits. Both are -1 when /proc/stat cannot be read. The command's
 * output is left to the caller's redirections; its exit status is this
 * program's (128 + the signal when one ended it).
 *
 * Usage: timed_run OUT_FILE COMMAND [ARG]...   (bench/compare_job.sh) */
#define _GNU_SOURCE
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_CPUS 1024

typedef struct {
  unsigned long long busy[MAX_CPUS + 1], total[MAX_CPUS + 1]; /* [0]: all cores */
  int ok;
} Ticks;

/* The busy and total ticks of all cores ([0]) and of each core (1 + its
 * number) from /proc/stat. */
static void ReadTicks(Ticks* t) {
  char line[512];
  FILE* f = fopen("/proc/stat", "r");
  memset(t, 0, sizeof(*t));
  if (!f) return;
  while (fgets(line, sizeof(line), f)) {
    unsigned long long v[8] = {0};
    int cpu = -1, n;
    if (strncmp(line, "cpu", 3) != 0) break;
    if (line[3] == ' ') {
      n = sscanf(line + 3, "%llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                 &v[6], &v[7]);
      cpu = 0;
    } else {
      int id = -1;
      n = sscanf(line + 3, "%d %llu %llu %llu %llu %llu %llu %llu %llu", &id, &v[0], &v[1], &v[2], &v[3], &v[4],
                 &v[5], &v[6], &v[7]) - 1;
      if (id < 0 || id >= MAX_CPUS) continue;
      cpu = id + 1;
    }
    if (n < 4) continue;
    /* user nice system idle iowait irq softirq steal */
    t->busy[cpu] = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
    t->total[cpu] = t->busy[cpu] + v[3] + v[4];
  }
  t->ok = 1;
  fclose(f);
}

/* The others' share of the cores in set (all when null) between a and b,
 * own seconds of CPU time being the command's. */
static double OthersShare(const Ticks* a, const Ticks* b, const cpu_set_t* set, double own) {
  const double hz = (double)sysconf(_SC_CLK_TCK);
  unsigned long long busy = 0, total = 0;
  double share;
  int c;
  if (!a->ok || !b->ok) return -1;
  if (!set) {
    busy = b->busy[0] - a->busy[0];
    total = b->total[0] - a->total[0];
  } else {
    for (c = 0; c < MAX_CPUS; ++c) {
      if (!CPU_ISSET(c, set)) continue;
      busy += b->busy[c + 1] - a->busy[c + 1];
      total += b->total[c + 1] - a->total[c + 1];
    }
  }
  if (total == 0) return 0;
  share = ((double)busy - own * hz) / (double)total;
  return share < 0 ? 0 : share;
}

static double Seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

int main(int argc, char** argv) {
  struct timespec start, end;
  struct rusage use;
  Ticks before, after;
  cpu_set_t own;
  int status;
  pid_t child;
  FILE* out;
  double wall, cpu;
  if (argc < 3) {
    fprintf(stderr, "usage: timed_run OUT_FILE COMMAND [ARG]...\n");
    return 64;
  }
  if (sched_getaffinity(0, sizeof(own), &own) != 0) CPU_ZERO(&own);
  ReadTicks(&before);
  clock_gettime(CLOCK_MONOTONIC, &start);
  child = fork();
  if (child < 0) {
    perror("timed_run: fork");
    return 71;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    fprintf(stderr, "timed_run: %s: %s\n", argv[2], strerror(errno));
    _exit(127);
  }
  while (wait4(child, &status, 0, &use) < 0) {
    if (errno != EINTR) {
      perror("timed_run: wait4");
      return 71;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  ReadTicks(&after);
  wall = (double)(end.tv_sec - start.tv_sec) * 1e3 + (double)(end.tv_nsec - start.tv_nsec) / 1e6;
  cpu = Seconds(use.ru_utime) + Seconds(use.ru_stime);
  out = fopen(argv[1], "w");
  if (!out) {
    fprintf(stderr, "timed_run: %s: %s\n", argv[1], strerror(errno));
    return 73;
  }
  fprintf(out, "%.3f %.6f %.6f %ld %ld %.4f %.4f\n", wall, Seconds(use.ru_utime), Seconds(use.ru_stime),
          use.ru_maxrss, use.ru_minflt, OthersShare(&before, &after, NULL, cpu),
          OthersShare(&before, &after, CPU_COUNT(&own) ? &own : NULL, cpu));
  if (fclose(out) != 0) return 73;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
