#include "tests/game/child_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace nura::game_test {
namespace {

int s_count = 0;  // children started, for their output files

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Pause() {
  timespec t{0, 5 * 1000 * 1000};
  nanosleep(&t, nullptr);
}

}  // namespace

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& set,
                           const std::vector<std::string>& unset, bool pipeToFd3, const std::vector<std::string>& args)
    : m_outputFile(std::filesystem::current_path() / ("child-output-" + std::to_string(++s_count) + ".txt")) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(set.begin(), set.end(), [&](const std::string& s) {
      return s.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (!replaced && std::find(unset.begin(), unset.end(), name) == unset.end()) env.push_back(entry);
  }
  env.insert(env.end(), set.begin(), set.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = program;
  std::vector<std::string> words = args;
  std::vector<char*> argv = {path.data()};
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int fds[2] = {-1, -1};
  if (pipeToFd3 && pipe(fds) != 0) return;
  const int out = open(m_outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  m_mark = Now();
  m_pid = fork();
  if (m_pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    if (pipeToFd3) {
      close(fds[1]);
      if (fds[0] != 3) {
        dup2(fds[0], 3);
        close(fds[0]);
      }
    }
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out);
  if (pipeToFd3) {
    close(fds[0]);
    m_pipe = fds[1];
  }
}

ChildProgram::~ChildProgram() {
  ClosePipe();
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

void ChildProgram::ClosePipe() {
  if (m_pipe >= 0) close(m_pipe);
  m_pipe = -1;
}

void ChildProgram::Signal(int sig) {
  if (m_pid > 0) kill(m_pid, sig);
}

void ChildProgram::MarkTime() { m_mark = Now(); }

bool ChildProgram::WaitForEnd(double seconds) {
  if (m_pid <= 0) return true;
  const double until = Now() + seconds;
  do {
    if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
      m_seconds = Now() - m_mark;
      m_pid = -1;
      return true;
    }
    Pause();
  } while (Now() < until);
  return false;
}

std::string ChildProgram::Output() const {
  std::ifstream in(m_outputFile);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitForFile(const std::string& path, double seconds) {
  const double until = Now() + seconds;
  while (!std::filesystem::exists(path)) {
    if (Now() >= until) return false;
    Pause();
  }
  return true;
}

}  // namespace nura::game_test
