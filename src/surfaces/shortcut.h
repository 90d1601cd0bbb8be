#pragma once

// The global shortcut as a value (its key code, stored modifier mask and the
// title the user sees) with its persisted form, and the recorder that learns a
// new one from the next key combination pressed in the settings window.
//
// The persisted form is {"code", "modifiers", "title"}; the mask keeps its
// historical names ("command" 0x100 is Ctrl here, "control" 0x1000 is Super,
// "option" 0x800 is Alt) and titles keep their symbols ("⌘P" is Ctrl+P). The
// code is the X11 keycode: 33 is P and 55 is V on every X server's evdev or
// xfree86 key codes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/defaults_store.h"
#include "core/json.h"
#include "platform/hot_keys.h"
#include "platform/settings_window.h"

namespace glimmet {

struct Shortcut {
  static constexpr std::uint32_t kKeyP = 33;
  static constexpr std::uint32_t kKeyV = 55;
  static constexpr std::uint32_t kKeyEscape = 9;
  static constexpr std::size_t kMaxTitleLength = 30;

  std::uint32_t code = 0;
  std::uint32_t modifiers = 0;
  std::string title;

  // Ctrl+P ("⌘P"), the creation shortcut when none is stored.
  static Shortcut creationDefault();
  // Ctrl+Shift+V ("⌘⇧V"), the second stored shortcut when none is stored.
  static Shortcut voiceDefault();

  // The shortcut stored under `key`, or the default for `voice` when the value
  // is absent or not a valid persisted form (codes and masks in 0..65535, a
  // title of at most 30 characters).
  static Shortcut load(const DefaultsStore& defaults, const std::string& key, bool voice);
  // The shortcut a key press makes: it needs Ctrl, Alt or Super, and one
  // letter or digit; anything else makes none.
  static std::optional<Shortcut> from(const KeyStroke& key);

  Json dictionary() const;
  KeyCombination combination() const { return {code, modifiers}; }
  bool operator==(const Shortcut&) const = default;
};

// The recorder button's state: idle, showing its shortcut's title, or
// recording, waiting for a combination. Escape cancels; a key press that makes
// no shortcut is swallowed and recording goes on.
class ShortcutRecorder {
 public:
  static constexpr const char* kRecordingTitle = "按下新组合键（Esc 取消）";

  explicit ShortcutRecorder(Shortcut shortcut) : shortcut_(std::move(shortcut)) {}

  // Called after each change of title or state.
  void onUpdate(std::function<void()> update) { update_ = std::move(update); }

  void record();
  void stop();
  // A key press while recording; answers whether it was swallowed.
  bool handle(const KeyStroke& key);
  void setShortcut(Shortcut shortcut);

  const Shortcut& shortcut() const { return shortcut_; }
  bool isRecording() const { return recording_; }
  std::string title() const { return recording_ ? kRecordingTitle : shortcut_.title; }

 private:
  void changed() const;

  Shortcut shortcut_;
  bool recording_ = false;
  std::function<void()> update_;
};

}  // namespace glimmet
