// One message body as the page posts it, through the controller's receive
// path on the in-memory desktop: the bridge's checks and every action's value
// checks. The user's directories are a private temporary directory, no local
// agent is installed, and every HTTP exchange goes to a proxy that refuses,
// so no input reaches the network or starts a process.
#include <glib.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/plumora_controller.h"
#include "core/executors.h"
#include "platform/headless/headless_platform.h"
#include "scratch.h"

namespace {

namespace fs = std::filesystem;

fs::path privateDirectory() {
  const fs::path root = glimmet::fuzz::scratchPath("controller");
  fs::remove_all(root);
  fs::create_directories(root / "home");
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
  for (const char* proxy : {"http_proxy", "https_proxy", "all_proxy"}) {
    setenv(proxy, "http://127.0.0.1:9", 1);
  }
  unsetenv("no_proxy");
  return root;
}

struct Desktop {
  // The desktop's worker threads post replies to the main queue until the
  // desktop ends. Both live in statics, which end in the reverse order of
  // their construction: creating the queue first keeps it alive until then.
  glimmet::MainQueue& mainQueue = glimmet::MainQueue::shared();
  const fs::path root = privateDirectory();
  glimmet::HeadlessPlatform desktop{root / "defaults.json", root / "Trash"};
  std::unique_ptr<glimmet::PlumoraController> controller;

  Desktop() {
    desktop.activity.setActive(true);
    glimmet::ControllerOptions options;
    options.resourceDirectory = root / "resources";
    options.temporaryDirectory = root;
    options.origin = glimmet::URL::parse("https://127.0.0.1:9");
    options.printLine = [](const std::string&) {};
    glimmet::LocalAgentPaths paths;
    paths.dataHome = root / "home/.local/share";
    paths.home = root / "home";
    paths.sharedToolDirectory = root / "no-tools";
    paths.codexHome = root / "home/.codex";
    options.agentPaths = paths;
    controller =
        std::make_unique<glimmet::PlumoraController>(desktop.platform(), std::move(options));
    controller->launch();
  }
  ~Desktop() {
    controller->shutdown();
    controller.reset();
    fs::remove_all(root);
  }

  // Runs what the message queued for the main thread, answers the prompts it
  // opened as a user walking away would, and forgets the scripts it evaluated.
  void settle() {
    for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    desktop.menu.dismiss();
    while (desktop.filePanels.cancel()) {
    }
    desktop.webView.takeScripts();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Desktop desktop;
  glimmet::Json body =
      glimmet::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (body.is_discarded()) return 0;
  desktop.controller->receive(glimmet::PlumoraController::kPageURL, true, std::move(body));
  desktop.settle();
  return 0;
}
