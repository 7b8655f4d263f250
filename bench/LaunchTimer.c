/* Starts one or more commands many times, interleaved (A B A B ...), and
 * reports for each the median, minimum and maximum wall time of a whole
 * process, from just before it is spawned to just after it is reaped, the
 * median processor time it used (user and system), and the largest peak
 * resident memory any run of it reached. On a busy machine the processor
 * time varies much less than the wall time.
 *
 *   launch_timer <runs> <warm-up runs> -- <command A...> [-- <command B...>]
 *
 * Commands are given with their path, run with the timer's environment and
 * with standard output sent to /dev/null. Warm-up runs are made the same
 * way and not counted. Prints one line per command, with these fields:
 *
 *   command <i> runs <n> median_us <t> min_us <t> max_us <t>
 *   cpu_median_us <t> maxrss_kb <k>
 *
 * and exits 1, naming the command, as soon as a run exits with a status
 * other than 0 or is killed.
 */

#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

enum { maxCommands = 8 };

typedef struct {
  char** argv;
  double* samples;
  double* cpuSamples;
  long maxRssKb;
} Command;

static double nowUs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

static double timevalUs(struct timeval tv) {
  return (double)tv.tv_sec * 1e6 + (double)tv.tv_usec;
}

/* Runs the command once; returns its wall time in microseconds and stores
 * its processor time at `cpuUs`. */
static double runOnce(Command* command,
                      const posix_spawn_file_actions_t* actions,
                      double* cpuUs) {
  const double start = nowUs();
  pid_t pid;
  const int error = posix_spawn(&pid, command->argv[0], actions, NULL,
                                command->argv, environ);
  if (error != 0) {
    fprintf(stderr, "launch_timer: cannot start %s: %s\n", command->argv[0],
            strerror(error));
    exit(1);
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("launch_timer: wait4");
    exit(1);
  }
  const double elapsed = nowUs() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "launch_timer: %s failed (status 0x%x)\n", command->argv[0],
            status);
    exit(1);
  }
  *cpuUs = timevalUs(usage.ru_utime) + timevalUs(usage.ru_stime);
  if (usage.ru_maxrss > command->maxRssKb) {
    command->maxRssKb = usage.ru_maxrss;
  }
  return elapsed;
}

static int compareDoubles(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return (x > y) - (x < y);
}

/* Sorts the samples and returns their median. */
static double median(double* samples, int count) {
  qsort(samples, (size_t)count, sizeof(double), compareDoubles);
  return count % 2 ? samples[count / 2]
                   : (samples[count / 2 - 1] + samples[count / 2]) / 2;
}

int main(int argc, char** argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) {
    fputs(
        "usage: launch_timer <runs> <warm-up runs> -- <command...> "
        "[-- <command...>]...\n",
        stderr);
    return 2;
  }
  const int runs = atoi(argv[1]);
  const int warmUp = atoi(argv[2]);
  if (runs < 1 || warmUp < 0) {
    fputs("launch_timer: runs must be positive\n", stderr);
    return 2;
  }

  Command commands[maxCommands];
  int count = 0;
  for (int i = 3; i < argc; i++) {
    if (strcmp(argv[i], "--") == 0) {
      argv[i] = NULL;
      if (i + 1 >= argc || strcmp(argv[i + 1], "--") == 0) {
        fputs("launch_timer: empty command\n", stderr);
        return 2;
      }
      if (count == maxCommands) {
        fputs("launch_timer: too many commands\n", stderr);
        return 2;
      }
      commands[count].argv = &argv[i + 1];
      commands[count].samples = calloc((size_t)runs, sizeof(double));
      commands[count].cpuSamples = calloc((size_t)runs, sizeof(double));
      commands[count].maxRssKb = 0;
      if (!commands[count].samples || !commands[count].cpuSamples) {
        return 2;
      }
      count++;
    }
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  double ignored;
  for (int run = 0; run < warmUp; run++) {
    for (int c = 0; c < count; c++) {
      runOnce(&commands[c], &actions, &ignored);
    }
  }
  for (int c = 0; c < count; c++) {
    commands[c].maxRssKb = 0;
  }
  for (int run = 0; run < runs; run++) {
    for (int c = 0; c < count; c++) {
      commands[c].samples[run] =
          runOnce(&commands[c], &actions, &commands[c].cpuSamples[run]);
    }
  }

  for (int c = 0; c < count; c++) {
    double* samples = commands[c].samples;
    double* cpuSamples = commands[c].cpuSamples;
    /* Sorted by median() before the extremes are read. */
    const double wallMedian = median(samples, runs);
    const double cpuMedian = median(cpuSamples, runs);
    printf(
        "command %d runs %d median_us %.1f min_us %.1f max_us %.1f "
        "cpu_median_us %.1f maxrss_kb %ld\n",
        c, runs, wallMedian, samples[0], samples[runs - 1], cpuMedian,
        commands[c].maxRssKb);
    free(samples);
    free(cpuSamples);
  }
  posix_spawn_file_actions_destroy(&actions);
  return 0;
}
