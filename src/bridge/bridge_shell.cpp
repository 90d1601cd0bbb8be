#include "bridge/bridge_shell.h"

#include "surfaces/island_host.h"

namespace glimmet {

void IslandOverlays::setMenuOpen(bool open) {
  menuOpen_ = open;
  host_.setMenuOpen(open);
}

void IslandOverlays::setFilePanelOpen(bool open) {
  filePanelOpen_ = open;
  host_.setFilePanelOpen(open);
}

void IslandOverlays::setModalOpen(bool open) {
  modalOpen_ = open;
  host_.setModalOpen(open);
}

}  // namespace glimmet
