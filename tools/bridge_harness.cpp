#include "bridge_harness.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "bridge/bridge_message.h"

namespace glimmet {

namespace {

constexpr std::string_view kResolvePrefix = "window.__plumoraResolve(";
constexpr std::string_view kRejectPrefix = "window.__plumoraReject(";

// The request id a reply script settles, if it is one.
std::optional<std::int64_t> settledId(std::string_view script) {
  if (script.starts_with(kResolvePrefix)) {
    script.remove_prefix(kResolvePrefix.size());
  } else if (script.starts_with(kRejectPrefix)) {
    script.remove_prefix(kRejectPrefix.size());
  } else {
    return std::nullopt;
  }
  std::int64_t id = 0;
  const auto [end, error] = std::from_chars(script.data(), script.data() + script.size(), id);
  if (error != std::errc() || end == script.data() + script.size() || *end != ',') {
    return std::nullopt;
  }
  return id;
}

// The longest step of time or pause a line may ask for; far beyond any
// deadline, and small enough for the clock's and the main loop's arithmetic.
constexpr double kLongestMilliseconds = 30.0 * 24 * 3600 * 1000;

// A number of units of `unitMilliseconds` each, as a duration.
Duration durationOf(const Json& value, double unitMilliseconds, const char* key) {
  const double milliseconds = value.is_number() ? value.get<double>() * unitMilliseconds : -1;
  if (!(milliseconds >= 0 && milliseconds <= kLongestMilliseconds)) {
    throw HarnessInputError(std::string("\"") + key + "\" needs a number from 0 to 30 days");
  }
  return Duration(static_cast<Duration::rep>(std::llround(milliseconds)));
}

}  // namespace

// One scheme request: prints its answer as a line and counts itself open until then.
class BridgeHarness::SchemeRequest final : public SchemeTask {
 public:
  SchemeRequest(std::string url, Output output, std::shared_ptr<int> openRequests)
      : url_(std::move(url)), output_(std::move(output)), openRequests_(std::move(openRequests)) {
    ++*openRequests_;
  }

  std::string url() const override { return url_; }

  void respond(SchemeResponse response) override {
    // Ordered, so the line reads in the order the fields are listed.
    nlohmann::ordered_json headers = nlohmann::ordered_json::object();
    for (const auto& [name, value] : response.headers) headers[name] = value;
    finish({{"url", url_},
            {"status", response.status},
            {"headers", std::move(headers)},
            {"bytes", response.body.size()}});
  }

  void fail(const LocalAgentFailure& failure) override {
    finish({{"url", url_}, {"error", failure.message()}});
  }

 private:
  void finish(const nlohmann::ordered_json& answer) {
    output_(answer.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    --*openRequests_;
  }

  const std::string url_;
  const Output output_;
  const std::shared_ptr<int> openRequests_;
};

BridgeHarness::BridgeHarness(const std::filesystem::path& defaultsFile,
                             const std::filesystem::path& trashDirectory, ControllerOptions options,
                             Output output)
    : output_(std::move(output)), desktop_(defaultsFile, trashDirectory) {
  // The harness stands for a user at the desktop: the program is active.
  desktop_.activity.setActive(true);
  desktop_.webView.setObserver([this](const std::string& script) { observe(script); });
  options.printLine = output_;
  controller_ = std::make_unique<PlumoraController>(desktop_.platform(), std::move(options));
}

BridgeHarness::~BridgeHarness() {
  controller_.reset();
  desktop_.webView.setObserver({});
}

void BridgeHarness::observe(const std::string& script) {
  output_(script);
  if (const std::optional<std::int64_t> id = settledId(script)) {
    const auto awaited = awaitedReplies_.find(*id);
    if (awaited != awaitedReplies_.end()) awaitedReplies_.erase(awaited);
  }
}

Duration BridgeHarness::handle(std::string_view line) {
  Json input = parseJson(line);
  if (input.is_discarded() || !input.is_object()) {
    throw HarnessInputError("a line must be one JSON object");
  }
  if (input.contains("frame")) {
    receive(std::move(input));
  } else if (input.contains("url")) {
    requestResource(input["url"]);
  } else if (input.contains("advance")) {
    desktop_.clock.advance(durationOf(input["advance"], 1000, "advance"));
  } else if (input.contains("capture")) {
    controller_->deliver(input["capture"]);
  } else if (input.contains("loaded")) {
    if (input["loaded"] != true) throw HarnessInputError("\"loaded\" takes only true");
    controller_->pageLoaded();
  } else if (input.contains("settle")) {
    return durationOf(input["settle"], 1, "settle");
  } else if (input.contains("menu")) {
    answerMenu(input["menu"]);
  } else {
    throw HarnessInputError("unknown line: " + std::string(line));
  }
  return Duration(0);
}

void BridgeHarness::receive(Json line) {
  const Json& frame = line["frame"];
  if (!frame.is_string() && !frame.is_null()) {
    throw HarnessInputError("\"frame\" takes a URL or null");
  }
  if (!line.contains("main") || !line["main"].is_boolean()) {
    throw HarnessInputError("\"main\" takes true or false");
  }
  const std::optional<std::string_view> frameURL =
      frame.is_string() ? std::optional<std::string_view>(frame.get_ref<const std::string&>())
                        : std::nullopt;
  const bool mainFrame = line["main"].get<bool>();
  Json body = line.contains("body") ? std::move(line["body"]) : Json();
  // Counted before dispatch, because a reply may be evaluated during it.
  if (const std::optional<std::int64_t> id = acceptedId(frameURL, mainFrame, body)) {
    awaitedReplies_.insert(*id);
  }
  controller_->receive(frameURL, mainFrame, std::move(body));
}

void BridgeHarness::requestResource(const Json& url) {
  if (!url.is_string()) throw HarnessInputError("\"url\" takes a URL");
  controller_->webHandler().start(
      std::make_shared<SchemeRequest>(url.get<std::string>(), output_, openSchemeRequests_));
}

void BridgeHarness::answerMenu(const Json& choice) {
  if (!choice.is_null() && !choice.is_number_unsigned()) {
    throw HarnessInputError("\"menu\" takes an item index or null");
  }
  const std::optional<PopUpMenuRequest> open = desktop_.menu.open();
  if (!open) throw HarnessInputError("no pop-up menu is open");
  if (choice.is_null()) {
    desktop_.menu.dismiss();
  } else if (choice.get<std::size_t>() < open->items.size()) {
    desktop_.menu.choose(choice.get<std::size_t>());
  } else {
    throw HarnessInputError("the open menu has " + std::to_string(open->items.size()) + " items");
  }
}

void BridgeHarness::closePrompts() {
  desktop_.menu.dismiss();
  while (desktop_.filePanels.cancel()) {
  }
}

}  // namespace glimmet
