#pragma once

// The page's actions on the creation panel around it: showing and hiding it,
// pinning it open, the island's rectangle and anchor, page modals, the native
// pop-up menu, and the capture payload waiting for the page.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "bridge/bridge_context.h"
#include "platform/popup_menu.h"

namespace glimmet {

class PanelActions {
 public:
  static constexpr const char* kInvalidMenu = "菜单参数无效";
  static constexpr std::size_t kMaxMenuOptions = 100;
  static constexpr std::size_t kMaxMenuTitleCharacters = 200;

  explicit PanelActions(const BridgeContext& context) : context_(context) {}

  void present(std::int64_t messageId, const Json& value);
  void hide(std::int64_t messageId);
  void pin(std::int64_t messageId, const Json& value);
  void templateModal(std::int64_t messageId, const Json& value);
  void islandGeometry(std::int64_t messageId, const Json& value);
  void islandAnchor(std::int64_t messageId);
  void capture(std::int64_t messageId);
  void selectMenu(std::int64_t messageId, const Json& value);

  // The pop-up menu a "selectMenu" value describes, its point clamped to a web
  // view of `size`; none when the value is invalid.
  static std::optional<PopUpMenuRequest> menuRequest(const Json& value, WebViewSize size,
                                                     const std::filesystem::path& resources);

 private:
  BridgeContext context_;
  // Menus opened and not yet answered; a new pop-up dismisses an open one, so
  // the island's menu flag stays set until the last one has answered.
  std::shared_ptr<int> openMenus_ = std::make_shared<int>(0);
};

}  // namespace glimmet
