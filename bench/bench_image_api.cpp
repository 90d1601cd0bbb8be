// Measures one image service generation at the largest answer the client
// accepts: a photo-like PNG just under 10 MiB sent as "b64_json" (about
// 13.4 MiB of JSON) by a loopback HTTPS service. The client's time from
// generate() to the result dictionary is compared with a baseline measured in
// the same run: the same answer fetched through the HTTP layer alone, then a
// JSON parse, a Base64 decode and the image gate. The service runs in a child
// process so its own copies of the answer do not count as the client's memory.
//
// Ends with two lines: "generation_ratio: X" (median client time over median
// baseline time; target at most 1.2) and "peak_rss_ratio: X" (peak resident
// growth during one generation over the response size; target at most 4).

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bench_support.h"
#include "core/clock.h"
#include "core/defaults_store.h"
#include "core/http/http_transfer.h"
#include "imageapi/custom_image_api.h"
#include "imaging/image_gate.h"
#include "platform/headless/memory_secret_store.h"
#include "support/https/test_https_service.h"

namespace {

using namespace glimmet;
using bench::median;
using bench::seconds;
using bench::statusKiB;

constexpr int kRounds = 5;
constexpr const char* kHost = "api.example.com";

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_image_api: %s\n", what.c_str());
  std::exit(1);
}

// A photo-like PNG between 9.5 MiB and the gate's 10 MiB limit.
Bytes largestPNG() {
  const double target = 9.75 * (1 << 20);
  int side = 2048;
  for (int attempt = 0; attempt < 6; ++attempt) {
    const bench::Image photo = bench::photoLike(side, side);
    Bytes png = bench::encode(photo.get(), ".png[compression=6]");
    if (png.size() <= image_gate::kMaxEncodedBytes && png.size() >= 9.5 * (1 << 20)) return png;
    side = static_cast<int>(side * std::sqrt(target / static_cast<double>(png.size())));
  }
  die("could not size the benchmark PNG");
}

struct Service {
  pid_t pid = -1;
  int port = 0;
  std::string caFile;
  int release = -1;  // closing it lets the service stop
};

// Starts the loopback service in a child process, before this process starts
// any thread.
Service serve(const std::string& answer) {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) die("pipe");
  const pid_t pid = fork();
  if (pid < 0) die("fork");
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);
    {
      glimmet::testing::TestHttpsService service({kHost});
      service.route("POST", "/v1/images/generations", glimmet::testing::Reply::with(200, answer));
      const std::string line =
          std::to_string(service.port()) + "\n" + service.caFile().string() + "\n";
      if (write(ready[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(1);
      close(ready[1]);
      char byte = 0;
      while (read(release[0], &byte, 1) > 0) {
      }
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(ready[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(ready[0]);
  const auto newline = text.find('\n');
  if (newline == std::string::npos) die("the service did not start");
  return Service{pid, std::stoi(text.substr(0, newline)),
                 text.substr(newline + 1, text.size() - newline - 2), release[1]};
}

void spinUntil(const bool& done) {
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

}  // namespace

int main(int, char** argv) {
  // The answer is made before anything starts a thread, so the child can be forked.
  const Bytes png = largestPNG();
  const std::string answer =
      R"({"created":1,"data":[{"b64_json":")" + base64Encode(png) + R"("}]})";
  Service service = serve(answer);
  if (VIPS_INIT(argv[0]) != 0) die("cannot start libvips");

  HttpSessionConfiguration session;
  session.trustedCAFile = service.caFile;
  session.connectTo = {std::string(kHost) + ":443:127.0.0.1:" + std::to_string(service.port)};

  glimmet::testing::TempDir dir;
  DefaultsStore defaults(dir / "defaults.json");
  MemorySecretStore secrets;
  MainLoopClock clock;
  CustomImageAPI api(defaults, secrets, clock, session);
  api.configure(Json{{"baseURL", std::string("https://") + kHost + "/v1"},
                     {"model", "gpt-image-1"},
                     {"key", "sk-bench"}});
  const Json input = {{"kind", "image"}, {"prompt", "a harbour at dusk"}, {"ratio", "1:1"}};

  const auto generation = [&] {
    bool done = false;
    api.generate(input, [&](Result<Json> result) {
      if (!result) die("generation failed: " + result.failure().message());
      done = true;
    });
    spinUntil(done);
  };

  HttpRequest request =
      CustomImageAPI::request(*URL::parse(std::string("https://") + kHost + "/v1"), "gpt-image-1",
                              "sk-bench", "a harbour at dusk", "1:1", std::nullopt);
  const auto baseline = [&] {
    bool done = false;
    Bytes body;
    const auto transfer = HttpTransfer::start(
        request, std::size_t{20} << 20, session, MainQueue::shared(), [&](HttpOutcome outcome) {
          auto* response = std::get_if<HttpResponse>(&outcome);
          if (!response) die("baseline fetch failed");
          body = std::move(response->body);
          done = true;
        });
    spinUntil(done);
    Json parsed = Json::parse(body.begin(), body.end());
    const auto bytes = base64Decode(parsed["data"][0]["b64_json"].get_ref<const std::string&>(),
                                    image_gate::kMaxEncodedBytes);
    if (!bytes) die("baseline Base64 failed");
    image_gate::decodeBytes(*bytes);
  };

  generation();  // warm up connections, libvips and the queues
  baseline();
  std::vector<double> clientTimes, baselineTimes;
  for (int round = 0; round < kRounds; ++round) {
    const auto timeClient = [&] { clientTimes.push_back(seconds(generation)); };
    const auto timeBaseline = [&] { baselineTimes.push_back(seconds(baseline)); };
    if (round % 2 == 0) {
      timeClient();
      timeBaseline();
    } else {
      timeBaseline();
      timeClient();
    }
  }

  std::vector<double> growth;
  for (int round = 0; round < 3; ++round) {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKiB("VmRSS:");
    generation();
    growth.push_back((statusKiB("VmHWM:") - before) * 1024.0);
  }

  close(service.release);
  waitpid(service.pid, nullptr, 0);

  const double clientMedian = median(clientTimes), baselineMedian = median(baselineTimes);
  std::printf(
      "answer %zu bytes (PNG %zu bytes): generation %.1f ms, baseline %.1f ms, "
      "peak growth %.1f MiB\n",
      answer.size(), png.size(), clientMedian * 1e3, baselineMedian * 1e3,
      median(growth) / (1 << 20));
  std::printf("generation_ratio: %.3f\n", clientMedian / baselineMedian);
  std::printf("peak_rss_ratio: %.3f\n", median(growth) / static_cast<double>(answer.size()));
  return 0;
}
