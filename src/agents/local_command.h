#pragma once

// The one way the program starts another program. A LocalCommand runs exactly
// one child as the leader of a new process group, feeds it a text on standard
// input, collects standard output and standard error together into a bounded
// buffer, enforces a time-out and supports a graceful and a hard stop. The
// result arrives once, as a LocalCommandResult.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace glimmet {

class DelayedWork;
struct LocalCommandRun;

struct LocalCommandResult {
  // Exit code; 128 + signal when a signal ended the child; -1 when a pipe could
  // not be created; the spawn error number when the child could not start.
  std::int32_t status = 0;
  // Standard output and standard error as they arrived, UTF-8 with invalid
  // sequences replaced by U+FFFD; or the failure message when no child ran.
  std::string output;
  bool cancelled = false;
  bool timedOut = false;
};

// Output of one run, never more than kCapacity bytes. Thread-safe.
class LocalOutputBuffer {
 public:
  static constexpr std::size_t kCapacity = 0x1800000;  // 24 MiB

  // Adds the leading part of `bytes` that fits under the cap; drops the rest.
  void append(std::string_view bytes);
  std::size_t size() const;
  // The whole buffer as text, invalid UTF-8 repaired.
  std::string string() const;
  // Like string(), but valid bytes are moved out instead of copied, so a full
  // buffer is never held twice. The buffer is left empty and accepts no more.
  std::string takeString();

 private:
  mutable std::mutex mutex_;
  std::string data_;
  bool taken_ = false;
};

// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);
// `bytes` with every maximal invalid subsequence replaced by U+FFFD.
std::string repairedUtf8(std::string_view bytes);

class LocalCommand : public std::enable_shared_from_this<LocalCommand> {
 public:
  using OutputHandler = std::function<void(std::string_view chunk)>;
  using Completion = std::function<void(LocalCommandResult)>;

  static constexpr double kMinimumTimeout = 1;
  static constexpr double kMaximumTimeout = 300;

  // Commands are shared between the caller and the background work of their run.
  static std::shared_ptr<LocalCommand> create();

  // Starts `executable` (an absolute path; no PATH search) with `arguments`,
  // writes `input` to its standard input and returns at once. `completion` runs
  // exactly once: synchronously when no child could be started, otherwise on a
  // pool thread. `output` gets each chunk that is valid UTF-8 on its own, in
  // order, on a pool thread. `timeoutSeconds` is clamped to 1..300.
  void run(const std::string& executable, const std::vector<std::string>& arguments,
           std::string input, double timeoutSeconds, OutputHandler output, Completion completion);

  // The same as stop(false).
  void cancel() { stop(false); }
  // Graceful stop: SIGTERM to the group, SIGKILL a second later if needed.
  void stop(bool timedOut);
  // Hard stop: SIGTERM and SIGKILL at once.
  void terminateNow();

  // Process id of the child (also its process group id); 0 before the spawn.
  pid_t pid() const;
  bool ended() const;

  // The time-out actually used for `seconds`: within 1..300, 1 for NaN.
  static double clampedTimeout(double seconds);

  // The PATH a child gets: the usual tool directories ahead of `inherited`.
  static std::string childPath(const std::string& home, const std::string& inherited);

  LocalCommand(const LocalCommand&) = delete;
  LocalCommand& operator=(const LocalCommand&) = delete;
  ~LocalCommand();

 private:
  LocalCommand() = default;

  void startTimeout(double seconds);
  void wait(const std::shared_ptr<LocalCommandRun>& run, const Completion& completion);
  // Signals the process group unless the child has been reaped already (a
  // reaped pid may belong to another process by now).
  void signalGroup(pid_t group, int signal);
  static void killLater(const std::weak_ptr<LocalCommand>& command, pid_t group);

  mutable std::mutex lock_;
  pid_t pid_ = 0;
  bool ended_ = false;
  bool cancelled_ = false;
  bool timedOut_ = false;
  bool hardStopped_ = false;
  std::shared_ptr<DelayedWork> timeoutWork_;

  // Held while signalling and while reaping, so a signal never reaches a pid
  // that has been reaped.
  std::mutex reapLock_;
  bool reaped_ = false;
};

// Runs a command and blocks for its result: waits for the time-out plus four
// seconds, then stops the command and answers `placeholder` if no result came.
LocalCommandResult runAndWait(const std::string& executable,
                              const std::vector<std::string>& arguments, double timeoutSeconds,
                              LocalCommandResult placeholder, const std::string& input = {});
// The same with a command the caller holds, so that another thread can stop it.
LocalCommandResult runAndWait(const std::shared_ptr<LocalCommand>& command,
                              const std::string& executable,
                              const std::vector<std::string>& arguments, double timeoutSeconds,
                              LocalCommandResult placeholder, const std::string& input = {});

}  // namespace glimmet
