#include "bridge/bridge_dispatcher.h"

#include <utility>

#include "bridge/bridge_actions.h"

namespace glimmet {

BridgeDispatcher::BridgeDispatcher(BridgeShell& shell, Platform& platform, BridgeServices services,
                                   BridgeFlags flags)
    : context_{shell, platform, services, std::move(flags), lifetime_.guard()},
      generation_(context_),
      cloud_(context_),
      panel_(context_),
      tasks_(context_),
      shell_(context_) {}

void BridgeDispatcher::dispatch(const BridgeMessage& message) {
  const BridgeAction* action = findBridgeAction(message.action);
  if (!action) return;
  action->handle(BridgeGroups{tasks_, shell_, panel_, generation_, cloud_,
                              context_.services.history, context_.services.media},
                 message);
}

}  // namespace glimmet
