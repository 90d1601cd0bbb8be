#include "agents/local_command.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <semaphore>

#include "core/delayed_work.h"
#include "core/executors.h"
#include "core/files.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace glimmet {

// --- UTF-8 ----------------------------------------------------------------------

namespace {

// Length of the well-formed sequence starting at `i`, or of the maximal invalid
// prefix there (as a negative number), following the Unicode recommendation for
// U+FFFD substitution.
long sequenceAt(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int k = 1; k < length; ++k) {
    if (i + k >= s.size()) return -k;
    const unsigned char next = byte(i + k);
    if (next < low || next > high) return -k;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    // Runs of ASCII, the bulk of agent output, are checked a word at a time.
    std::uint64_t word = 0;
    if (i + sizeof word <= bytes.size()) {
      std::memcpy(&word, bytes.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += sizeof word;
        continue;
      }
    }
    const long length = sequenceAt(bytes, i);
    if (length < 0) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

std::string repairedUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const long length = sequenceAt(bytes, i);
    if (length > 0) {
      text.append(bytes.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    } else {
      text.append("\xEF\xBF\xBD");
      i += static_cast<std::size_t>(-length);
    }
  }
  return text;
}

// --- output buffer ----------------------------------------------------------------

namespace {

// A large output fills many fresh pages, and on some machines each page fault
// costs more than copying the page. Asking for transparent huge pages on the
// 2 MiB-aligned interior of the block cuts the faults by a factor of 512; the
// advice is a hint the kernel may ignore, so its result is not checked.
void preferHugePages(char* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (start + size) & ~(kHuge - 1);
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // NOLINT
  }
}

}  // namespace

void LocalOutputBuffer::append(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (taken_ || data_.size() >= kCapacity) return;
  const std::size_t room = kCapacity - data_.size();
  const std::size_t count = std::min(room, bytes.size());
  // Past 1 MiB the buffer jumps straight to its cap: growing by doubling would
  // briefly hold the old and the new block, and pages never written cost nothing.
  constexpr std::size_t kSmall = std::size_t{1} << 20;
  if (data_.size() + count > data_.capacity() && data_.size() + count > kSmall) {
    data_.reserve(kCapacity);
    preferHugePages(data_.data(), data_.capacity());
  }
  data_.append(bytes.substr(0, count));
}

std::size_t LocalOutputBuffer::size() const {
  std::lock_guard lock(mutex_);
  return data_.size();
}

std::string LocalOutputBuffer::string() const {
  std::lock_guard lock(mutex_);
  return repairedUtf8(data_);
}

std::string LocalOutputBuffer::takeString() {
  std::string bytes;
  {
    std::lock_guard lock(mutex_);
    taken_ = true;
    bytes.swap(data_);
  }
  if (isValidUtf8(bytes)) return bytes;
  return repairedUtf8(bytes);
}

// --- one run ------------------------------------------------------------------------

// What the reader and the waiter of one run share.
struct LocalCommandRun {
  std::shared_ptr<LocalOutputBuffer> buffer = std::make_shared<LocalOutputBuffer>();
  std::mutex mutex;
  std::condition_variable readerDone;
  bool endOfOutput = false;
  // Set once the result is out; a reader still draining the pipe of an escaped
  // descendant then stops handing chunks to the caller.
  std::atomic<bool> delivered = false;

  bool waitForReader(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return readerDone.wait_for(lock, limit, [this] { return endOfOutput; });
  }
};

namespace {

constexpr std::size_t kReadSize = 32768;

LocalCommandResult failureResult(std::int32_t status, const char* message) {
  return LocalCommandResult{status, message, false, false};
}

// Writes the whole input, then closes the pipe. Linux has no per-descriptor
// switch that suppresses SIGPIPE (no F_SETNOSIGPIPE), and MSG_NOSIGNAL works
// only on sockets, so SIGPIPE is blocked on this thread while writing: a child
// that closed its standard input then makes write() fail with EPIPE, and the
// signal, which the kernel directs at the writing thread, stays pending there
// until it is consumed below, before the thread's mask is restored. The
// process-wide disposition of SIGPIPE is left alone.
void writeInput(FileDescriptor fd, const std::string& input) {
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
  bool broken = false;
  std::size_t written = 0;
  while (written < input.size()) {
    const ssize_t count = ::write(fd.get(), input.data() + written, input.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      broken = errno == EPIPE;
      break;
    }
    written += static_cast<std::size_t>(count);
  }
  fd.reset();
  if (broken) {
    const timespec noWait{};
    while (sigtimedwait(&pipeOnly, nullptr, &noWait) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void readOutput(FileDescriptor fd, const std::shared_ptr<LocalCommandRun>& run,
                const LocalCommand::OutputHandler& output) {
  std::string chunk(kReadSize, '\0');
  for (;;) {
    const ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    const std::string_view bytes(chunk.data(), static_cast<std::size_t>(count));
    run->buffer->append(bytes);
    if (output && !run->delivered && isValidUtf8(bytes)) output(bytes);
  }
  fd.reset();
  {
    std::lock_guard lock(run->mutex);
    run->endOfOutput = true;
  }
  run->readerDone.notify_all();
}

std::string homeDirectory() {
  const char* home = g_get_home_dir();
  return home ? home : "";
}

// The program's environment with PATH replaced; owned strings plus the pointer
// array posix_spawn wants.
struct ChildEnvironment {
  std::vector<std::string> entries;
  std::vector<char*> pointers;

  ChildEnvironment() {
    const char* inherited = std::getenv("PATH");
    for (char** variable = environ; variable && *variable; ++variable) {
      if (std::string_view(*variable).starts_with("PATH=")) continue;
      entries.emplace_back(*variable);
    }
    entries.push_back("PATH=" +
                      LocalCommand::childPath(homeDirectory(), inherited ? inherited : ""));
    for (auto& entry : entries) pointers.push_back(entry.data());
    pointers.push_back(nullptr);
  }
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

// --- command -------------------------------------------------------------------------

std::shared_ptr<LocalCommand> LocalCommand::create() {
  return std::shared_ptr<LocalCommand>(new LocalCommand());  // NOLINT: private constructor
}

LocalCommand::~LocalCommand() {
  if (timeoutWork_) timeoutWork_->cancel();
}

std::string LocalCommand::childPath(const std::string& home, const std::string& inherited) {
  return "/usr/local/bin:" + home + "/.local/bin:" + home +
         "/.npm-global/bin:/usr/bin:/bin:" + inherited;
}

double LocalCommand::clampedTimeout(double seconds) {
  return std::isnan(seconds) ? kMinimumTimeout
                             : std::clamp(seconds, kMinimumTimeout, kMaximumTimeout);
}

pid_t LocalCommand::pid() const {
  std::lock_guard lock(lock_);
  return pid_;
}

bool LocalCommand::ended() const {
  std::lock_guard lock(lock_);
  return ended_;
}

void LocalCommand::run(const std::string& executable, const std::vector<std::string>& arguments,
                       std::string input, double timeoutSeconds, OutputHandler output,
                       Completion completion) {
  int outputPipe[2];
  if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
    completion(failureResult(-1, "无法创建输出管道"));
    return;
  }
  FileDescriptor outputRead(outputPipe[0]);
  FileDescriptor outputWrite(outputPipe[1]);
  int inputPipe[2];
  if (::pipe2(inputPipe, O_CLOEXEC) != 0) {
    completion(failureResult(-1, "无法创建输入管道"));
    return;
  }
  FileDescriptor inputRead(inputPipe[0]);
  FileDescriptor inputWrite(inputPipe[1]);

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), inputRead.get(), 0);
  posix_spawn_file_actions_adddup2(actions.get(), outputWrite.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), outputWrite.get(), 2);
  for (const int fd : {inputRead.get(), inputWrite.get(), outputRead.get(), outputWrite.get()}) {
    if (fd > 2) posix_spawn_file_actions_addclose(actions.get(), fd);
  }
  SpawnAttributes attributes;
  // A new process group led by the child, an empty signal mask, and default
  // handling of the signals a parent may have chosen to ignore.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setflags(attributes.get(),
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(attributes.get(), 0);
  posix_spawnattr_setsigmask(attributes.get(), &none);
  posix_spawnattr_setsigdefault(attributes.get(), &defaults);

  std::vector<std::string> argumentTexts;
  argumentTexts.reserve(arguments.size() + 1);
  argumentTexts.push_back(executable);
  argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(argumentTexts.size() + 1);
  for (auto& argument : argumentTexts) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ChildEnvironment environment;

  pid_t child = 0;
  const int spawnError = posix_spawn(&child, executable.c_str(), actions.get(), attributes.get(),
                                     argv.data(), environment.pointers.data());
  outputWrite.reset();
  inputRead.reset();
  if (spawnError != 0) {
    completion(failureResult(spawnError, "无法启动本机 CLI"));
    return;
  }

  bool cancelledEarly = false;
  bool hardStoppedEarly = false;
  {
    std::lock_guard lock(lock_);
    pid_ = child;
    cancelledEarly = cancelled_;
    hardStoppedEarly = hardStopped_;
  }
  if (hardStoppedEarly) {
    terminateNow();
  } else if (cancelledEarly) {
    stop(false);
  }

  GlobalPool::shared().post(
      [fd = std::make_shared<FileDescriptor>(std::move(inputWrite)),
       input = std::move(input)]() mutable { writeInput(std::move(*fd), input); });

  auto state = std::make_shared<LocalCommandRun>();
  GlobalPool::shared().post(
      [fd = std::make_shared<FileDescriptor>(std::move(outputRead)), state,
       output = std::move(output)]() mutable { readOutput(std::move(*fd), state, output); });
  startTimeout(timeoutSeconds);
  GlobalPool::shared().post(
      [self = shared_from_this(), state, completion = std::move(completion)]() mutable {
        self->wait(state, completion);
      });
}

void LocalCommand::startTimeout(double seconds) {
  const double clamped = clampedTimeout(seconds);
  auto work = DelayedWork::schedule(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(clamped)),
                                    [weak = weak_from_this()] {
                                      if (auto command = weak.lock()) command->stop(true);
                                    });
  std::lock_guard lock(lock_);
  timeoutWork_ = std::move(work);
}

void LocalCommand::wait(const std::shared_ptr<LocalCommandRun>& run, const Completion& completion) {
  const pid_t child = pid();
  // Wait for the exit without reaping, so the process group id cannot be taken
  // by another process while the group is still being signalled.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0 &&
         errno == EINTR) {
  }
  std::shared_ptr<DelayedWork> timeout;
  {
    std::lock_guard lock(lock_);
    timeout = std::move(timeoutWork_);
  }
  if (timeout) timeout->cancel();
  // Descendants that outlived the child end with it; one that ignores SIGTERM
  // and keeps the pipe open is killed a second later.
  signalGroup(child, SIGTERM);
  if (!run->waitForReader(std::chrono::seconds(1))) {
    signalGroup(child, SIGKILL);
    run->waitForReader(std::chrono::seconds(2));
  }
  int waitStatus = 0;
  {
    std::lock_guard reap(reapLock_);
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  LocalCommandResult result;
  {
    std::lock_guard lock(lock_);
    ended_ = true;
    result.cancelled = cancelled_;
    result.timedOut = timedOut_;
  }
  const int signal = waitStatus & 0x7f;
  result.status = signal != 0 ? (signal | 0x80) : ((waitStatus >> 8) & 0xff);
  result.output = run->buffer->takeString();
  run->delivered = true;
  completion(std::move(result));
}

void LocalCommand::signalGroup(pid_t group, int signal) {
  std::lock_guard reap(reapLock_);
  if (reaped_ || group < 1) return;
  ::kill(-group, signal);
}

void LocalCommand::stop(bool timedOut) {
  pid_t child = 0;
  {
    std::lock_guard lock(lock_);
    if (ended_) return;
    if (timedOut) {
      timedOut_ = true;
    } else {
      cancelled_ = true;
    }
    child = pid_;
  }
  if (child < 1) return;
  signalGroup(child, SIGTERM);
  killLater(weak_from_this(), child);
}

void LocalCommand::killLater(const std::weak_ptr<LocalCommand>& command, pid_t group) {
  DelayedWork::schedule(std::chrono::seconds(1), [command, group] {
    auto strong = command.lock();
    if (strong && !strong->ended()) strong->signalGroup(group, SIGKILL);
  });
}

void LocalCommand::terminateNow() {
  pid_t child = 0;
  {
    std::lock_guard lock(lock_);
    cancelled_ = true;
    hardStopped_ = true;
    if (ended_) return;
    child = pid_;
  }
  if (child < 1) return;
  signalGroup(child, SIGTERM);
  signalGroup(child, SIGKILL);
}

// --- run and wait ----------------------------------------------------------------------

LocalCommandResult runAndWait(const std::string& executable,
                              const std::vector<std::string>& arguments, double timeoutSeconds,
                              LocalCommandResult placeholder, const std::string& input) {
  return runAndWait(LocalCommand::create(), executable, arguments, timeoutSeconds,
                    std::move(placeholder), input);
}

LocalCommandResult runAndWait(const std::shared_ptr<LocalCommand>& command,
                              const std::string& executable,
                              const std::vector<std::string>& arguments, double timeoutSeconds,
                              LocalCommandResult placeholder, const std::string& input) {
  struct Box {
    std::mutex mutex;
    LocalCommandResult result;
    std::binary_semaphore done{0};
  };
  auto box = std::make_shared<Box>();
  box->result = std::move(placeholder);
  command->run(executable, arguments, input, timeoutSeconds, nullptr,
               [box](LocalCommandResult result) {
                 {
                   std::lock_guard lock(box->mutex);
                   box->result = std::move(result);
                 }
                 box->done.release();
               });
  const auto deadline =
      std::chrono::duration<double>(LocalCommand::clampedTimeout(timeoutSeconds) + 4);
  if (!box->done.try_acquire_for(deadline)) command->stop(false);
  std::lock_guard lock(box->mutex);
  return box->result;
}

}  // namespace glimmet
