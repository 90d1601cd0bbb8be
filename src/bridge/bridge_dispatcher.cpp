#include "bridge/bridge_dispatcher.h"

#include <string>
#include <utility>

#include "bridge/media_actions.h"
#include "history/history_actions.h"

namespace glimmet {

BridgeDispatcher::BridgeDispatcher(BridgeShell& shell, Platform& platform, BridgeServices services,
                                   BridgeFlags flags)
    : context_{shell, platform, services, std::move(flags), lifetime_},
      generation_(context_),
      cloud_(context_),
      panel_(context_),
      tasks_(context_),
      shell_(context_),
      handlers_(handlers()) {}

void BridgeDispatcher::dispatch(const BridgeMessage& message) {
  if (std::string_view(message.action).starts_with("cloud")) {
    cloud_.handle(message);
    return;
  }
  const auto handler = handlers_.find(message.action);
  if (handler != handlers_.end()) handler->second(message);
}

std::map<std::string_view, BridgeDispatcher::Handler> BridgeDispatcher::handlers() {
  HistoryActions& history = context_.services.history;
  MediaActions& media = context_.services.media;
  // An action answered from the message id alone, or from the id and the value.
  const auto byId = [](auto action) {
    return [action](const BridgeMessage& message) { action(message.id); };
  };
  const auto byValue = [](auto action) {
    return [action](const BridgeMessage& message) { action(message.id, message.value); };
  };
  return {
      {"previewSound", byId([this](auto id) { tasks_.previewSound(id); })},
      {"previewTrace", byValue([this](auto id, auto& v) { tasks_.previewTrace(id, v); })},
      {"taskState", byValue([this](auto id, auto& v) { tasks_.taskState(id, v); })},
      {"appearance", byValue([this](auto id, auto& v) { shell_.appearance(id, v); })},
      {"accessibility", byId([this](auto id) { shell_.accessibility(id); })},
      {"requestAccessibility", byId([this](auto id) { shell_.requestAccessibility(id); })},
      {"settings", byId([this](auto id) { shell_.settings(id); })},
      {"setupAgent", byId([this](auto id) { shell_.setupAgent(id); })},
      {"prepareHistory", byId([this](auto id) { shell_.layoutHint(id); })},
      {"layoutHistory", byId([this](auto id) { shell_.layoutHint(id); })},
      {"fit", byId([this](auto id) { shell_.layoutHint(id); })},
      {"islandAnchor", byId([this](auto id) { panel_.islandAnchor(id); })},
      {"islandGeometry", byValue([this](auto id, auto& v) { panel_.islandGeometry(id, v); })},
      {"templateModal", byValue([this](auto id, auto& v) { panel_.templateModal(id, v); })},
      {"present", byValue([this](auto id, auto& v) { panel_.present(id, v); })},
      {"hide", byId([this](auto id) { panel_.hide(id); })},
      {"pin", byValue([this](auto id, auto& v) { panel_.pin(id, v); })},
      {"capture", byId([this](auto id) { panel_.capture(id); })},
      {"selectMenu", byValue([this](auto id, auto& v) { panel_.selectMenu(id, v); })},
      {"apiStatus", byId([this](auto id) { generation_.apiStatus(id); })},
      {"apiConfigure", byValue([this](auto id, auto& v) { generation_.apiConfigure(id, v); })},
      {"apiCheck", byId([this](auto id) { generation_.apiCheck(id); })},
      {"apiGenerate", byValue([this](auto id, auto& v) { generation_.apiGenerate(id, v); })},
      {"apiCancel", byId([this](auto id) { generation_.apiCancel(id); })},
      {"localGenerate", byValue([this](auto id, auto& v) { generation_.localGenerate(id, v); })},
      {"cancelLocal", byId([this](auto id) { generation_.cancelLocal(id); })},
      {"agents", byId([this](auto id) { generation_.agents(id); })},
      {"historyList", byValue([&history](auto id, auto& v) { history.historyList(id, v); })},
      {"historyImage", byValue([&history](auto id, auto& v) { history.historyImage(id, v); })},
      {"historySave", byValue([&history](auto id, auto& v) { history.historySave(id, v); })},
      {"libraryAction", byValue([&history](auto id, auto& v) { history.libraryAction(id, v); })},
      {"libraryTrash", byValue([&history](auto id, auto& v) { history.libraryTrash(id, v); })},
      {"libraryMedia", byValue([&history](auto id, auto& v) { history.libraryMedia(id, v); })},
      {"libraryPreview", byValue([&history](auto id, auto& v) { history.libraryPreview(id, v); })},
      {"libraryVideo", byValue([&media](auto id, auto& v) { media.libraryVideo(id, v); })},
      {"saveImage", byValue([&media](auto id, auto& v) { media.saveImage(id, v); })},
      {"copyText", byValue([&media](auto id, auto& v) { media.copyText(id, v); })},
      {"copyImage", byValue([&media](auto id, auto& v) { media.copyImage(id, v); })},
      {"clipboard", byValue([&media](auto id, auto& v) { media.clipboard(id, v); })},
  };
}

}  // namespace glimmet
