#include "bridge/bridge_script.h"

#include "core/json.h"

namespace glimmet {
namespace {

std::string literal(bool value) { return value ? "true" : "false"; }

// A JSON string literal of `text`; a JSON string is also a script string.
std::string scriptString(std::string_view text) {
  const std::string valid =
      Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
  return json(Json::parse(valid));
}

constexpr std::string_view kRequestMachinery = R"(  let seq = 0; const pending = new Map();
  window.__plumoraResolve = (id, value) => { pending.get(id)?.resolve(value); pending.delete(id); };
  window.__plumoraReject = (id, message) => { pending.get(id)?.reject(new Error(message)); pending.delete(id); };
  const request = (action,value) => new Promise((resolve,reject) => {
    const id = ++seq;
    pending.set(id,{resolve,reject});
    window.webkit.messageHandlers.plumora.postMessage({action,id,value:value||null});
  });
  const listen = (name,callback) => {
    const listener = event => callback(event.detail);
    window.addEventListener(name,listener);
    return () => window.removeEventListener(name,listener);
  };
  window.plumora = {
    previewSound: () => request('previewSound'),
    present: value => request('present',value),
    islandGeometry: value => request('islandGeometry',value),
    templateModal: value => request('templateModal',value),
    islandAnchor: () => request('islandAnchor'),
    apiStatus: () => request('apiStatus'),
    apiConfigure: value => request('apiConfigure',value),
    cloudRequest: value => request('cloudRequest',value),
    cloudUpload: value => request('cloudUpload',value),
    cloudAsset: value => request('cloudAsset',value),
    cloudSaveAsset: value => request('cloudSaveAsset',value),
    cloudOpen: value => request('cloudOpen',value),
    cloudLogin: () => request('cloudLogin'),
    cloudPoll: () => request('cloudPoll'),
    cloudLogout: () => request('cloudLogout'),
    apiCheck: () => request('apiCheck'),
    apiGenerate: value => request('apiGenerate',value),
    apiCancel: () => request('apiCancel'),
    hide: () => request('hide'),
    pin: enabled => request('pin',{enabled}),
    fit: (height,width) => request('fit',{height,width}),
    prepareHistory: width => request('prepareHistory',{width}),
    layoutHistory: value => request('layoutHistory',value),
    selectMenu: value => request('selectMenu',value),
)";

constexpr std::string_view kHistoryMembers = R"(    taskState: value => request('taskState',value),
    historyList: () => request('historyList'),
    historyImage: value => request('historyImage',value),
    historySave: value => request('historySave',value),
    libraryAction: value => request('libraryAction',value),
    libraryTrash: ids => request('libraryTrash',{ids}),
    libraryMedia: id => request('libraryMedia',id),
    libraryPreview: id => request('libraryPreview',id),
)";

constexpr std::string_view kRemainingMembers =
    R"(    libraryVideo: value => request('libraryVideo',value),
    saveImage: value => request('saveImage',value),
    capture: () => request('capture'),
    readClipboard: () => request('clipboard'),
    copyText: value => request('copyText',value),
    copyImage: value => request('copyImage',value),
    microphone: () => Promise.resolve(true),
    settings: () => request('settings'),
    accessibility: () => request('accessibility'),
    requestAccessibility: () => request('requestAccessibility'),
    agents: () => request('agents'),
    setupAgent: id => request('setupAgent',id),
    localGenerate: value => request('localGenerate',value),
    cancelLocal: () => request('cancelLocal'),
    onLocalProgress: callback => listen('plumora:local-progress',callback),
    onCapture: callback => listen('plumora:capture',callback),
)";

}  // namespace

std::string bridgeScript(const BridgeScriptValues& values) {
  std::string script = "(() => {\n  if (";
  script += literal(values.librarySmokeTest);
  script +=
      ") { localStorage.setItem('plumora-onboarding-v2','skipped');"
      "localStorage.setItem('plumora-island-pinned','on'); }\n";
  script += kRequestMachinery;
  script += "    appearancePreference: " + scriptString(values.appearancePreference) + ",\n";
  script += "    appearance: value => request('appearance',value),\n";
  script += "    appVersion: " + scriptString(values.appVersion) + ",\n";
  script += "    notificationTest: " + literal(values.notificationTest) + ",\n";
  script += "    notificationTestFailure: " + literal(values.notificationTestFailure) + ",\n";
  script += kHistoryMembers;
  script += "    previewTrace: " + literal(values.previewTrace) +
            " ? value => request('previewTrace',value) : undefined,\n";
  script += kRemainingMembers;
  script += "  };\n})();";
  return script;
}

std::string_view eventName(PageEvent event) {
  switch (event) {
    case PageEvent::kToggle:
      return "plumora:toggle";
    case PageEvent::kHide:
      return "plumora:hide";
    case PageEvent::kTaskNotice:
      return "plumora:task-notice";
    case PageEvent::kPointerRelease:
      return "plumora:pointer-release";
  }
  return {};
}

std::string_view eventName(PageDetailEvent event) {
  switch (event) {
    case PageDetailEvent::kSurface:
      return "plumora:surface";
    case PageDetailEvent::kCapture:
      return "plumora:capture";
    case PageDetailEvent::kInteraction:
      return "plumora:interaction";
    case PageDetailEvent::kLocalProgress:
      return "plumora:local-progress";
    case PageDetailEvent::kPointer:
      return "plumora:pointer";
    case PageDetailEvent::kAnchor:
      return "plumora:anchor";
  }
  return {};
}

std::string eventScript(PageEvent event) {
  std::string script = "window.dispatchEvent(new Event('";
  script += eventName(event);
  script += "'));";
  // The toggle statement carries a trailing space; evaluated statements are
  // compared byte for byte, so it stays.
  if (event == PageEvent::kToggle) script += ' ';
  return script;
}

std::string eventScript(PageDetailEvent event, std::string_view detail) {
  std::string script = "window.dispatchEvent(new CustomEvent('";
  script += eventName(event);
  script += "',{detail:";
  script += detail;
  script += "}));";
  return script;
}

}  // namespace glimmet
