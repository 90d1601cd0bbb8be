#pragma once

// The page's native objects beside and over itself: the library video player
// laid over the page, the save panel for a generated image, and the clipboard.
// Each call takes the page's message id and argument and hands exactly one
// reply to the reply sink. Everything runs on the main thread: the replies come
// before the call returns, except that of "saveImage", which comes when the
// user has answered the save panel.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/bridge_reply.h"
#include "core/json.h"
#include "core/lifetime.h"

namespace glimmet {

class Clipboard;
class FilePanels;
class PlumoraHistory;
class VideoPlayer;

class MediaActions {
 public:
  // The web view's size in points.
  struct WebViewSize {
    double width = 0;
    double height = 0;
  };

  // What the controller lends: the web view's size, its single file-panel slot
  // (begin answers false while another open or save panel is up), and whether
  // this is a library smoke test, whose diagnostic lines go to `printLine`.
  struct Host {
    std::function<WebViewSize()> webViewSize;
    std::function<bool()> beginFilePanel;
    std::function<void()> endFilePanel;
    bool librarySmokeTest = false;
    // Prints one line (given without its line feed) to standard output and flushes it.
    std::function<void(const std::string& line)> printLine;
  };

  static constexpr std::size_t kMaxCopyTextCharacters = 50'000;
  static constexpr std::size_t kMaxClipboardCharacters = 3'000;
  static constexpr const char* kSaveFileName = "Glimmet.png";
  static constexpr const char* kPlayerName = "资源视频播放器";

  // Every reference must outlive the actions.
  MediaActions(const PlumoraHistory& store, Clipboard& clipboard, FilePanels& filePanels,
               VideoPlayer& videoPlayer, Host host, ReplySink replies);
  MediaActions(const MediaActions&) = delete;
  MediaActions& operator=(const MediaActions&) = delete;

  // A dictionary {"id", "x", "y", "width", "height"} shows or moves the player
  // for that video work; anything else takes the player away.
  void libraryVideo(std::int64_t messageId, const Json& value);
  // Decodes an image data URL and writes it as PNG where the user chooses.
  void saveImage(std::int64_t messageId, const Json& value);
  void copyText(std::int64_t messageId, const Json& value);
  // An image data URL; the clipboard receives the image as PNG.
  void copyImage(std::int64_t messageId, const Json& value);
  // The clipboard's text, at most its first kMaxClipboardCharacters characters.
  void clipboard(std::int64_t messageId, const Json& value);

  // Takes the player off the page (a page modal closed, shutdown).
  void clearLibraryVideo();
  // Pauses the player, leaving it in place (the panel hides).
  void pauseLibraryVideo();

  // The id of the work the player shows; none when there is no player.
  const std::optional<std::string>& libraryVideoId() const { return libraryVideoId_; }

 private:
  void reply(std::int64_t messageId, const BridgeReply& answer) { replies_(messageId, answer); }

  const PlumoraHistory& store_;
  Clipboard& clipboard_;
  FilePanels& filePanels_;
  VideoPlayer& videoPlayer_;
  Host host_;
  ReplySink replies_;
  std::optional<std::string> libraryVideoId_;
  // Save panels answer later; their completions do nothing once this is gone.
  Lifetime lifetime_;
};

}  // namespace glimmet
