#pragma once

// The radial action menu on X11: a borderless pop-up window with an RGBA
// visual, drawn with cairo and Pango in the design tokens: a round frosted
// disc, three ring sectors with their icons and numbered labels, the preview
// of the material (or a text placeholder) and a one-line summary. It takes
// the pointer and the keyboard while shown (a seat grab, as menus do), so a
// press outside it and the keys reach it without the window manager's focus;
// losing the grab to another program counts as a press outside. Colours follow
// the theme's label colour, so the menu is light or dark with the desktop.
// Main thread only; requires an initialised GTK.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "core/glib_ptr.h"
#include "platform/radial_window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef struct _cairo cairo_t;

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

  void draw(cairo_t* cairo) const;
  void grabInput();
  void releaseInput();
  // Limits the window to its disc where no compositor blends the corners away.
  void shapeToDisc();

  GtkWidget* window_ = nullptr;
  RadialFace face_;
  GObjectPtr<GdkPixbuf> preview_;
  RadialWindowEvents* events_ = nullptr;
  bool grabbed_ = false;
  guint grabRetry_ = 0;
  int grabAttempts_ = 0;
};

}  // namespace glimmet
