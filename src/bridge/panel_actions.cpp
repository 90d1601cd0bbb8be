#include "bridge/panel_actions.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/text.h"
#include "surfaces/island_host.h"
#include "surfaces/task_feedback.h"

namespace glimmet {

namespace {

constexpr const char* kTrue = "true";

// The surfaces of the page that bring the panel forward.
bool showsPanel(const std::string& surface) {
  return surface == "quick" || surface == "history" || surface == "detail";
}

std::optional<double> finite(const Json& value, const char* key) {
  const auto found = value.find(key);
  if (found == value.end() || !found->is_number()) return std::nullopt;
  const double number = found->get<double>();
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

bool isStringList(const Json& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const Json& item) { return item.is_string(); });
}

// The packaged icon of a provider the menu knows; none for any other name or a missing file.
std::optional<std::filesystem::path> providerIcon(const std::string& name,
                                                  const std::filesystem::path& resources) {
  if (name != "codex" && name != "api" && name != "glimmet") return std::nullopt;
  std::filesystem::path file = resources / ("provider-" + name + ".png");
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  return file;
}

}  // namespace

void PanelActions::present(std::int64_t messageId, const Json& value) {
  if (!value.is_string()) return;
  if (showsPanel(value.get<std::string>())) context_.shell.show();
  context_.reply(messageId, BridgeReply::literal(kTrue));
}

void PanelActions::hide(std::int64_t messageId) {
  context_.shell.hideCreator();
  context_.reply(messageId, BridgeReply::literal(kTrue));
}

void PanelActions::pin(std::int64_t messageId, const Json& value) {
  const auto enabled = value.is_object() ? value.find("enabled") : value.end();
  if (!value.is_object() || enabled == value.end() || !enabled->is_boolean()) return;
  ShellState& state = context_.state();
  state.setPinned(enabled->get<bool>());
  if (!state.overlays.filePanelOpen()) {
    const bool floating = state.pinned() || context_.platform.activity.isActive();
    context_.platform.panel->setLevel(floating ? PanelLevel::floating : PanelLevel::normal);
  }
  // An unpinned panel shrinks to the compact notice while a task runs.
  if (!state.pinned() && context_.services.feedback.policy().phase == "working") {
    context_.shell.presentTaskHUD();
  }
  context_.reply(messageId, BridgeReply::literal(kTrue));
}

void PanelActions::templateModal(std::int64_t messageId, const Json& value) {
  // The bridge script posts `value||null`, so the page's false arrives as null.
  if (!value.is_boolean() && !value.is_null()) return;
  const bool open = value.is_boolean() && value.get<bool>();
  ShellState& state = context_.state();
  state.overlays.setModalOpen(open);
  if (!open) {
    context_.shell.clearLibraryVideo();
    if (state.taskNoticeOwed()) context_.shell.presentTaskHUD();
  }
  context_.reply(messageId, BridgeReply::literal(kTrue));
}

void PanelActions::islandGeometry(std::int64_t messageId, const Json& value) {
  const bool applied = context_.services.islandHost.geometry(value);
  if (applied) context_.shell.flushTaskHUD();
  context_.reply(messageId, BridgeReply::literal(applied ? "true" : "false"));
}

void PanelActions::islandAnchor(std::int64_t messageId) {
  context_.reply(messageId, BridgeReply::literal(json(context_.services.islandHost.anchorX())));
}

void PanelActions::capture(std::int64_t messageId) {
  context_.reply(messageId, BridgeReply::resolve(context_.state().takeCapture()));
}

std::optional<PopUpMenuRequest> PanelActions::menuRequest(const Json& value, WebViewSize size,
                                                          const std::filesystem::path& resources) {
  if (!value.is_object()) return std::nullopt;
  const auto options = value.find("options");
  if (options == value.end() || !isStringList(*options) || options->empty() ||
      options->size() > kMaxMenuOptions) {
    return std::nullopt;
  }
  const std::optional<double> x = finite(value, "x");
  const std::optional<double> y = finite(value, "y");
  if (!x || !y) return std::nullopt;
  const auto icons = value.find("icons");
  if (icons != value.end() && !isStringList(*icons)) return std::nullopt;
  const auto selected = value.find("selected");
  if (selected != value.end() && !selected->is_number_integer()) return std::nullopt;

  PopUpMenuRequest request;
  for (std::size_t index = 0; index < options->size(); ++index) {
    const std::string& title = (*options)[index].get_ref<const std::string&>();
    if (text::graphemeCount(title) > kMaxMenuTitleCharacters) return std::nullopt;
    PopUpMenuItem item{title, std::nullopt};
    if (icons != value.end() && index < icons->size()) {
      item.icon = providerIcon((*icons)[index].get<std::string>(), resources);
    }
    request.items.push_back(std::move(item));
  }
  if (selected != value.end()) {
    const std::int64_t index = selected->get<std::int64_t>();
    if (index >= 0 && static_cast<std::size_t>(index) < request.items.size()) {
      request.checked = static_cast<std::size_t>(index);
    }
  }
  // The web view's coordinates have their origin at the top left, as the page's do.
  request.location = {std::clamp(*x, 0.0, std::max(size.width, 0.0)),
                      std::clamp(*y, 0.0, std::max(size.height, 0.0))};
  return request;
}

void PanelActions::selectMenu(std::int64_t messageId, const Json& value) {
  std::optional<PopUpMenuRequest> request =
      menuRequest(value, context_.platform.webView.size(), context_.flags.resourceDirectory);
  if (!request) return context_.reply(messageId, BridgeReply::fixedRejection(kInvalidMenu));

  ++*openMenus_;
  context_.state().overlays.setMenuOpen(true);
  context_.platform.menu.popUp(*request, [context = context_, openMenus = openMenus_,
                                          messageId](std::optional<std::size_t> chosen) {
    if (context.alive.expired()) return;
    if (--*openMenus == 0) context.state().overlays.setMenuOpen(false);
    if (context.state().taskNoticeOwed()) context.shell.presentTaskHUD();
    context.reply(messageId, chosen ? BridgeReply::literal(std::to_string(*chosen))
                                    : BridgeReply::literal("null"));
  });
}

}  // namespace glimmet
