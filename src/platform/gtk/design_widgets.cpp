#include "platform/gtk/design_widgets.h"

#include "platform/gtk/design_font.h"

namespace glimmet {

namespace Design = PlumoraDesign;

void setDesignFont(GtkWidget* label, const Design::FontSpec& spec) {
  const PangoFontPtr font = pangoFont(spec);
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
