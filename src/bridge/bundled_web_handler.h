#pragma once

// Serves the packaged page to the web view under "plumora://local/": the files
// of the web directory, and the PNG of a history work under
// "plumora://local/history-preview/<id>/image.png". Every path is checked
// before a byte is read, so the page can only reach files inside the web
// directory and the validated media of the library.
//
// The web view starts and stops scheme tasks on the main thread. Files are read
// on a concurrent executor; the answer returns to the main queue and reaches
// the task only while the task is still wanted, and then exactly once.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/executors.h"
#include "core/failure.h"
#include "history/plumora_history.h"
#include "platform/scheme_task.h"

namespace glimmet {

class BundledWebHandler {
 public:
  // The largest packaged file served; the history route relies on the store's ceilings.
  static constexpr std::uintmax_t kMaxResourceBytes = 33'554'432;

  // `webDirectory` is the packaged page's directory; empty when the
  // installation has none. `history` must outlive the work of every task
  // started; `files` runs the file checks and reads and may run several at once.
  BundledWebHandler(const PlumoraHistory& history, std::filesystem::path webDirectory,
                    Executor& files = GlobalPool::shared());

  // Both on the main thread.
  void start(std::shared_ptr<SchemeTask> task);
  void stop(const SchemeTask& task);

  // The answer for `url`, or a LocalAgentFailure saying why it is refused.
  SchemeResponse resource(const std::string& url) const;

  // The content type served for a file name, by its extension in any case.
  static std::string contentType(const std::filesystem::path& file);

 private:
  struct State;

  // Shared with queued work, so work still running when the handler goes away
  // never touches freed memory.
  std::shared_ptr<State> state_;
  Executor& files_;
};

}  // namespace glimmet
