#include "platform/gtk/gstreamer_support.h"

#include <system_error>

namespace glimmet::gstreamer {

bool ready() {
  static const bool started = gst_init_check(nullptr, nullptr, nullptr);
  return started;
}

ElementPtr adopt(GstElement* floating) {
  return ElementPtr(floating != nullptr ? GST_ELEMENT(gst_object_ref_sink(floating)) : nullptr);
}

std::string fileUri(const std::filesystem::path& file) {
  std::error_code failed;
  const std::filesystem::path absolute = std::filesystem::absolute(file, failed);
  if (failed) return {};
  GTextPtr uri(g_filename_to_uri(absolute.c_str(), nullptr, nullptr));
  return uri ? std::string(uri.get()) : std::string();
}

}  // namespace glimmet::gstreamer
