// Running a built program as a child process: arguments and standard input in, standard output,
// standard error and exit status out.
#ifndef TESTS_CHILD_PROCESS_H_
#define TESTS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

// Where the child's standard output goes.
enum class Output { kPipe, kClosed, kFull, kReaderGone };

struct Outcome {
  std::string out;
  std::string err;
  int status;  // exit status, or 128 + signal
};

struct Child {
  pid_t pid;
  int out;  // read end of its standard output, or -1
  int err;
};

// Starts program with argv {program, args...}, or with an empty argv when withName is false, and
// input on its standard input (which is then at its end). A child still running after two minutes
// is killed by SIGALRM.
Child spawn(const char* program, const std::vector<std::string>& args,
            Output output = Output::kPipe, bool withName = true, const std::string& input = "");

// Reads the child's output to its end and waits for it.
Outcome finish(const Child& child);

Outcome run(const char* program, const std::vector<std::string>& args,
            Output output = Output::kPipe, bool withName = true, const std::string& input = "");

// The value of a field of /proc/PID/status, or "" when it cannot be read.
std::string statusField(pid_t pid, const std::string& name);

// The Seccomp field of the child, once it is "1" or, when confined is false or five seconds
// have passed, as it stands.
std::string seccompOf(pid_t pid, bool confined);

// Starts program with args on a FIFO made at path as its table, and opens the FIFO's write end,
// which returns once the program has opened it; fifo is that end, or -1.
Child spawnOnFifo(const char* path, const char* program, const std::vector<std::string>& args,
                  int& fifo);

// Writes content to path, replacing whatever stood there and making its folders.
void placeTable(const char* path, const std::string& content);

#endif  // TESTS_CHILD_PROCESS_H_
