#include "surfaces/shortcut.h"

#include <utility>

#include "core/text.h"

namespace glimmet {

namespace {

constexpr std::int64_t kMaxStoredValue = 65535;

bool storedNumber(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>() <= kMaxStoredValue;
  if (!value.is_number_integer()) return false;
  const std::int64_t number = value.get<std::int64_t>();
  return number >= 0 && number <= kMaxStoredValue;
}

}  // namespace

Shortcut Shortcut::creationDefault() { return {kKeyP, KeyCombination::kCommand, "⌘P"}; }

Shortcut Shortcut::voiceDefault() {
  return {kKeyV, KeyCombination::kCommand | KeyCombination::kShift, "⌘⇧V"};
}

Shortcut Shortcut::load(const DefaultsStore& defaults, const std::string& key, bool voice) {
  const Shortcut fallback = voice ? voiceDefault() : creationDefault();
  const std::optional<Json> stored = defaults.dictionary(key);
  if (!stored) return fallback;
  const auto code = stored->find("code");
  const auto modifiers = stored->find("modifiers");
  const auto title = stored->find("title");
  if (code == stored->end() || modifiers == stored->end() || title == stored->end() ||
      !storedNumber(*code) || !storedNumber(*modifiers) || !title->is_string() ||
      text::graphemeCount(title->get_ref<const std::string&>()) > kMaxTitleLength) {
    return fallback;
  }
  return {code->get<std::uint32_t>(), modifiers->get<std::uint32_t>(), title->get<std::string>()};
}

std::optional<Shortcut> Shortcut::from(const KeyStroke& key) {
  constexpr std::uint32_t kNeeded =
      KeyCombination::kControl | KeyCombination::kOption | KeyCombination::kCommand;
  if ((key.modifiers & kNeeded) == 0) return std::nullopt;
  if (text::graphemeCount(key.characters) != 1 || !text::isAlphanumeric(key.characters)) {
    return std::nullopt;
  }
  Shortcut shortcut{key.code, 0, ""};
  // The order of the symbols is fixed, whatever order the keys went down in.
  constexpr std::pair<std::uint32_t, const char*> kSymbols[] = {{KeyCombination::kControl, "⌃"},
                                                                {KeyCombination::kOption, "⌥"},
                                                                {KeyCombination::kShift, "⇧"},
                                                                {KeyCombination::kCommand, "⌘"}};
  for (const auto& [mask, symbol] : kSymbols) {
    if ((key.modifiers & mask) != 0) {
      shortcut.modifiers |= mask;
      shortcut.title += symbol;
    }
  }
  shortcut.title += text::uppercased(key.characters);
  return shortcut;
}

Json Shortcut::dictionary() const {
  return Json{{"code", code}, {"modifiers", modifiers}, {"title", title}};
}

void ShortcutRecorder::record() {
  stop();
  recording_ = true;
  changed();
}

void ShortcutRecorder::stop() {
  recording_ = false;
  changed();
}

bool ShortcutRecorder::handle(const KeyStroke& key) {
  if (!recording_) return false;
  if (key.code == Shortcut::kKeyEscape) {
    stop();
    return true;
  }
  if (std::optional<Shortcut> recorded = Shortcut::from(key)) {
    shortcut_ = std::move(*recorded);
    stop();
  }
  return true;
}

void ShortcutRecorder::setShortcut(Shortcut shortcut) {
  shortcut_ = std::move(shortcut);
  changed();
}

void ShortcutRecorder::changed() const {
  if (update_) update_();
}

}  // namespace glimmet
