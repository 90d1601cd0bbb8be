#pragma once

// The headless bridge harness: the real controller and services on the
// in-memory desktop with the manual clock, driven one JSON line at a time.
//
// Input lines (one JSON object each):
//   {"frame": URL|null, "main": BOOL, "body": ANY}  a message as the web view delivers it
//   {"url": URL}                a scheme request, answered with one output line
//   {"advance": SECONDS}        moves the test clock forward, running what falls due
//   {"capture": PAYLOAD}        hands a capture payload to the page
//   {"loaded": true}            the page finished loading
//   {"settle": MILLISECONDS}    keeps the main loop running that long before the next line
//   {"menu": INDEX|null}        picks item INDEX of the open pop-up menu, or closes it
//
// Output lines: every script evaluated in the page, as evaluated, in order;
// each scheme answer as {"url", "status", "headers", "bytes"} or {"url", "error"};
// the diagnostic lines the program prints.
//
// When the input ends, a menu still open is closed and file panels still
// waiting are cancelled, as a user walking away would, so every accepted
// request gets its answer; the program then waits for the answers owed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/plumora_controller.h"
#include "core/clock.h"
#include "platform/headless/headless_platform.h"

namespace glimmet {

// A line the harness cannot act on; the message says why.
class HarnessInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class BridgeHarness {
 public:
  // Writes one output line (given without its line feed) and flushes it.
  using Output = std::function<void(const std::string&)>;

  // The user defaults live in `defaultsFile` and trashed items go to
  // `trashDirectory`; `options.printLine` is replaced by `output`.
  BridgeHarness(const std::filesystem::path& defaultsFile,
                const std::filesystem::path& trashDirectory, ControllerOptions options,
                Output output);
  ~BridgeHarness();
  BridgeHarness(const BridgeHarness&) = delete;
  BridgeHarness& operator=(const BridgeHarness&) = delete;

  void launch() { controller_->launch(); }
  std::string bridgeScript() const { return controller_->bridgeScript(); }

  // Acts on one input line and answers how long the main loop should run
  // before the next one (zero but for "settle"). Throws HarnessInputError for
  // a line that is not one of the forms above; nothing has happened then.
  Duration handle(std::string_view line);

  // True while an accepted message or a scheme request has not been answered.
  bool awaitingAnswers() const { return !awaitedReplies_.empty() || *openSchemeRequests_ > 0; }
  // The input ended: closes the pop-up menu and the file panels still open,
  // as a user walking away would, so the requests waiting on them are answered.
  void closePrompts();
  // Stops every service; later lines are ignored by the controller.
  void shutdown() { controller_->shutdown(); }

 private:
  class SchemeRequest;

  void observe(const std::string& script);
  void receive(Json line);
  void requestResource(const Json& url);
  void answerMenu(const Json& choice);

  Output output_;
  HeadlessPlatform desktop_;
  std::unique_ptr<PlumoraController> controller_;
  // Ids of accepted messages not yet settled; the page may reuse an id.
  std::multiset<std::int64_t> awaitedReplies_;
  // Shared with the scheme tasks, which may finish after the harness is gone.
  std::shared_ptr<int> openSchemeRequests_ = std::make_shared<int>(0);
};

}  // namespace glimmet
