// The game program run as a child process of a test, for the paths that end
// the process: its standard output and error go to a file, it may inherit one
// end of a pipe as descriptor 3, and the test can signal it and time its end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace nura::game_test {

class ChildProgram {
 public:
  // Starts `program` with `args` in the working folder with the test's
  // environment, less the names in `unset`, plus `set` ("NAME=value"). With
  // `pipeToFd3`, the read end of a pipe becomes the child's descriptor 3 and
  // the test keeps the write end.
  ChildProgram(const std::string& program, const std::vector<std::string>& set,
               const std::vector<std::string>& unset, bool pipeToFd3 = false,
               const std::vector<std::string>& args = {});
  // Kills a child still running (SIGKILL).
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // Closes the test's end of the pipe.
  void ClosePipe();
  void Signal(int sig);
  // Waits up to `seconds` for the end; false when it is still running.
  bool WaitForEnd(double seconds);
  // Seconds from the last mark (the start, or MarkTime) to the end.
  void MarkTime();
  double SecondsToEnd() const { return m_seconds; }
  // The wait status (valid after WaitForEnd returned true).
  int Status() const { return m_status; }
  // Everything the child wrote on standard output and error.
  std::string Output() const;
  // Its process id while it runs, else -1.
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_pipe = -1;
  int m_status = 0;
  double m_mark = 0;
  double m_seconds = 0;
  std::string m_outputFile;
};

// Waits up to `seconds` for the file to exist.
bool WaitForFile(const std::string& path, double seconds);

}  // namespace nura::game_test
