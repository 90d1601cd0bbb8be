// Measures the radial menu: from the trigger (the presenter asked to show the
// menu for a capture payload at a point) to the end of the menu window's first
// frame, against a baseline measured in the same run: an empty borderless
// pop-up window of the same size with the same visual, from the call that
// shows it to the end of its first frame. Both run on a private virtual
// display (tests/platform/gtk/with-display.sh, started here unless already in
// one). The baseline and each kind of payload (text, and a 512 by 512 image)
// take turns: one unmeasured warm-up round, then 100 measured rounds; between
// showings the window is hidden and the main loop settles. An image's preview
// is decoded off the main thread and drawn in a later frame; the first frame
// holds the ring, its icons and labels, and the summary.
//
// Ends with two lines: "radial_ratio: X" (the slower kind's median over the
// baseline's; target at most 1.5) and "radial_ms: X" (that kind's median on
// this machine).

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/base64.h"
#include "core/glib_ptr.h"
#include "platform/gtk/gdk_desktop_services.h"
#include "platform/gtk/radial_view.h"
#include "private_display.h"
#include "surfaces/radial_menu.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kOnPrivateDisplay = "GLIMMET_BENCH_RADIAL_ON_PRIVATE_DISPLAY";
constexpr int kRounds = 100;
constexpr int kImageSide = 512;
constexpr glimmet::Point kPoint{640, 400};

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

void spinUntil(const std::function<bool()>& done, const char* what) {
  const auto deadline = Clock::now() + 10s;
  while (!done()) {
    if (Clock::now() > deadline) fail(std::string("timed out waiting for ") + what);
    g_main_context_iteration(nullptr, FALSE);
  }
}

void settle() {
  const auto until = Clock::now() + 30ms;
  while (Clock::now() < until) g_main_context_iteration(nullptr, FALSE);
}

// Counts the window's frames, after every other draw handler.
void countFrames(GtkWindow* window, int& frames) {
  g_signal_connect_after(window, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer count) {
                           ++*static_cast<int*>(count);
                           return FALSE;
                         }),
                         &frames);
}

// One thing measured: what shows its window, what hides it, and the count of
// the window's frames.
struct Subject {
  std::function<void()> show;
  std::function<void()> hide;
  int* frames;
  std::vector<double> samples;
};

// Milliseconds from `show` to the end of the first frame, taken in rounds
// that visit every subject in turn, so a busy moment of the machine falls on
// all of them alike; the first round warms up and is not kept.
void measure(std::vector<Subject*> subjects) {
  for (int round = 0; round <= kRounds; ++round) {
    for (Subject* subject : subjects) {
      *subject->frames = 0;
      const auto shown = Clock::now();
      subject->show();
      spinUntil([&] { return *subject->frames > 0; }, "the first frame");
      const double elapsed =
          std::chrono::duration<double, std::milli>(Clock::now() - shown).count();
      if (round > 0) subject->samples.push_back(elapsed);
      subject->hide();
      settle();
    }
  }
}

// A photograph-like PNG: smooth colour ramps with fine detail.
std::string imageDataURL() {
  glimmet::GPtr<cairo_surface_t, cairo_surface_destroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, kImageSide, kImageSide));
  unsigned char* pixels = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < kImageSide; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(pixels + y * stride);
    for (int x = 0; x < kImageSide; ++x) {
      const auto r = static_cast<std::uint32_t>(x / 2);
      const auto g = static_cast<std::uint32_t>(y / 2);
      const auto b =
          static_cast<std::uint32_t>(127 + 127 * std::sin(x * 0.11) * std::cos(y * 0.07));
      row[x] = (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surface.get());
  glimmet::Bytes png;
  cairo_surface_write_to_png_stream(
      surface.get(),
      [](void* out, const unsigned char* data, unsigned int length) {
        auto* bytes = static_cast<glimmet::Bytes*>(out);
        bytes->insert(bytes->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  return "data:image/png;base64," + glimmet::base64Encode(png);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    glimmet::bench::openPrivateDisplay(argc, argv, kOnPrivateDisplay, DISPLAY_WRAPPER);

    // The baseline: an empty pop-up window of the same size and visual.
    GtkWidget* empty = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_widget_set_size_request(empty, 320, 320);
    gtk_window_move(GTK_WINDOW(empty), int(kPoint.x) - 160, int(kPoint.y) - 160);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(empty))) {
      gtk_widget_set_visual(empty, rgba);
    }
    int emptyFrames = 0;
    countFrames(GTK_WINDOW(empty), emptyFrames);
    Subject baseline{
        [&] { gtk_widget_show(empty); }, [&] { gtk_widget_hide(empty); }, &emptyFrames, {}};

    glimmet::GdkScreenLayout screens;
    glimmet::RadialView radial;
    glimmet::RadialPresenter presenter(radial, screens);
    const glimmet::Json textPayload = {{"text", "雨天的城市，一杯热咖啡"}, {"voice", false}};
    const glimmet::Json imagePayload = {{"text", ""}, {"voice", false}, {"image", imageDataURL()}};
    int radialFrames = 0;
    countFrames(radial.window(), radialFrames);
    Subject text{[&] { presenter.present(textPayload, kPoint, {}); },
                 [&] { presenter.dismiss(); },
                 &radialFrames,
                 {}};
    Subject image{[&] { presenter.present(imagePayload, kPoint, {}); },
                  [&] { presenter.dismiss(); },
                  &radialFrames,
                  {}};
    measure({&baseline, &text, &image});
    gtk_widget_destroy(empty);

    const double base = glimmet::bench::median(baseline.samples);
    const double textMs = glimmet::bench::median(text.samples);
    const double imageMs = glimmet::bench::median(image.samples);
    const double slower = std::max(textMs, imageMs);
    std::printf("radial_baseline_ms: %.2f\n", base);
    std::printf("radial_text_ms: %.2f\n", textMs);
    std::printf("radial_image_ms: %.2f\n", imageMs);
    std::printf("radial_ratio: %.2f\n", slower / base);
    std::printf("radial_ms: %.2f\n", slower);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_radial: %s\n", error.what());
    return 1;
  }
}
