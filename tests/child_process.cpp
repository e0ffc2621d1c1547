#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace {

constexpr unsigned kChildSeconds = 120;  // far above any run of the suite, under qemu too

std::string drain(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  close(fd);
  return text;
}

}  // namespace

Child spawn(const char* program, const std::vector<std::string>& args, Output output, bool withName,
            const std::string& input) {
  std::vector<char*> argv;
  if (withName) argv.push_back(const_cast<char*>(program));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Standard input from a scratch file, so that no writer has to keep up with the child.
  char inputName[] = "/tmp/child-input-XXXXXX";
  const int in = mkstemp(inputName);
  if (in < 0) std::abort();
  unlink(inputName);
  if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
  lseek(in, 0, SEEK_SET);
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) std::abort();
  if (output == Output::kReaderGone) close(out[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);  // the program must protect itself
    alarm(kChildSeconds);      // a program that never ends fails its test, by SIGALRM
    dup2(in, 0);
    dup2(err[1], 2);
    if (output == Output::kPipe || output == Output::kReaderGone) dup2(out[1], 1);
    if (output == Output::kFull) dup2(open("/dev/full", O_WRONLY), 1);
    if (output == Output::kClosed) close(1);
    closefrom(3);
    execv(program, argv.data());
    _exit(127);
  }
  close(in);
  close(out[1]);
  close(err[1]);
  return {pid, output == Output::kReaderGone ? -1 : out[0], err[0]};
}

Outcome finish(const Child& child) {
  Outcome r;
  r.out = child.out < 0 ? "" : drain(child.out);
  r.err = drain(child.err);
  int status = 0;
  waitpid(child.pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

Outcome run(const char* program, const std::vector<std::string>& args, Output output, bool withName,
            const std::string& input) {
  return finish(spawn(program, args, output, withName, input));
}

std::string statusField(pid_t pid, const std::string& name) {
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (f == nullptr) return "";
  std::string value;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    if (std::string_view(line).starts_with(name + ":\t")) {
      value = std::string(line + name.size() + 2);
      value.pop_back();
    }
  }
  std::fclose(f);
  return value;
}

std::string seccompOf(pid_t pid, bool confined) {
  std::string seccomp = statusField(pid, "Seccomp");
  for (int i = 0; confined && seccomp != "1" && i < 5000; ++i) {
    usleep(1000);
    seccomp = statusField(pid, "Seccomp");
  }
  return seccomp;
}

Child spawnOnFifo(const char* path, const char* program, const std::vector<std::string>& args,
                  int& fifo) {
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (mkfifo(path, 0600) != 0) std::abort();
  const Child child = spawn(program, args);
  fifo = open(path, O_WRONLY);
  return child;
}

void placeTable(const char* path, const std::string& content) {
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = std::fopen(path, "wb");
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}
