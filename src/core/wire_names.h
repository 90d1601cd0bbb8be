#pragma once

// The names the page, the web process extension and the files on disk rely
// on, each written once. Header-only, so that the web process extension, which
// links nothing of the program, shares them too.

namespace glimmet::wire {

// The program's own URL scheme, the page's origin and its entry document.
inline constexpr const char* kScheme = "plumora";
inline constexpr const char* kPageOrigin = "plumora://local";
inline constexpr const char* kPageURL = "plumora://local/index.html";
// A history work's preview: this prefix, the work's id, kPreviewSuffix.
inline constexpr const char* kPreviewPrefix = "plumora://local/history-preview/";
inline constexpr const char* kPreviewSuffix = "/image.png";
// A library video as the page hands it to the native player: this prefix and the work's id.
inline constexpr const char* kVideoTokenPrefix = "plumora-video:";

// The page posts to window.webkit.messageHandlers.<kMessageHandler>; the web
// process extension forwards each post as a user message of this name.
inline constexpr const char* kMessageHandler = "plumora";
inline constexpr const char* kPostMessageName = "plumora.post";

// The program's folder in the user's data directory ($XDG_DATA_HOME).
inline constexpr const char* kDataFolder = "Plumora";

}  // namespace glimmet::wire
