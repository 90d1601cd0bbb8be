#pragma once

// The one entry for page requests that passed the bridge's checks: routes each
// action to the group member the bridge action table names. Every request gets exactly one reply,
// now or when its work completes; the few values of a wrong shape the page never sends ("present",
// "pin", "templateModal", "taskState") get none. Replies of work that completes after the
// dispatcher is gone are dropped.

#include <memory>

#include "bridge/bridge_context.h"
#include "bridge/bridge_message.h"
#include "bridge/cloud_actions.h"
#include "bridge/generation_actions.h"
#include "bridge/panel_actions.h"
#include "bridge/shell_actions.h"
#include "bridge/task_actions.h"
#include "core/lifetime.h"

namespace glimmet {

class BridgeDispatcher {
 public:
  // Everything referenced must outlive the dispatcher.
  BridgeDispatcher(BridgeShell& shell, Platform& platform, BridgeServices services,
                   BridgeFlags flags);
  BridgeDispatcher(const BridgeDispatcher&) = delete;
  BridgeDispatcher& operator=(const BridgeDispatcher&) = delete;

  void dispatch(const BridgeMessage& message);

 private:
  // Deferred replies hold a weak reference to this.
  Lifetime lifetime_;
  BridgeContext context_;
  GenerationActions generation_;
  CloudActions cloud_;
  PanelActions panel_;
  TaskActions tasks_;
  ShellActions shell_;
};

}  // namespace glimmet
