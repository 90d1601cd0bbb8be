#pragma once

// The radial action menu on X11: a borderless pop-up window with an RGBA
// visual, drawn with cairo and Pango in the design tokens: a round frosted
// disc, three ring sectors with their icons and numbered labels, the preview
// of the material (or a text placeholder) and a one-line summary. It takes
// the pointer and the keyboard while shown (a seat grab, as menus do), so a
// press outside it and the keys reach it without the window manager's focus;
// losing the grab to another program counts as a press outside. Colours follow
// the theme's label colour, so the menu is light or dark with the desktop.
// The first frame comes quickly: the ring is drawn once per kind of material,
// highlight and theme and kept on the X server, and an image's preview
// is decoded on a worker once that frame is out, then drawn.
// Main thread only; requires an initialised GTK.

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>
#include <pango/pango.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/glib_ptr.h"
#include "core/lifetime.h"
#include "platform/radial_window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace glimmet {

class RadialView final : public RadialWindow {
 public:
  RadialView();
  ~RadialView() override;
  RadialView(const RadialView&) = delete;
  RadialView& operator=(const RadialView&) = delete;

  // RadialWindow.
  void present(const RadialFace& face, const Rect& frame, RadialWindowEvents& events) override;
  void select(int sector) override;
  void hide() override;
  bool isVisible() const override;

  GtkWindow* window() const;
  // Whether the pointer and the keyboard are the menu's.
  bool hasInput() const { return grabbed_; }

 private:
  struct Signals;

  void draw(cairo_t* target) const;
  // The preview (or the text placeholder) and the summary.
  void drawCentre(cairo_t* cairo, PangoLayout* text, const GdkRGBA& label) const;
  void grabInput();
  void releaseInput();
  // Limits the window to its disc where no compositor blends the corners
  // away; changes the shape only when the compositor comes or goes.
  void shapeToDisc();

  GtkWidget* window_ = nullptr;
  RadialFace face_;
  // Decodes the face's image for the preview and redraws with it.
  void decodePreview();

  GObjectPtr<GdkPixbuf> preview_;
  // The face has an image whose preview is not decoded yet, and the idle
  // source that starts decoding it after the first frame.
  bool previewPending_ = false;
  guint previewStart_ = 0;
  // Counts presentations, so that a late preview only lands on its own.
  std::uint64_t presentation_ = 0;
  // The shape while the window has one.
  GPtr<cairo_region_t, cairo_region_destroy> disc_;
  // The ring of each kind of material and highlight drawn so far, kept on the
  // X server, in the label colour they were drawn in.
  struct CachedRing {
    std::array<std::string, 3> titles;
    std::array<std::string, 3> symbols;
    int selected;
    GPtr<cairo_surface_t, cairo_surface_destroy> image;
  };
  mutable std::vector<CachedRing> rings_;
  mutable GdkRGBA ringLabel_{};
  RadialWindowEvents* events_ = nullptr;
  bool grabbed_ = false;
  guint grabRetry_ = 0;
  int grabAttempts_ = 0;
  Lifetime lifetime_;
};

}  // namespace glimmet
