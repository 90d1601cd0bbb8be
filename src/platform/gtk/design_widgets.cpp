#include "platform/gtk/design_widgets.h"

#include "core/glib_ptr.h"

namespace glimmet {

namespace Design = PlumoraDesign;

void setDesignFont(GtkWidget* label, const Design::FontSpec& spec) {
  GPtr<PangoFontDescription, pango_font_description_free> font(pango_font_description_new());
  pango_font_description_set_family(
      font.get(), spec.face.empty() ? spec.family.c_str() : Design::kDesignFamily);
  pango_font_description_set_size(font.get(), static_cast<gint>(spec.pointSize * PANGO_SCALE));
  pango_font_description_set_weight(
      font.get(), spec.weight == Design::FontWeight::semibold ? PANGO_WEIGHT_SEMIBOLD
                  : spec.weight == Design::FontWeight::medium ? PANGO_WEIGHT_MEDIUM
                                                              : PANGO_WEIGHT_NORMAL);
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_font_desc_new(font.get()));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
}

GtkWidget* wrappingLabel(const char* text, const Design::FontSpec& spec) {
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
  setDesignFont(label, spec);
  return label;
}

}  // namespace glimmet
