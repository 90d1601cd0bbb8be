#include "platform/gtk/interim_desktop_services.h"

#include <gio/gio.h>

#include <cstdio>
#include <utility>

#include "core/glib_ptr.h"

namespace glimmet {

void ExternalVideoPlayer::show(Request request) {
  GObjectPtr<GFile> file(g_file_new_for_path(request.file.c_str()));
  GTextPtr uri(g_file_get_uri(file.get()));
  if (!workspace_.openUrl(uri.get())) {
    std::fprintf(stderr, "glimmet: no application plays %s\n", request.file.c_str());
  }
}

}  // namespace glimmet
