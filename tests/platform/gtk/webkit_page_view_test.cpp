#include "platform/gtk/webkit_page_view.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <vector>

#include "bridge/bundled_web_handler.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"
#include "history/plumora_history.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_workspace.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

struct Post {
  std::optional<std::string> frameURL;
  bool mainFrame = false;
  Json body;
};

// Serves a directory through the real resource handler and records the rest.
class RecordingDelegate final : public WebPageDelegate {
 public:
  explicit RecordingDelegate(const std::filesystem::path& resources)
      : history_(resources / "history"), handler_(history_, resources / "web") {}

  void startResource(std::shared_ptr<SchemeTask> task) override { handler_.start(std::move(task)); }
  void messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                       Json body) override {
    posts.push_back({frameURL ? std::optional<std::string>(*frameURL) : std::nullopt, mainFrame,
                     std::move(body)});
  }
  void pageLoaded() override { ++loads; }
  void pageLoadFailed() override { ++failures; }
  bool beginFilePanel() override { return !panelOpen && (panelOpen = true); }
  void endFilePanel() override { panelOpen = false; }

  std::vector<Post> posts;
  int loads = 0;
  int failures = 0;
  bool panelOpen = false;

 private:
  PlumoraHistory history_;
  BundledWebHandler handler_;
};

const Post* postFrom(const std::vector<Post>& posts, const std::string& action) {
  for (const Post& post : posts) {
    if (post.body.is_object() && post.body.value("action", "") == action) return &post;
  }
  return nullptr;
}

class WebKitPageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    const auto web = dir_.path() / "web";
    std::filesystem::create_directories(web);
    // The page's own script is a module, which only runs when the scheme is
    // treated as secure and CORS-enabled. A same-origin frame and a foreign
    // (data:) frame post too.
    writeFile(web / "index.html",
              "<!doctype html><script type=module src=main.js></script>"
              "<iframe src=frame.html></iframe>"
              "<iframe src=\"data:text/html,<script>window.webkit.messageHandlers.plumora."
              "postMessage({action:'foreign',id:3})</script>\"></iframe>");
    writeFile(web / "main.js",
              "let replaced = false;\n"
              "try { window.webkit = null; replaced = window.webkit === null; } catch (e) {}\n"
              "window.webkit.messageHandlers.plumora.postMessage({action: 'module', id: 1,\n"
              "  value: {injected: window.injected === true, replaced}});\n");
    writeFile(web / "frame.html",
              "<script>window.webkit.messageHandlers.plumora.postMessage("
              "{action:'frame',id:2})</script>");
    delegate_ = std::make_unique<RecordingDelegate>(dir_.path());
    page_ = std::make_unique<WebKitPageView>(WebPageOptions{true, GLIMMET_TEST_EXTENSION_DIR},
                                             *delegate_, panels_, workspace_);
    page_->addUserScript("window.injected = true;");
    window_ = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    gtk_widget_set_size_request(window_, 400, 300);
    gtk_widget_show_all(window_);
  }

  void TearDown() override {
    page_.reset();
    if (window_ != nullptr) gtk_widget_destroy(window_);
    EXPECT_TRUE(testing::awaitChildProcessesExited());
  }

  TempDir dir_;
  HeadlessFilePanels panels_;
  HeadlessWorkspace workspace_;
  std::unique_ptr<RecordingDelegate> delegate_;
  std::unique_ptr<WebKitPageView> page_;
  GtkWidget* window_ = nullptr;
};

TEST_F(WebKitPageViewTest, PostsArriveWithTheSendingFrame) {
  page_->load("plumora://local/index.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->loads == 1 && delegate_->posts.size() >= 2; },
                            std::chrono::seconds(20)));
  spinMainUntil([] { return false; }, std::chrono::milliseconds(300));

  const Post* module = postFrom(delegate_->posts, "module");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->frameURL, "plumora://local/index.html");
  EXPECT_TRUE(module->mainFrame);
  EXPECT_EQ(module->body["value"], Json({{"injected", true}, {"replaced", false}}));

  const Post* frame = postFrom(delegate_->posts, "frame");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->frameURL, "plumora://local/frame.html");
  EXPECT_FALSE(frame->mainFrame);
  // The foreign frame never loads: its navigation is cancelled.
  EXPECT_EQ(postFrom(delegate_->posts, "foreign"), nullptr);
  EXPECT_EQ(delegate_->failures, 0);
}

TEST_F(WebKitPageViewTest, ForeignPagesLeaveThePanelAndBrokenPagesFail) {
  page_->load("plumora://local/index.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->loads == 1; }, std::chrono::seconds(20)));

  // Links and windows to the web open in the browser; anything else is dropped.
  page_->evaluate(
      "window.open('https://example.com/window');"
      "location.href = 'file:///etc/passwd';"
      "location.href = 'https://example.com/link';");
  ASSERT_TRUE(spinMainUntil([&] { return workspace_.openedUrls().size() >= 2; }));
  EXPECT_EQ(workspace_.openedUrls(),
            (std::vector<std::string>{"https://example.com/window", "https://example.com/link"}));
  EXPECT_STREQ(webkit_web_view_get_uri(page_->webView()), "plumora://local/index.html");

  page_->load("plumora://local/missing.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->failures == 1; }));
  EXPECT_EQ(delegate_->loads, 1);
}

// What the page made and saves through a download link.
constexpr const char* kSaveBlob =
    "{ const link = document.createElement('a');"
    "link.href = URL.createObjectURL(new Blob(['payload']));"
    "link.download = 'work.txt';"
    "link.click(); }";

// A download asks where to save through the single file-panel slot, and is
// dropped while the slot is taken.
TEST_F(WebKitPageViewTest, DownloadsAskWhereToSaveThroughTheFilePanelSlot) {
  page_->load("plumora://local/index.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->loads == 1; }, std::chrono::seconds(20)));
  page_->evaluate(kSaveBlob);
  ASSERT_TRUE(spinMainUntil([&] { return panels_.pendingSave().has_value(); }));
  EXPECT_EQ(panels_.pendingSave()->suggestedFileName, "work.txt");
  EXPECT_TRUE(delegate_->panelOpen);
  const auto target = dir_ / "saved.txt";
  ASSERT_TRUE(panels_.answerSave(target));
  EXPECT_FALSE(delegate_->panelOpen);
  EXPECT_TRUE(spinMainUntil(
      [&] { return std::filesystem::exists(target) && testing::readFile(target) == "payload"; }));

  delegate_->panelOpen = true;
  page_->evaluate(kSaveBlob);
  spinMainUntil([] { return false; }, std::chrono::milliseconds(500));
  EXPECT_EQ(panels_.pendingCount(), 0u);
}

// Page scripts evaluated by the program count as the user's action, so the
// file input opens its chooser at once.
constexpr const char* kChooseFiles =
    "{ const input = document.createElement('input');"
    "input.type = 'file'; input.multiple = true;"
    "input.onchange = () => window.webkit.messageHandlers.plumora.postMessage("
    "{action: 'chosen', id: 5, value: [...input.files].map(file => file.name)});"
    "input.oncancel = () => window.webkit.messageHandlers.plumora.postMessage("
    "{action: 'cancelled', id: 6});"
    "document.body.append(input); input.click(); }";

// A file input asks through the single file-panel slot and receives the
// chosen files; while the slot is taken it gets no panel and is answered at once.
TEST_F(WebKitPageViewTest, FileInputsOpenThroughTheFilePanelSlot) {
  const auto chosen = dir_ / "picked.png";
  writeFile(chosen, "png");
  page_->load("plumora://local/index.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->loads == 1; }, std::chrono::seconds(20)));

  delegate_->panelOpen = true;
  page_->evaluate(kChooseFiles);
  EXPECT_TRUE(spinMainUntil([&] { return postFrom(delegate_->posts, "cancelled") != nullptr; }));
  EXPECT_EQ(panels_.pendingCount(), 0u);
  delegate_->panelOpen = false;

  page_->evaluate(kChooseFiles);
  ASSERT_TRUE(spinMainUntil([&] { return panels_.pendingOpen().has_value(); }));
  EXPECT_TRUE(panels_.pendingOpen()->allowsMultipleSelection);
  EXPECT_FALSE(panels_.pendingOpen()->canChooseDirectories);
  EXPECT_TRUE(delegate_->panelOpen);
  ASSERT_TRUE(panels_.answerOpen({chosen}));
  EXPECT_FALSE(delegate_->panelOpen);
  ASSERT_TRUE(spinMainUntil([&] { return postFrom(delegate_->posts, "chosen") != nullptr; }));
  EXPECT_EQ(postFrom(delegate_->posts, "chosen")->body["value"], Json({"picked.png"}));
}

}  // namespace
}  // namespace glimmet
