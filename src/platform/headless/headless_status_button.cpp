#include "platform/headless/headless_status_button.h"

namespace glimmet {

void HeadlessStatusButton::showTurnedIcon(double degrees, const std::string& description) {
  icons_.push_back({false, degrees, description});
}

}  // namespace glimmet
