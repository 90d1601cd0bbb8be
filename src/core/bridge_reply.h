#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "core/json.h"
#include "core/lifetime.h"

namespace glimmet {

// One answer to a page request, rendered as the script that settles its promise.
struct BridgeReply {
  enum class Kind {
    kResolveJson,     // resolve with the JSON text of `payload`
    kResolveLiteral,  // resolve with `text` as written (a script literal)
    kRejectFixed,     // reject with `text` between single quotes
    kRejectMessage,   // reject with the JSON string of `text`
  };

  static BridgeReply resolve(Json value) { return {Kind::kResolveJson, std::move(value), {}}; }
  static BridgeReply literal(std::string text) {
    return {Kind::kResolveLiteral, {}, std::move(text)};
  }
  static BridgeReply fixedRejection(std::string text) {
    return {Kind::kRejectFixed, {}, std::move(text)};
  }
  static BridgeReply rejection(std::string message) {
    return {Kind::kRejectMessage, {}, std::move(message)};
  }

  // "window.__plumoraResolve(<id>,...);" or "window.__plumoraReject(<id>,...);"
  std::string script(std::int64_t messageId) const {
    const std::string id = std::to_string(messageId);
    switch (kind) {
      case Kind::kResolveJson:
        return "window.__plumoraResolve(" + id + "," + json(payload) + ");";
      case Kind::kResolveLiteral:
        return "window.__plumoraResolve(" + id + "," + text + ");";
      case Kind::kRejectFixed:
        return "window.__plumoraReject(" + id + ",'" + text + "');";
      case Kind::kRejectMessage:
        break;
    }
    return "window.__plumoraReject(" + id + "," + json(text) + ");";
  }

  Kind kind;
  Json payload;
  std::string text;
};

// Where every action group sends its answers: called on the main thread with
// the id of the page request an answer settles.
using ReplySink = std::function<void(std::int64_t messageId, const BridgeReply& reply)>;

// Sends `answer` from any thread: it reaches `sink` on the main queue, unless
// `owner` has expired by then.
void replyOnMainQueue(LifetimeGuard owner, ReplySink sink, std::int64_t messageId,
                      BridgeReply answer);

}  // namespace glimmet
