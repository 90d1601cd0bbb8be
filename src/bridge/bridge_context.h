#pragma once

// What every action group of the dispatcher works with: the shell, the
// desktop, the services that own the work and the switches that change what
// some actions do. Deferred replies hold the dispatcher's lifetime token, so a
// completion that arrives after the dispatcher is gone sends nothing.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <utility>

#include "bridge/bridge_shell.h"
#include "core/bridge_reply.h"
#include "core/lifetime.h"
#include "core/result.h"
#include "platform/platform.h"

namespace glimmet {

class CustomImageAPI;
class HistoryActions;
class LocalAgentManager;
class MediaActions;
class PlumoraCloudAccount;
class PlumoraIslandHost;
class PlumoraTaskFeedback;

struct BridgeServices {
  CustomImageAPI& imageAPI;
  LocalAgentManager& localAgents;
  PlumoraCloudAccount& cloud;
  PlumoraTaskFeedback& feedback;
  PlumoraIslandHost& islandHost;
  HistoryActions& history;
  MediaActions& media;
};

struct BridgeFlags {
  // "--preview-smoke-test": the page's preview trace is printed.
  bool previewTrace = false;
  // Either notification smoke-test switch: task notices print a diagnostic line.
  bool notificationSmokeTest = false;
  // Where the provider icons of pop-up menus are.
  std::filesystem::path resourceDirectory;
};

struct BridgeContext {
  BridgeShell& shell;
  Platform& platform;
  BridgeServices services;
  BridgeFlags flags;
  // Expires with the dispatcher.
  LifetimeGuard alive;

  ShellState& state() const { return shell.state(); }
  void reply(std::int64_t messageId, const BridgeReply& text) const {
    shell.reply(messageId, text);
  }
  // The shell's reply path, for answers that arrive later or on another thread.
  ReplySink replies() const {
    return [&shell = shell](std::int64_t messageId, const BridgeReply& answer) {
      shell.reply(messageId, answer);
    };
  }
  // The reply a service completion stands for: its value's JSON or its failure's message.
  static BridgeReply answer(const Result<Json>& result) {
    return result.ok() ? BridgeReply::resolve(result.value())
                       : BridgeReply::rejection(result.failure().message());
  }
};

}  // namespace glimmet
