#include "bridge/bridge_actions.h"

#include <algorithm>
#include <array>

#include "bridge/bridge_message.h"
#include "bridge/cloud_actions.h"
#include "bridge/generation_actions.h"
#include "bridge/media_actions.h"
#include "bridge/panel_actions.h"
#include "bridge/shell_actions.h"
#include "bridge/task_actions.h"
#include "history/history_actions.h"

namespace glimmet {
namespace {

// The group a member function belongs to.
template <class Member>
struct GroupOf;
template <class Group, class... Args>
struct GroupOf<void (Group::*)(Args...)> {
  using type = Group;
};

// An action answered from the message id alone, or from the id and the value.
template <auto member>
constexpr BridgeAction byId(std::string_view name) {
  using Group = typename GroupOf<decltype(member)>::type;
  return {name, [](const BridgeGroups& groups, const BridgeMessage& message) {
            (std::get<Group&>(groups).*member)(message.id);
          }};
}

template <auto member>
constexpr BridgeAction byValue(std::string_view name) {
  using Group = typename GroupOf<decltype(member)>::type;
  return {name, [](const BridgeGroups& groups, const BridgeMessage& message) {
            (std::get<Group&>(groups).*member)(message.id, message.value);
          }};
}

constexpr std::array kActions = {
    byId<&TaskActions::previewSound>("previewSound"),
    byValue<&CloudActions::cloudRequest>("cloudRequest"),
    byValue<&CloudActions::cloudUpload>("cloudUpload"),
    byValue<&CloudActions::cloudAsset>("cloudAsset"),
    byValue<&CloudActions::cloudSaveAsset>("cloudSaveAsset"),
    byValue<&CloudActions::cloudOpen>("cloudOpen"),
    byId<&CloudActions::cloudLogin>("cloudLogin"),
    byId<&CloudActions::cloudPoll>("cloudPoll"),
    byId<&CloudActions::cloudLogout>("cloudLogout"),
    byValue<&TaskActions::previewTrace>("previewTrace"),
    byValue<&ShellActions::appearance>("appearance"),
    byId<&PanelActions::islandAnchor>("islandAnchor"),
    byValue<&PanelActions::islandGeometry>("islandGeometry"),
    byValue<&PanelActions::templateModal>("templateModal"),
    byId<&GenerationActions::apiStatus>("apiStatus"),
    byValue<&GenerationActions::apiConfigure>("apiConfigure"),
    byId<&GenerationActions::apiCheck>("apiCheck"),
    byValue<&GenerationActions::apiGenerate>("apiGenerate"),
    byId<&GenerationActions::apiCancel>("apiCancel"),
    byId<&ShellActions::layoutHint>("prepareHistory"),
    byId<&ShellActions::layoutHint>("layoutHistory"),
    byValue<&PanelActions::selectMenu>("selectMenu"),
    byId<&ShellActions::layoutHint>("fit"),
    byId<&ShellActions::accessibility>("accessibility"),
    byId<&ShellActions::requestAccessibility>("requestAccessibility"),
    byId<&PanelActions::capture>("capture"),
    byValue<&MediaActions::clipboard>("clipboard"),
    byValue<&MediaActions::copyText>("copyText"),
    byValue<&MediaActions::copyImage>("copyImage"),
    byId<&ShellActions::settings>("settings"),
    byId<&GenerationActions::agents>("agents"),
    byId<&ShellActions::setupAgent>("setupAgent"),
    byValue<&GenerationActions::localGenerate>("localGenerate"),
    byId<&GenerationActions::cancelLocal>("cancelLocal"),
    byValue<&PanelActions::present>("present"),
    byId<&PanelActions::hide>("hide"),
    byValue<&PanelActions::pin>("pin"),
    byValue<&TaskActions::taskState>("taskState"),
    byValue<&HistoryActions::historyList>("historyList"),
    byValue<&HistoryActions::historyImage>("historyImage"),
    byValue<&HistoryActions::historySave>("historySave"),
    byValue<&HistoryActions::libraryAction>("libraryAction"),
    byValue<&HistoryActions::libraryTrash>("libraryTrash"),
    byValue<&HistoryActions::libraryMedia>("libraryMedia"),
    byValue<&HistoryActions::libraryPreview>("libraryPreview"),
    byValue<&MediaActions::libraryVideo>("libraryVideo"),
    byValue<&MediaActions::saveImage>("saveImage"),
};

}  // namespace

std::span<const BridgeAction> bridgeActions() { return kActions; }

const BridgeAction* findBridgeAction(std::string_view name) {
  const auto action =
      std::find_if(kActions.begin(), kActions.end(),
                   [name](const BridgeAction& entry) { return entry.name == name; });
  return action == kActions.end() ? nullptr : &*action;
}

}  // namespace glimmet
