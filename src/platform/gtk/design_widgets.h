#pragma once

// Labels in the design fonts, shared by the program's own GTK windows.

#include <gtk/gtk.h>

#include "surfaces/design.h"

namespace glimmet {

// Sets `label`'s font to `spec` (the design family when its face is installed).
void setDesignFont(GtkWidget* label, const PlumoraDesign::FontSpec& spec);

// A left-aligned label that wraps, in `spec`.
GtkWidget* wrappingLabel(const char* text, const PlumoraDesign::FontSpec& spec);

}  // namespace glimmet
