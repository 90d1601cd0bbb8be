#pragma once

// What the sound and the video player share of GStreamer: initialising it
// once, holding elements, and naming local files as URIs.

#include <gst/gst.h>

#include <filesystem>
#include <string>

#include "core/glib_ptr.h"

namespace glimmet::gstreamer {

using ElementPtr = GPtr<GstElement, gst_object_unref>;

// Initialises GStreamer once; false when it cannot start.
bool ready();
// Takes ownership of a newly made (floating) element; null stays null.
ElementPtr adopt(GstElement* floating);
// The file: URI of `file`, made absolute; "" when it has none.
std::string fileUri(const std::filesystem::path& file);

}  // namespace glimmet::gstreamer
