#pragma once

// The one list of bridge actions: each action's wire name with the group
// member that answers it, and whether that member takes the posted value. The
// allow-list and the dispatcher both read it; a test checks the injected
// script's members against it.

#include <span>
#include <string_view>
#include <tuple>

namespace glimmet {

class CloudActions;
class GenerationActions;
class HistoryActions;
class MediaActions;
class PanelActions;
class ShellActions;
class TaskActions;
struct BridgeMessage;

// The action groups a dispatcher routes to.
using BridgeGroups = std::tuple<TaskActions&, ShellActions&, PanelActions&, GenerationActions&,
                                CloudActions&, HistoryActions&, MediaActions&>;

struct BridgeAction {
  std::string_view name;
  void (*handle)(const BridgeGroups& groups, const BridgeMessage& message);
};

// Every action the page may post, in the order the page contract lists them.
std::span<const BridgeAction> bridgeActions();

// The table's entry for `name`; none for an action the page may not post.
const BridgeAction* findBridgeAction(std::string_view name);

inline bool isBridgeAction(std::string_view name) { return findBridgeAction(name) != nullptr; }

}  // namespace glimmet
