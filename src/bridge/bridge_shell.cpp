#include "bridge/bridge_shell.h"

#include "surfaces/island_host.h"

namespace glimmet {

void IslandOverlays::setMenuOpen(bool open) { host_.setMenuOpen(open); }
void IslandOverlays::setFilePanelOpen(bool open) { host_.setFilePanelOpen(open); }
void IslandOverlays::setModalOpen(bool open) { host_.setModalOpen(open); }

bool IslandOverlays::menuOpen() const { return host_.menuOpen(); }
bool IslandOverlays::filePanelOpen() const { return host_.filePanelOpen(); }
bool IslandOverlays::modalOpen() const { return host_.modalOpen(); }
bool IslandOverlays::anyOpen() const { return host_.overlayOpen(); }

}  // namespace glimmet
