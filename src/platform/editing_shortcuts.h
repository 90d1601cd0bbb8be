#pragma once

// The standard editing shortcuts: Ctrl+Z undoes, Shift+Ctrl+Z redoes, Ctrl+X,
// Ctrl+C and Ctrl+V cut, copy and paste, Ctrl+A selects all. Each command goes
// to whatever has the keyboard focus (a field of the page, a field of the
// settings window); the program has no menu bar that could hold them.

#include <array>
#include <optional>

#include "platform/hot_keys.h"

namespace glimmet {

enum class EditingCommand { undo, redo, cut, copy, paste, selectAll };

struct EditingShortcut {
  EditingCommand command;
  // The key's lower-case letter.
  char letter;
  // The stored modifier mask (KeyCombination): "command" is Ctrl.
  std::uint32_t modifiers;
};

inline constexpr std::array<EditingShortcut, 6> kEditingShortcuts = {{
    {EditingCommand::undo, 'z', KeyCombination::kCommand},
    {EditingCommand::redo, 'z', KeyCombination::kCommand | KeyCombination::kShift},
    {EditingCommand::cut, 'x', KeyCombination::kCommand},
    {EditingCommand::copy, 'c', KeyCombination::kCommand},
    {EditingCommand::paste, 'v', KeyCombination::kCommand},
    {EditingCommand::selectAll, 'a', KeyCombination::kCommand},
}};

// The command a key press asks for: `letter` is the character of the key
// without Shift (either case counts), `modifiers` the stored mask of the
// modifiers held, lock keys left out. None for every other key or modifier set.
constexpr std::optional<EditingCommand> editingCommandFor(char32_t letter,
                                                          std::uint32_t modifiers) {
  if (letter >= U'A' && letter <= U'Z') letter += U'a' - U'A';
  for (const EditingShortcut& shortcut : kEditingShortcuts) {
    if (letter == static_cast<char32_t>(shortcut.letter) && modifiers == shortcut.modifiers) {
      return shortcut.command;
    }
  }
  return std::nullopt;
}

}  // namespace glimmet
