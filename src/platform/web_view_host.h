#pragma once

// The web view that hosts the page, as the controller uses it: scripts are
// evaluated in the page's main frame, in the order they are handed over, and
// the page's own coordinates (points from its top-left corner) span its size.
// Main thread only.

#include <functional>
#include <string>

namespace glimmet {

struct WebViewSize {
  double width = 0;
  double height = 0;
};

class WebViewHost {
 public:
  // Runs once the script has been evaluated, whether or not it succeeded.
  using EvaluationCompletion = std::function<void()>;

  virtual ~WebViewHost() = default;

  // Evaluates `script` in the page; its result and errors are ignored. The
  // completion, when given, runs later on the main thread.
  virtual void evaluate(const std::string& script, EvaluationCompletion completion) = 0;
  void evaluate(const std::string& script) { evaluate(script, {}); }
  // Loads `url` in the web view (the packaged page).
  virtual void load(const std::string& url) = 0;
  virtual WebViewSize size() const = 0;
};

}  // namespace glimmet
