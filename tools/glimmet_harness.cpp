// glimmet-harness: the headless bridge harness. Reads JSON lines from standard
// input through the GLib main loop (so asynchronous work runs between lines)
// and prints what the page would see; see bridge_harness.h for the protocol.
//
//   glimmet-harness [--web DIR] [--ca-file PATH] [--connect-to H:P:A:P]...
//                   [--print-bridge-script] [program switches...]
//
// Exits 0 once the input has ended and every answer owed has been printed (or
// 30 s have passed); 1 when a line could not be acted on, each reported on
// standard error with its line number; 2 for a malformed command line.

#include <curl/curl.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_harness.h"
#include "core/defaults_store.h"
#include "core/files.h"
#include "core/glib_ptr.h"

namespace {

using namespace glimmet;

// How long the harness waits, after its input ends, for answers still owed.
constexpr auto kDrainLimit = std::chrono::seconds(30);

struct Arguments {
  std::vector<std::string> switches;
  std::filesystem::path webDirectory;
  std::filesystem::path caFile;
  std::vector<std::string> connectTo;
  bool printBridgeScript = false;
};

std::optional<Arguments> parseArguments(int argc, char** argv) {
  Arguments parsed;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool valued =
        argument == "--web" || argument == "--ca-file" || argument == "--connect-to";
    if (valued && i + 1 >= argc) {
      std::cerr << "glimmet-harness: " << argument << " needs a value\n";
      return std::nullopt;
    }
    if (argument == "--web") {
      parsed.webDirectory = argv[++i];
    } else if (argument == "--ca-file") {
      parsed.caFile = argv[++i];
    } else if (argument == "--connect-to") {
      parsed.connectTo.emplace_back(argv[++i]);
    } else if (argument == "--print-bridge-script") {
      parsed.printBridgeScript = true;
    } else {
      parsed.switches.push_back(argument);
    }
  }
  return parsed;
}

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// libcurl trusts only the bundle it is given, so the extra CA is handed over
// together with the system's bundle in a temporary file, removed at exit.
class CombinedTrust {
 public:
  explicit CombinedTrust(const std::filesystem::path& extra) : directory_("glimmet-harness-ca") {
    std::ostringstream bundle;
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    if (curl->cainfo != nullptr) bundle << std::ifstream(curl->cainfo, std::ios::binary).rdbuf();
    std::ifstream extraFile(extra, std::ios::binary);
    if (!extraFile) throw std::runtime_error("cannot read " + extra.string());
    bundle << '\n' << extraFile.rdbuf();
    writeFileAtomically(path(), bundle.str());
  }

  std::filesystem::path path() const { return directory_ / "ca-bundle.pem"; }

 private:
  TemporaryDirectory directory_;
};

// Feeds standard input to the harness one line per main-loop turn, pausing for
// "settle" lines, and quits the loop once the input has ended and every answer
// owed has been printed (or the drain limit has passed).
class InputPump {
 public:
  InputPump(BridgeHarness& harness, GMainLoop* loop)
      : harness_(harness), loop_(loop), inputFlags_(fcntl(STDIN_FILENO, F_GETFL)) {
    fcntl(STDIN_FILENO, F_SETFL, inputFlags_ | O_NONBLOCK);
    reader_ = g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                            &InputPump::readable, this);
  }
  // The sources refer to the pump, and standard input may be shared with a shell.
  ~InputPump() {
    for (const guint source : {reader_, next_, timer_}) {
      if (source != 0) g_source_remove(source);
    }
    fcntl(STDIN_FILENO, F_SETFL, inputFlags_);
  }
  InputPump(const InputPump&) = delete;
  InputPump& operator=(const InputPump&) = delete;

  // True when a line could not be acted on.
  bool sawBadInput() const { return badInput_; }

 private:
  static gboolean readable(gint, GIOCondition, gpointer self) {
    auto* pump = static_cast<InputPump*>(self);
    if (pump->read()) return G_SOURCE_CONTINUE;
    pump->reader_ = 0;
    return G_SOURCE_REMOVE;
  }

  // Takes what standard input has; false once it has ended.
  bool read() {
    char chunk[65536];
    for (;;) {
      const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (count > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(count));
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      ended_ = true;
      break;
    }
    schedule();
    return !ended_;
  }

  void schedule() {
    if (next_ != 0 || timer_ != 0) return;
    next_ = g_idle_add(&InputPump::step, this);
  }

  static gboolean step(gpointer self) {
    auto* pump = static_cast<InputPump*>(self);
    pump->next_ = 0;
    pump->handleNextLine();
    return G_SOURCE_REMOVE;
  }

  void handleNextLine() {
    std::size_t end = buffer_.find('\n');
    if (end == std::string::npos) {
      if (!ended_) return;
      end = buffer_.size();
      if (end == 0) {
        drain();
        return;
      }
    }
    const std::string line = buffer_.substr(0, end);
    buffer_.erase(0, std::min(end + 1, buffer_.size()));
    ++lineNumber_;
    Duration settle{0};
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      try {
        settle = harness_.handle(line);
      } catch (const HarnessInputError& error) {
        std::cerr << "glimmet-harness: line " << lineNumber_ << ": " << error.what() << '\n';
        badInput_ = true;
      }
    }
    if (settle.count() > 0) {
      timer_ = g_timeout_add(static_cast<guint>(settle.count()), &InputPump::resume, this);
      return;
    }
    schedule();
  }

  static gboolean resume(gpointer self) {
    auto* pump = static_cast<InputPump*>(self);
    pump->timer_ = 0;
    pump->schedule();
    return G_SOURCE_REMOVE;
  }

  void drain() {
    harness_.closePrompts();
    drainDeadline_ = std::chrono::steady_clock::now() + kDrainLimit;
    timer_ = g_timeout_add(5, &InputPump::checkDrained, this);
  }

  static gboolean checkDrained(gpointer self) {
    auto* pump = static_cast<InputPump*>(self);
    const bool answered = !pump->harness_.awaitingAnswers();
    if (!answered && std::chrono::steady_clock::now() < pump->drainDeadline_) {
      return G_SOURCE_CONTINUE;
    }
    if (!answered) std::cerr << "glimmet-harness: requests still unanswered after 30 s\n";
    pump->timer_ = 0;
    g_main_loop_quit(pump->loop_);
    return G_SOURCE_REMOVE;
  }

  BridgeHarness& harness_;
  GMainLoop* loop_;
  std::string buffer_;
  const int inputFlags_;
  // Reads standard input; runs the next line; a settle pause or the drain check.
  guint reader_ = 0;
  guint next_ = 0;
  guint timer_ = 0;
  bool ended_ = false;
  bool badInput_ = false;
  std::size_t lineNumber_ = 0;
  std::chrono::steady_clock::time_point drainDeadline_;
};

// Lets work already queued for the main thread (late replies) run.
void spinBriefly() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  while (std::chrono::steady_clock::now() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
}

int run(const Arguments& arguments) {
  ControllerOptions options;
  options.switches = Switches::parse(arguments.switches);
  options.resourceDirectory = GLIMMET_HARNESS_RESOURCE_DIR;
  options.webDirectory = arguments.webDirectory;
  options.session.connectTo = arguments.connectTo;
  std::optional<CombinedTrust> trust;
  if (!arguments.caFile.empty()) {
    trust.emplace(arguments.caFile);
    options.session.trustedCAFile = trust->path();
  }

  BridgeHarness harness(DefaultsStore::standardLocation(), userDataHome() / "Trash" / "files",
                        std::move(options), printLine);
  if (arguments.printBridgeScript) {
    printLine(harness.bridgeScript());
    return 0;
  }
  harness.launch();

  const GPtr<GMainLoop, g_main_loop_unref> loop(g_main_loop_new(nullptr, FALSE));
  InputPump pump(harness, loop.get());
  g_main_loop_run(loop.get());
  harness.shutdown();
  spinBriefly();
  return pump.sawBadInput() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Arguments> arguments = parseArguments(argc, argv);
  if (!arguments) return 2;
  try {
    return run(*arguments);
  } catch (const std::exception& error) {
    std::cerr << "glimmet-harness: " << error.what() << '\n';
    return 1;
  }
}
