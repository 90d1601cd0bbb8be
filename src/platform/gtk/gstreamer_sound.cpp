#include "platform/gtk/gstreamer_sound.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <system_error>

#include "core/glib_ptr.h"
#include "platform/gtk/gstreamer_support.h"

namespace glimmet {

namespace {

using gstreamer::adopt;
using gstreamer::ElementPtr;
using gstreamer::fileUri;

constexpr GstClockTime kDecodeTimeout = 5 * GST_SECOND;

// Whether `uri` names something that decodes to at least one audio stream.
bool decodesAsSound(const std::string& uri) {
  GError* raw = nullptr;
  GObjectPtr<GstDiscoverer> discoverer(gst_discoverer_new(kDecodeTimeout, &raw));
  GErrorPtr error(raw);
  if (!discoverer) return false;
  raw = nullptr;
  GObjectPtr<GstDiscovererInfo> info(
      gst_discoverer_discover_uri(discoverer.get(), uri.c_str(), &raw));
  error.reset(raw);
  if (!info || gst_discoverer_info_get_result(info.get()) != GST_DISCOVERER_OK) return false;
  GList* streams = gst_discoverer_info_get_audio_streams(info.get());
  const bool audible = streams != nullptr;
  gst_discoverer_stream_info_list_free(streams);
  return audible;
}

ElementPtr makeSink(const std::string& description) {
  if (description.empty()) return adopt(gst_element_factory_make("autoaudiosink", nullptr));
  GError* raw = nullptr;
  ElementPtr sink = adopt(gst_parse_bin_from_description(description.c_str(), TRUE, &raw));
  GErrorPtr error(raw);
  return sink;
}

// Audio sinks open their device on the way to READY: a sink that cannot get
// there has no device to play on. autoaudiosink settles for a fakesink when
// no real output opens, which plays nothing, so that counts as no device too.
bool sinkOpens(GstElement* sink, bool automatic) {
  bool opens = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
  if (opens && automatic && GST_IS_BIN(sink)) {
    GstIterator* children = gst_bin_iterate_sinks(GST_BIN(sink));
    GValue child = G_VALUE_INIT;
    while (gst_iterator_next(children, &child) == GST_ITERATOR_OK) {
      GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&child)));
      if (factory != nullptr && g_str_equal(GST_OBJECT_NAME(factory), "fakesink")) opens = false;
      g_value_reset(&child);
    }
    g_value_unset(&child);
    gst_iterator_free(children);
  }
  gst_element_set_state(sink, GST_STATE_NULL);
  return opens;
}

}  // namespace

// One sound on its way: the pipeline, the watch on its bus and the completion.
class GStreamerSound::Playback {
 public:
  Playback(ElementPtr pipeline, GStreamerSound* owner, Completion completion)
      : pipeline_(std::move(pipeline)), completion_(std::move(completion)) {
    GPtr<GstBus, gst_object_unref> bus(gst_element_get_bus(pipeline_.get()));
    watch_ = gst_bus_add_watch(bus.get(), onMessage, owner);
  }
  ~Playback() {
    if (watch_ != 0) g_source_remove(watch_);
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  }
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  bool start() {
    return gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  }
  Completion takeCompletion() { return std::move(completion_); }

 private:
  static gboolean onMessage(GstBus*, GstMessage* message, gpointer owner) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS:
        static_cast<GStreamerSound*>(owner)->end(true);
        return G_SOURCE_REMOVE;
      case GST_MESSAGE_ERROR:
        static_cast<GStreamerSound*>(owner)->end(false);
        return G_SOURCE_REMOVE;
      default:
        return G_SOURCE_CONTINUE;
    }
  }

  ElementPtr pipeline_;
  guint watch_ = 0;
  Completion completion_;
};

bool GStreamerSound::decodes(const std::filesystem::path& file) {
  std::error_code failed;
  if (!gstreamer::ready() || !std::filesystem::is_regular_file(file, failed)) return false;
  const std::string uri = fileUri(file);
  return !uri.empty() && decodesAsSound(uri);
}

GStreamerSound::GStreamerSound(std::string audioSink) : audioSink_(std::move(audioSink)) {}

GStreamerSound::~GStreamerSound() { stop(); }

Sound::PlayStatus GStreamerSound::play(const std::filesystem::path& file, double volume,
                                       Completion completion) {
  if (!decodes(file)) return PlayStatus::missingResource;
  const std::string uri = fileUri(file);

  stop();
  ElementPtr sink = makeSink(audioSink_);
  if (!sink || !sinkOpens(sink.get(), audioSink_.empty())) return PlayStatus::failed;
  ElementPtr pipeline = adopt(gst_element_factory_make("playbin", nullptr));
  if (!pipeline) return PlayStatus::failed;
  g_object_set(pipeline.get(), "uri", uri.c_str(), "volume", std::clamp(volume, 0.0, 1.0),
               "audio-sink", sink.get(), nullptr);
  // Audio only: a file that also carries pictures must not open a video window.
  gst_util_set_object_arg(G_OBJECT(pipeline.get()), "flags", "audio+soft-volume");

  auto playback = std::make_unique<Playback>(std::move(pipeline), this, std::move(completion));
  if (!playback->start()) return PlayStatus::failed;
  playback_ = std::move(playback);
  return PlayStatus::playing;
}

void GStreamerSound::stop() { playback_.reset(); }

void GStreamerSound::end(bool finished) {
  if (!playback_) return;
  Completion completion = playback_->takeCompletion();
  playback_.reset();
  // Last: the completion may start the next sound.
  if (completion) completion(finished);
}

}  // namespace glimmet
