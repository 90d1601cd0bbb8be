#pragma once

// The script injected into the page before any of its own scripts run: it
// defines `window.plumora`, whose calls post {action, id, value} to the
// "plumora" message handler and return promises that the native replies
// settle. Also the statements that deliver native events to the page.

#include <string>
#include <string_view>

namespace glimmet {

// The version shown to the page when the build carries none.
inline constexpr const char* kDevelopmentPreviewVersion = "开发预览";

// The values the injected script carries.
struct BridgeScriptValues {
  bool librarySmokeTest = false;     // mark onboarding skipped and the island pinned
  std::string appearancePreference;  // "system", "light" or "dark"
  std::string appVersion;            // the project version or kDevelopmentPreviewVersion
  bool notificationTest = false;     // either notification smoke-test switch is present
  bool notificationTestFailure = false;
  bool previewTrace = false;  // `window.plumora.previewTrace` exists only then
};

// The injected script. The two texts are spliced as JSON string literals, so a
// quote, backslash or line break in them cannot end the literal; invalid UTF-8
// in them becomes U+FFFD.
std::string bridgeScript(const BridgeScriptValues& values);

// Native events the page receives as plain `Event`s.
enum class PageEvent { kToggle, kHide, kTaskNotice, kPointerRelease };

// Native events the page receives as `CustomEvent`s with a detail.
enum class PageDetailEvent { kSurface, kCapture, kInteraction, kLocalProgress, kPointer, kAnchor };

std::string_view eventName(PageEvent event);
std::string_view eventName(PageDetailEvent event);

// "window.dispatchEvent(new Event('plumora:hide'));" and its kin.
std::string eventScript(PageEvent event);

// "window.dispatchEvent(new CustomEvent('plumora:pointer',{detail:true}));" and
// its kin. `detail` is script text spliced as written: json() of a value, a
// literal such as true or false, or "'quick'".
std::string eventScript(PageDetailEvent event, std::string_view detail);

}  // namespace glimmet
