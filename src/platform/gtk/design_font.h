#pragma once

// A design token's font (PlumoraDesign::FontSpec) as Pango takes it.

#include <pango/pango.h>

#include "core/glib_ptr.h"
#include "surfaces/design.h"

namespace glimmet {

using PangoFontPtr = GPtr<PangoFontDescription, pango_font_description_free>;

inline PangoFontPtr pangoFont(const PlumoraDesign::FontSpec& spec) {
  namespace Design = PlumoraDesign;
  PangoFontPtr font(pango_font_description_new());
  pango_font_description_set_family(
      font.get(), spec.face.empty() ? spec.family.c_str() : Design::kDesignFamily);
  pango_font_description_set_size(font.get(), static_cast<gint>(spec.pointSize * PANGO_SCALE));
  pango_font_description_set_weight(
      font.get(), spec.weight == Design::FontWeight::semibold ? PANGO_WEIGHT_SEMIBOLD
                  : spec.weight == Design::FontWeight::medium ? PANGO_WEIGHT_MEDIUM
                                                              : PANGO_WEIGHT_NORMAL);
  return font;
}

}  // namespace glimmet
