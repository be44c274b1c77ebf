// A private JACK server for tests: jackd with the dummy driver under a name
// unique to this process, made the default server of the process
// (JACK_DEFAULT_SERVER), stopped again when the object goes.
#pragma once
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class JackServer {
 public:
  JackServer(int period, int rate = 44100) {
    static int serial = 0;
    name_ = "pelvane-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    std::string periodText = std::to_string(period), rateText = std::to_string(rate);
    const char* argv[] = {"jackd",
                          "-n",
                          name_.c_str(),
                          "--no-realtime",
                          "-S",
                          "-t",
                          "5000",
                          "-d",
                          "dummy",
                          "-r",
                          rateText.c_str(),
                          "-p",
                          periodText.c_str(),
                          nullptr};
    // Not posix_spawn: the server must die with this process even when a
    // sanitizer or a crash ends it without running destructors.
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp("jackd", const_cast<char**>(argv));
      _exit(127);
    }
    if (pid_ < 0) pid_ = 0;
    if (pid_ == 0) return;
    jack_set_error_function([](const char*) {});  // "cannot connect" while it starts
    // Ready once a client can connect; give up after ten seconds.
    for (int tries = 0; tries < 200 && !ready_; ++tries) {
      jack_status_t status;
      if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
        jack_client_close(probe);
        ready_ = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  ~JackServer() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    for (int tries = 0; tries < 100; ++tries) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  pid_t pid_ = 0;
  bool ready_ = false;
};
