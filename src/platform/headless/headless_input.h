#pragma once

// Doubles for the input side of the desktop: global hot keys that another
// client can hold, a selection the test sets, and a settings window and a
// radial menu window that record what they show and let the test act in them.

#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/autostart.h"
#include "platform/hot_keys.h"
#include "platform/radial_window.h"
#include "platform/selection_reader.h"
#include "platform/settings_window.h"

namespace glimmet {

class HeadlessHotKeys final : public HotKeys {
 public:
  void setHandler(std::function<void()> pressed) override { handler_ = std::move(pressed); }
  std::optional<Id> registerHotKey(const KeyCombination& combination) override;
  void unregisterHotKey(Id id) override { registered_.erase(id); }

  // Another client holds `combination`: registering it fails.
  void holdElsewhere(const KeyCombination& combination) { heldElsewhere_.insert(key(combination)); }
  // The user presses `combination`: the handler runs on the main queue when it is registered.
  bool press(const KeyCombination& combination);
  bool isRegistered(const KeyCombination& combination) const;
  std::size_t registeredCount() const { return registered_.size(); }
  bool hasHandler() const { return static_cast<bool>(handler_); }

 private:
  static std::uint64_t key(const KeyCombination& c) {
    return (std::uint64_t{c.code} << 32) | c.modifiers;
  }

  std::function<void()> handler_;
  std::map<Id, KeyCombination> registered_;
  std::set<std::uint64_t> heldElsewhere_;
  Id next_ = 1;
};

// Answers every read at once with the content the test set.
class HeadlessSelectionReader final : public SelectionReader {
 public:
  void read(const RunningApplication&, Completion done) override {
    ++reads_;
    done(content_);
  }
  void setContent(SelectedContent content) { content_ = std::move(content); }
  int reads() const { return reads_; }

 private:
  SelectedContent content_;
  int reads_ = 0;
};

// Starting at login as a flag; `refuses` makes every change fail.
class HeadlessAutostart final : public Autostart {
 public:
  bool enabled() const override { return enabled_; }
  bool setEnabled(bool enabled) override {
    if (refuses) return false;
    enabled_ = enabled;
    return true;
  }

  bool refuses = false;

 private:
  bool enabled_ = false;
};

class HeadlessSettingsWindow final : public SettingsWindow {
 public:
  void present(const SettingsWindowContent& content, SettingsWindowEvents& events) override;
  void setRecorder(const std::string& title, bool recording) override;
  void setPermissionState(const std::string& state) override { content_.permissionState = state; }
  void hide() override { visible_ = false; }
  bool isVisible() const override { return visible_; }

  // What the window shows; the title is the recorder button's.
  const SettingsWindowContent& content() const { return content_; }
  bool recording() const { return recording_; }
  int presentations() const { return presentations_; }
  // The events of the open window, for the test to act as the user; null before it opened.
  SettingsWindowEvents* events() const { return events_; }

 private:
  SettingsWindowContent content_;
  SettingsWindowEvents* events_ = nullptr;
  bool visible_ = false;
  bool recording_ = false;
  int presentations_ = 0;
};

class HeadlessRadialWindow final : public RadialWindow {
 public:
  void present(const RadialFace& face, const Rect& frame, RadialWindowEvents& events) override {
    face_ = face;
    frame_ = frame;
    events_ = &events;
  }
  void select(int sector) override { face_.selected = sector; }
  void hide() override { events_ = nullptr; }
  bool isVisible() const override { return events_ != nullptr; }

  const RadialFace& face() const { return face_; }
  const Rect& frame() const { return frame_; }
  // The input of the shown window, for the test to act as the user; null while hidden.
  RadialWindowEvents* events() const { return events_; }

 private:
  RadialFace face_;
  Rect frame_;
  RadialWindowEvents* events_ = nullptr;
};

}  // namespace glimmet
