/* Runs a command with its output discarded and prints the command's own peak resident memory in
 * KiB and its minor page faults, read from /proc as it exits. The parent's figures from wait4
 * would include the memory of the process before the exec. */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    ptrace(PTRACE_TRACEME, 0, 0, 0);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  waitpid(pid, &status, 0); /* stopped at the exec */
  ptrace(PTRACE_SETOPTIONS, pid, 0, PTRACE_O_TRACEEXIT);
  ptrace(PTRACE_CONT, pid, 0, 0);
  long peak = -1, faults = -1;
  while (waitpid(pid, &status, 0) == pid && !WIFEXITED(status) && !WIFSIGNALED(status)) {
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      char path[64], line[256];
      snprintf(path, sizeof path, "/proc/%d/status", pid);
      FILE* f = fopen(path, "r");
      while (f && fgets(line, sizeof line, f)) sscanf(line, "VmHWM: %ld", &peak);
      if (f) fclose(f);
      snprintf(path, sizeof path, "/proc/%d/stat", pid);
      f = fopen(path, "r");
      /* minflt is the tenth field; the second, the name, is in parentheses. */
      if (f && fgets(line, sizeof line, f)) {
        const char* p = strrchr(line, ')');
        if (p) sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %ld", &faults);
      }
      if (f) fclose(f);
    }
    ptrace(PTRACE_CONT, pid, 0, 0);
  }
  printf("%ld %ld\n", peak, faults);
  return 0;
}
