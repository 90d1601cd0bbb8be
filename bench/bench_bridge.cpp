// Measures the bridge against the work it cannot avoid.
//
// messages: 10,000 "apiStatus" envelopes, all submitted to the controller and
// then drained, against parsing the same envelope texts and serialising the
// same replies with nlohmann/json alone. scheme: a 5 MiB packaged file served
// 200 times through the web handler's resource() against 200 plain reads of
// it; both sides checksum every byte.
//
// Ends with three lines: "messages_per_second: X", "bridge_ratio: X" (target
// at most 3) and "scheme_ratio: X" (target at most 1.3), medians of
// interleaved runs, all on the in-memory desktop inside a temporary directory.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/plumora_controller.h"
#include "bench_support.h"
#include "core/files.h"
#include "core/json.h"
#include "platform/headless/headless_platform.h"

namespace {

using glimmet::bench::median;
using glimmet::bench::seconds;
using namespace glimmet;
namespace fs = std::filesystem;

constexpr int kMessages = 10'000;
constexpr int kMessageRounds = 7;
constexpr std::size_t kAssetBytes = 5 * 1024 * 1024;
constexpr int kServes = 200;
constexpr int kSchemeRounds = 5;
constexpr const char* kPage = "plumora://local/index.html";
constexpr const char* kAssetURL = "plumora://local/asset.bin";

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_bridge: %s\n", what.c_str());
  std::exit(1);
}

// A scratch directory holding the user's directories, removed at exit.
// Touches every byte, eight at a time, so neither side can skip the data.
std::uint64_t checksum(const std::string& bytes) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    sum = (sum ^ word) * 0x100000001b3ULL;
  }
  for (; i < bytes.size(); ++i)
    sum = (sum ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ULL;
  return sum;
}

std::string plainRead(const fs::path& file) {
  const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) die("cannot open " + file.string());
  std::string bytes(kAssetBytes, '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t count = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
    if (count <= 0) die("cannot read " + file.string());
    filled += static_cast<std::size_t>(count);
  }
  ::close(descriptor);
  return bytes;
}

class BridgeBench {
 public:
  BridgeBench() {
    for (const auto& [name, value] :
         {std::pair{"HOME", scratch_ / "home"}, std::pair{"XDG_DATA_HOME", scratch_ / "data"},
          std::pair{"XDG_CONFIG_HOME", scratch_ / "config"}}) {
      setenv(name, value.c_str(), 1);
    }
    fs::create_directories(scratch_ / "web");
    std::ofstream(scratch_ / "web/index.html") << "<!doctype html>";
    writeAsset();

    desktop_.webView.setObserver([this](const std::string& script) {
      ++evaluated_;
      lastScript_ = script;
    });
    ControllerOptions options;
    options.resourceDirectory = scratch_ / "resources";
    options.webDirectory = scratch_ / "web";
    options.temporaryDirectory = scratch_ / "tmp";
    options.printLine = [](const std::string&) {};
    LocalAgentPaths paths;
    paths.dataHome = scratch_ / "data";
    paths.home = scratch_ / "home";
    paths.sharedToolDirectory = scratch_ / "no-tools";
    paths.codexHome = scratch_ / "home/.codex";
    options.agentPaths = paths;
    controller_ = std::make_unique<PlumoraController>(desktop_.platform(), std::move(options));
    controller_->launch();

    for (int id = 1; id <= kMessages; ++id) {
      envelopes_.push_back(json(Json{{"id", id}, {"action", "apiStatus"}, {"value", nullptr}}));
    }
  }

  ~BridgeBench() { controller_->shutdown(); }

  // The controller: every envelope parsed and received, then every reply awaited.
  double controllerMessages() {
    const std::size_t target = evaluated_ + envelopes_.size();
    return seconds([&] {
      for (const std::string& envelope : envelopes_) {
        controller_->receive(kPage, true, Json::parse(envelope));
      }
      while (evaluated_ < target) g_main_context_iteration(nullptr, FALSE);
    });
  }

  // nlohmann/json alone: each envelope parsed, the same reply built and kept.
  double jsonMessages() {
    std::vector<std::string> replies;
    replies.reserve(envelopes_.size());
    return seconds([&] {
      for (const std::string& envelope : envelopes_) {
        const Json body = Json::parse(envelope);
        const Json status = {
            {"baseURL", ""}, {"model", ""}, {"hasKey", false}, {"verified", false}};
        replies.push_back("window.__plumoraResolve(" + std::to_string(body.at("id").get<int>()) +
                          "," + status.dump() + ");");
      }
    });
  }

  double servedAsset(std::uint64_t& sum) {
    return seconds([&] {
      for (int i = 0; i < kServes; ++i)
        sum += checksum(controller_->webHandler().resource(kAssetURL).body);
    });
  }

  double readAsset(std::uint64_t& sum) {
    return seconds([&] {
      for (int i = 0; i < kServes; ++i) sum += checksum(plainRead(scratch_ / "web/asset.bin"));
    });
  }

  void checkReplies() {
    const std::string expected =
        R"(window.__plumoraResolve(10000,{"baseURL":"","hasKey":false,"model":"","verified":false});)";
    if (lastScript_ != expected) {
      die("the controller did not answer the last request as expected");
    }
  }

 private:
  void writeAsset() {
    std::string bytes(kAssetBytes, '\0');
    std::mt19937_64 random(7);
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(scratch_ / "web/asset.bin", std::ios::binary) << bytes;
  }

  TemporaryDirectory scratch_{"bench-bridge"};
  HeadlessPlatform desktop_{scratch_ / "config/defaults.json", scratch_ / "Trash"};
  std::unique_ptr<PlumoraController> controller_;
  std::vector<std::string> envelopes_;
  std::size_t evaluated_ = 0;
  std::string lastScript_;
};

}  // namespace

int main() {
  BridgeBench bench;

  std::vector<double> controllerTimes, jsonTimes;
  bench.controllerMessages();  // warm-up
  bench.jsonMessages();
  for (int round = 0; round < kMessageRounds; ++round) {
    controllerTimes.push_back(bench.controllerMessages());
    jsonTimes.push_back(bench.jsonMessages());
  }
  bench.checkReplies();

  std::uint64_t servedSum = 0, readSum = 0;
  std::vector<double> servedTimes, readTimes;
  bench.readAsset(readSum);  // warm the page cache
  bench.servedAsset(servedSum);
  for (int round = 0; round < kSchemeRounds; ++round) {
    servedTimes.push_back(bench.servedAsset(servedSum));
    readTimes.push_back(bench.readAsset(readSum));
  }
  if (servedSum != readSum) die("the served bytes differ from the file's");

  const double controllerTime = median(controllerTimes);
  std::printf("messages: controller %.3f ms, json alone %.3f ms for %d\n", controllerTime * 1000,
              median(jsonTimes) * 1000, kMessages);
  std::printf("scheme: resource() %.3f ms, plain read %.3f ms for %d x %zu bytes\n",
              median(servedTimes) * 1000, median(readTimes) * 1000, kServes, kAssetBytes);
  std::printf("messages_per_second: %.0f\n", kMessages / controllerTime);
  std::printf("bridge_ratio: %.2f\n", controllerTime / median(jsonTimes));
  std::printf("scheme_ratio: %.2f\n", median(servedTimes) / median(readTimes));
  return 0;
}
