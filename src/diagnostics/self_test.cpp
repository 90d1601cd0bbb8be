#include "diagnostics/self_test.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "agents/codex_release.h"
#include "agents/install_transaction.h"
#include "agents/local_agent_manager.h"
#include "app/plumora_appearance.h"
#include "bridge/bridge_message.h"
#include "cloud/cloud_constants.h"
#include "core/defaults_store.h"
#include "core/executors.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/uuid.h"
#include "history/plumora_history.h"
#include "imageapi/custom_image_api.h"
#include "imaging/image_gate.h"
#include "platform/editing_shortcuts.h"
#include "platform/headless/headless_alerts.h"
#include "platform/headless/headless_input.h"
#include "platform/headless/headless_island.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_status_button.h"
#include "platform/headless/headless_workspace.h"
#include "surfaces/global_shortcuts.h"
#include "surfaces/island_host.h"
#include "surfaces/radial_menu.h"
#include "surfaces/task_feedback.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassLine =
    "PASS: native origin isolation, shortcuts, custom API contracts and transport, cancellation, "
    "history, local image validation and installer rollback. Legacy helper checks also passed.";

// A 2 by 2 PNG with four coloured pixels.
constexpr const char* kSamplePNG =
    "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFElEQVR4nGP4z8DAAMIM////"
    "ZwAAHu8E/KPItPcAAAAASUVORK5CYII=";

// True when `work` throws a LocalAgentFailure with exactly `message`.
bool refuses(const std::function<void()>& work, const std::string& message) {
  try {
    work();
  } catch (const LocalAgentFailure& failure) {
    return failure.message() == message;
  }
  return false;
}

bool appliesTheme(DesktopAppearance& appearance, DefaultsStore& defaults, const char* choice,
                  const std::string& theme) {
  const Json result = PlumoraAppearance::apply(std::string(choice), false, appearance, defaults);
  return result == Json{{"preference", choice}, {"theme", theme}};
}

std::string systemTheme(const DesktopAppearance& appearance) {
  return appearance.systemScheme() == ColorScheme::dark ? "dark" : "light";
}

// A template request reaches the readiness check: its shape is accepted and
// only the missing Codex login refuses it.
bool templateMetadataAccepted(const fs::path& scratch) {
  DefaultsStore defaults(scratch / "agents.json");
  LocalAgentPaths paths;
  paths.dataHome = scratch / "data";
  paths.home = scratch / "home";
  paths.codexHome = scratch / "home" / ".codex";
  LocalAgentManager agents(defaults, paths);
  std::optional<std::string> message;
  agents.generate(
      Json{{"kind", "image"},
           {"mode", "template"},
           {"text", "雨天的城市"},
           {"ratio", "1:1"},
           {"style", "ink"},
           {"styleName", "水墨"},
           {"stylePrompt", "ink wash painting"},
           {"prompt", "雨天的城市，水墨风格"}},
      [](Json) {},
      [&](Result<Json> result) { message = result ? std::string() : result.failure().message(); });
  while (!message) g_main_context_iteration(nullptr, TRUE);
  return *message ==
         "请先刷新本机 Agent，并完成 Codex 登录。需要支持 image_generation 的稳定版本。";
}

// Each task ends once: a repeated end report changes nothing and rings no
// chime, and the late end of an earlier task is refused while another runs.
bool taskDeduplication() {
  const std::string first = Uuid::random().string();
  const std::string second = Uuid::random().string();
  PlumoraTaskFeedbackState state;
  const bool firstEnds = state.apply("working", first).accepted &&
                         state.apply("done", first) == TaskTransition{true, true, true};
  const bool repeatIsQuiet = state.apply("done", first) == TaskTransition{true, false, false};
  const bool secondRuns = state.apply("working", second).accepted;
  const bool lateIsRefused = state.apply("done", first) == TaskTransition{} &&
                             state.apply("working", first) == TaskTransition{};
  return firstEnds && repeatIsQuiet && secondRuns && lateIsRefused && state.phase == "working" &&
         state.taskID == second;
}

// The six standard shortcuts ask for their commands, which the focused field
// runs; a shortcut with another modifier, or a letter without Ctrl, stays the
// focused field's own key.
bool editingShortcuts() {
  constexpr std::uint32_t ctrl = KeyCombination::kCommand;
  constexpr std::uint32_t shift = KeyCombination::kShift;
  const std::vector<std::tuple<char32_t, std::uint32_t, std::optional<EditingCommand>>> cases = {
      {U'z', ctrl, EditingCommand::undo},
      {U'Z', ctrl | shift, EditingCommand::redo},
      {U'x', ctrl, EditingCommand::cut},
      {U'c', ctrl, EditingCommand::copy},
      {U'v', ctrl, EditingCommand::paste},
      {U'a', ctrl, EditingCommand::selectAll},
      {U'c', ctrl | KeyCombination::kOption, std::nullopt},
      {U'v', ctrl | KeyCombination::kControl, std::nullopt},
      {U'a', 0, std::nullopt},
      {U'p', ctrl, std::nullopt},
  };
  return std::all_of(cases.begin(), cases.end(), [](const auto& entry) {
    const auto& [letter, modifiers, command] = entry;
    return editingCommandFor(letter, modifiers) == command;
  });
}

bool customAPIContract() {
  if (!refuses([] { CustomImageAPI::baseURL("http://api.example.com/v1"); },
               "请输入 HTTPS Base URL，不含密钥、查询参数或账号密码")) {
    return false;
  }
  const HttpRequest request =
      CustomImageAPI::request(CustomImageAPI::baseURL("https://api.example.com/v1"), "gpt-image-1",
                              "sk-self-test", "海边的灯塔", "16:9", std::nullopt);
  const Json body = Json::parse(request.body.begin(), request.body.end(), nullptr, false);
  return request.method == "POST" &&
         request.url == "https://api.example.com/v1/images/generations" &&
         body.value("size", "") == "1536x1024" && body.value("n", 0) == 1 &&
         std::find(request.headers.begin(), request.headers.end(),
                   std::pair<std::string, std::string>("Authorization", "Bearer sk-self-test")) !=
             request.headers.end();
}

// Recording Ctrl+Shift+V gives the stored form of the second shortcut.
bool voiceModifierRecording() {
  ShortcutRecorder recorder(Shortcut::creationDefault());
  recorder.record();
  const KeyStroke press{Shortcut::kKeyV, KeyCombination::kCommand | KeyCombination::kShift, "V"};
  return recorder.handle(press) && !recorder.isRecording() &&
         recorder.shortcut().modifiers == 768 && recorder.shortcut().title == "⇧⌘V";
}

// A recorded shortcut is saved in its persisted form and read back the same;
// a combination another client holds is refused and the old one stays.
bool shortcutTitleRecording(const fs::path& scratch) {
  DefaultsStore defaults(scratch / "shortcuts.json");
  HeadlessHotKeys hotKeys;
  HeadlessAlerts alerts;
  HeadlessWorkspace workspace;
  HeadlessSettingsWindow window;
  HeadlessAccessibility accessibility;
  HeadlessAutostart autostart;
  GlobalShortcuts shortcuts(
      {hotKeys, defaults, alerts, workspace, window, accessibility, autostart}, [] {});
  shortcuts.install();
  shortcuts.openSettings();
  const KeyCombination taken{44, KeyCombination::kCommand};
  hotKeys.holdElsewhere(taken);
  window.events()->recorderClicked();
  window.events()->keyPressed({taken.code, taken.modifiers, "j"});
  window.events()->saveClicked("", false, false);
  const bool keptOld = alerts.presented().size() == 1 &&
                       hotKeys.isRegistered(Shortcut::creationDefault().combination());
  window.events()->recorderClicked();
  window.events()->keyPressed({45, 0x1B00, "k"});
  window.events()->saveClicked("", false, false);
  const Json expected{{"code", 45}, {"modifiers", 6912}, {"title", "⌃⌥⇧⌘K"}};
  return keptOld && defaults.value(GlobalShortcuts::kNormalKey) == expected &&
         Shortcut::load(defaults, GlobalShortcuts::kNormalKey, false).dictionary() == expected &&
         hotKeys.registeredCount() == 1;
}

bool bareKeyRejected() {
  return !Shortcut::from({Shortcut::kKeyP, 0, "p"}) &&
         !Shortcut::from({Shortcut::kKeyP, KeyCombination::kShift, "P"});
}

// What a radial menu for `payload` shows and hands back once `input` acted in
// its window as the user.
struct RadialOutcome {
  RadialFace face;
  std::optional<std::string> mode;
  bool shown = false;
};

RadialOutcome actInRadial(Json payload, const std::function<void(RadialWindowEvents&)>& input) {
  HeadlessRadialWindow window;
  HeadlessScreenLayout screens(
      std::vector<HeadlessScreenLayout::Monitor>{{{0, 0, 1280, 800}, {0, 0, 1280, 800}}});
  RadialOutcome outcome;
  {
    RadialPresenter presenter(window, screens);
    presenter.present(std::move(payload), {640, 400},
                      [&](Json chosen) { outcome.mode = chosen.value("mode", ""); });
    outcome.face = window.face();
    if (window.events()) input(*window.events());
    outcome.shown = window.isVisible();
  }
  // Lets the closed menu go.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  return outcome;
}

// The point 106 from the centre in the middle of `sector`.
Point sectorMiddle(int sector) {
  const double angle = (sector * 120 - 90) * std::numbers::pi / 180;
  return {RadialMenu::kCentre.x + 106 * std::cos(angle),
          RadialMenu::kCentre.y + 106 * std::sin(angle)};
}

// Text: its titles and summary, and a click in each sector opens its mode.
bool textRadialActions() {
  const std::vector<std::string> modes = {"direct", "template", "reference"};
  for (int sector = 0; sector < 3; ++sector) {
    const RadialOutcome outcome = actInRadial(
        {{"text", "雨天的城市，一杯热咖啡"}, {"voice", false}},
        [&](RadialWindowEvents& events) { events.pointerPressed(sectorMiddle(sector)); });
    if (outcome.face.titles != std::array<std::string, 3>{"直接生图", "套用模板", "参考图片"} ||
        outcome.face.summary != "雨天的城市，一杯热咖" || !outcome.face.preview.empty() ||
        outcome.mode != modes[static_cast<std::size_t>(sector)] || outcome.shown) {
      return false;
    }
  }
  return actInRadial({{"text", ""}}, [](RadialWindowEvents&) {}).face.summary == "添加素材";
}

// An image: its titles, summary and preview, and the arrows and Return open
// each mode.
bool imageRadialActions() {
  const std::vector<std::string> modes = {"edit", "direct", "reference"};
  for (int sector = 0; sector < 3; ++sector) {
    const RadialOutcome outcome =
        actInRadial({{"text", ""}, {"image", kSamplePNG}}, [&](RadialWindowEvents& events) {
          for (int step = 0; step < sector; ++step) events.keyPressed(RadialKey::right, "");
          events.keyPressed(RadialKey::enter, "");
        });
    if (outcome.face.titles != std::array<std::string, 3>{"局部修改", "整体改图", "作为参考"} ||
        outcome.face.summary != "选中图片" || outcome.face.preview.empty() ||
        outcome.mode != modes[static_cast<std::size_t>(sector)]) {
      return false;
    }
  }
  return true;
}

bool radialNumberKeyboardAction() {
  const RadialOutcome ignored = actInRadial({{"text", "雨天"}}, [](RadialWindowEvents& events) {
    events.keyPressed(RadialKey::other, "0");
    events.keyPressed(RadialKey::other, "4");
  });
  const RadialOutcome third = actInRadial({{"text", "雨天"}}, [](RadialWindowEvents& events) {
    events.keyPressed(RadialKey::other, "3");
  });
  return !ignored.mode && ignored.shown && third.mode == "reference" && !third.shown;
}

bool radialEscapeDismissal() {
  const RadialOutcome outcome = actInRadial({{"text", "雨天"}}, [](RadialWindowEvents& events) {
    events.keyPressed(RadialKey::escape, "");
  });
  return !outcome.mode && !outcome.shown;
}

bool historyPersistsMedia(const fs::path& scratch) {
  const PlumoraHistory store(scratch / "history");
  const Json entry = store.save({{"image", kSamplePNG}, {"prompt", "自检"}});
  const std::string id = entry.value("id", "");
  const auto image = image_gate::decodeImage(store.image(id));
  return image.width == 2 && image.height == 2 &&
         refuses([&] { store.directory("../outside"); }, "作品编号无效");
}

// The panel hangs under a status item on a second monitor, inside that
// monitor's work area.
bool secondaryScreenGeometry() {
  ManualClock clock;
  HeadlessPointerSource pointer;
  HeadlessScreenLayout screens(
      {{{0, 0, 1920, 1080}, {0, 32, 1920, 1048}}, {{1920, 0, 2560, 1440}, {1920, 28, 2560, 1412}}});
  PlumoraIslandHost host(clock, pointer, screens, [](std::string) {});
  const auto panel = std::make_shared<HeadlessIslandPanel>(Rect{0, 0, 748, 740});
  host.attach(panel);
  HeadlessStatusButton button;
  button.setFrame(Rect{4200, 2, 24, 24});
  host.position(&button);
  const Rect frame = panel->frame();
  const bool placed = frame.minX() >= 1920 && frame.maxX() <= 1920 + 2560 && frame.minY() >= 28;
  host.stop();
  return placed;
}

bool agentFeatureValidation() {
  return LocalAgentManager::imageFeatureSupported(
             "apply_patch  stable  true\n"
             "image_generation  stable  true\n") &&
         !LocalAgentManager::imageFeatureSupported("image_generation  experimental  true\n") &&
         LocalAgentManager::threadID(
             R"({"type":"thread.started","thread_id":"0199a213-81c0-7800-8aa1-bbab2a035a53"})"
             "\n") == "0199a213-81c0-7800-8aa1-bbab2a035a53" &&
         !LocalAgentManager::threadID("{\"type\":\"thread.started\",\"thread_id\":\"../x\"}\n");
}

// A real PNG decodes with its size; an image reached through a symbolic link
// is never taken as this run's result.
bool rasterAndSymlinkIsolation(const fs::path& scratch) {
  const auto decoded = image_gate::decodeImage(kSamplePNG);
  if (decoded.width != 2 || decoded.height != 2) return false;
  const fs::path task = scratch / "task";
  const fs::path outside = scratch / "outside.png";
  createPrivateDirectories(task / "generated_images");
  writeFileAtomically(outside, std::string(decoded.data.begin(), decoded.data.end()), 0600);
  fs::create_symlink(outside, task / "generated_images" / "result.png");
  try {
    return !LocalAgentManager::ownTaskImage(task, fs::file_time_type::min()).has_value();
  } catch (const LocalAgentFailure&) {
    return true;
  }
}

// A publish that fails half-way is rolled back to the previous files, and the
// journal an interrupted installation left is undone by the next one.
bool installerRollback(const fs::path& scratch) {
  const fs::path managed = scratch / "agents" / "codex";
  const fs::path journal = scratch / "agents" / "journal.json";
  const fs::path staged = scratch / "staged";
  createPrivateDirectories(managed);
  createPrivateDirectories(staged);
  writeFileAtomically(managed / "codex", "previous CLI", 0755);
  createPrivateDirectories(managed / "codex-code-mode-host");  // a target never replaced
  const auto untouched = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(managed)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names == std::vector<std::string>{"codex", "codex-code-mode-host"} &&
           readFileBounded(managed / "codex", 64, "") == "previous CLI" && !fs::exists(journal);
  };

  InstallTransaction failed(managed, journal);
  writeFileAtomically(staged / "codex", "new CLI", 0700);
  writeFileAtomically(staged / "runtime", "new runtime", 0700);
  failed.publish(staged / "codex", "codex");
  if (!refuses([&] { failed.publish(staged / "runtime", "codex-code-mode-host"); },
               installer_messages::kTargetNotRegular) ||
      !failed.rollback() || !untouched()) {
    return false;
  }

  {  // a run that stops after its first publish, as a killed process would
    InstallTransaction interrupted(managed, journal);
    writeFileAtomically(staged / "codex", "new CLI", 0700);
    interrupted.publish(staged / "codex", "codex");
  }
  if (readFileBounded(managed / "codex", 64, "") != "new CLI") return false;
  InstallTransaction::recoverStale(managed, journal);
  return untouched();
}

}  // namespace

int runSelfTest(DesktopAppearance& appearance, const std::function<bool()>& chimeDecodes,
                std::ostream& out, std::ostream& failures) {
  try {
    const TemporaryDirectory scratch("glimmet-self-test");
    const fs::path& dir = scratch.path();
    DefaultsStore defaults(dir / "defaults.json");
    defaults.set(PlumoraAppearance::key, "Dark");
    // In the order they run.
    const std::vector<std::pair<const char*, std::function<bool()>>> checks = {
        {"appearance rejects unknown stored values",
         [&] { return PlumoraAppearance::saved(defaults) == "system"; }},
        {"native light appearance",
         [&] { return appliesTheme(appearance, defaults, "light", "light"); }},
        {"native dark appearance",
         [&] { return appliesTheme(appearance, defaults, "dark", "dark"); }},
        {"native system appearance removes override",
         [&] { return appliesTheme(appearance, defaults, "system", systemTheme(appearance)); }},
        {"template metadata accepted before Agent readiness check",
         [&] { return templateMetadataAccepted(dir); }},
        {"bundled origin allowed", [] { return trusted("plumora://local/index.html"); }},
        {"configured website cannot access CLI bridge",
         [] { return !trusted(std::string(cloud::kWebsiteOrigin) + "/desktop"); }},
        {"file pages cannot access CLI bridge", [] { return !trusted("file:///tmp/index.html"); }},
        {"foreign origin blocked", [] { return !trusted("https://example.com/index.html"); }},
        {"foreign port blocked", [] { return !trusted("plumora://local:8080/index.html"); }},
        {"voice modifier recording", voiceModifierRecording},
        {"shortcut title recording", [&] { return shortcutTitleRecording(dir); }},
        {"bare key rejected", bareKeyRejected},
        {"text radial actions", textRadialActions},
        {"image radial actions", imageRadialActions},
        {"radial number keyboard action", radialNumberKeyboardAction},
        {"radial Escape dismissal", radialEscapeDismissal},
        {"notification task deduplication and late result rejection", taskDeduplication},
        {"standard editing shortcuts use the focused responder chain", editingShortcuts},
        {"bundled completion chime decodes", chimeDecodes},
        {"custom API HTTPS and image request contract", customAPIContract},
        {"history persists media and rejects path traversal",
         [&] { return historyPersistsMedia(dir); }},
        {"history spring reversal and secondary-screen geometry", secondaryScreenGeometry},
        {"local agent feature and output validation", agentFeatureValidation},
        {"real raster output and symlink isolation",
         [&] { return rasterAndSymlinkIsolation(dir); }},
        {"installer rollback and stale attempt rejection", [&] { return installerRollback(dir); }},
    };
    for (const auto& [label, check] : checks) {
      if (!check()) {
        failures << "FAIL: " << label << "\n";
        return 1;
      }
    }
  } catch (const LocalAgentFailure& failure) {
    failures << "FAIL: " << failure.message() << "\n";
    return 1;
  }
  out << kPassLine << "\n";
  return 0;
}

}  // namespace glimmet
