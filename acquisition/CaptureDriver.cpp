// GStreamer first: Qt's keyword macros (signals, slots) clash with names in GLib's headers.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "CaptureDriver.h"

#include <QCoreApplication>
#include <QObject>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

int livePipelines = 0;

bool GstreamerReady() {
  static const bool ready = gst_init_check(nullptr, nullptr, nullptr);
  return ready;
}

bool InSystemMemory(const GstCaps* caps, guint i) {
  GstCapsFeatures* features = gst_caps_get_features(caps, i);
  return features == nullptr ||
         gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY);
}

bool Offers(const GstCaps* caps, const GstStructure* wanted) {
  const guint count = gst_caps_get_size(caps);
  for (guint i = 0; i < count; ++i) {
    const GstStructure* offered = gst_caps_get_structure(caps, i);
    if (InSystemMemory(caps, i) && gst_structure_can_intersect(offered, wanted))
      return true;
  }
  return false;
}

TCaptureFormat ChooseFormat(const GstCaps* caps) {
  if (caps == nullptr || gst_caps_is_any(caps) || gst_caps_is_empty(caps))
    return {};
  const std::pair<int, int> preferred[] = {{640, 480}, {1280, 720}};
  for (const char* media : {"video/x-raw", "image/jpeg"}) {
    GstStructure* any = gst_structure_new_empty(media);
    const bool offered = Offers(caps, any);
    gst_structure_free(any);
    if (!offered)
      continue;
    TCaptureFormat format{true, g_str_equal(media, "image/jpeg") != FALSE, 0, 0};
    for (const auto& [width, height] : preferred) {
      GstStructure* size = gst_structure_new(media, "width", G_TYPE_INT, width, "height",
                                             G_TYPE_INT, height, nullptr);
      const bool hit = Offers(caps, size);
      gst_structure_free(size);
      if (hit) {
        format.width = width;
        format.height = height;
        break;
      }
    }
    return format;
  }
  return {};
}

GstCaps* FilterFor(const TCaptureFormat& format) {
  const char* media = format.jpeg ? "image/jpeg" : "video/x-raw";
  if (format.width == 0)
    return gst_caps_new_empty_simple(media);
  return gst_caps_new_simple(media, "width", G_TYPE_INT, format.width, "height", G_TYPE_INT,
                             format.height, nullptr);
}

void Discard(GstElement* floating) {
  if (floating != nullptr) {
    gst_object_ref_sink(floating);
    gst_object_unref(floating);
  }
}

// Driver `index` among the cameras the device monitor reports. Nodes without a video format
// (metadata nodes, outputs) are no drivers.
GstElement* CreateDeviceSource(int index, TCaptureFormat* format) {
  GstDeviceMonitor* monitor = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
  GList* devices = gst_device_monitor_get_devices(monitor);
  GstElement* source = nullptr;
  int found = 0;
  for (GList* item = devices; item != nullptr && source == nullptr; item = item->next) {
    GstDevice* device = GST_DEVICE(item->data);
    if (!gst_device_has_classes(device, "Video/Source"))
      continue;
    GstCaps* caps = gst_device_get_caps(device);
    const TCaptureFormat offered = ChooseFormat(caps);
    if (caps != nullptr)
      gst_caps_unref(caps);
    if (!offered.usable || found++ != index)
      continue;
    source = gst_device_create_element(device, nullptr);
    *format = offered;
  }
  g_list_free_full(devices, gst_object_unref);
  gst_object_unref(monitor);
  return source;
}

constexpr char kSinkName[] = "ccdlab-frames";

// The stand-in for driver 0: a source in gst-launch syntax, which may end in caps, followed by
// the converter and the sink. A mistyped description is a developer's slip: say what is wrong on
// stderr, the window shows no camera.
GstElement* ParsePipeline(const QByteArray& description) {
  const QByteArray launch = description + " ! videoconvert ! appsink name=" + QByteArray(kSinkName);
  GError* error = nullptr;
  GstElement* pipeline =
      gst_parse_launch_full(launch.constData(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error);
  if (error != nullptr) {
    std::fprintf(stderr, "ccdlab: CCDLAB_CAPTURE_SOURCE: %s\n", error->message);
    g_error_free(error);
    Discard(pipeline);
    return nullptr;
  }
  if (!GST_IS_PIPELINE(pipeline)) {
    Discard(pipeline);
    return nullptr;
  }
  return GST_ELEMENT(gst_object_ref_sink(pipeline));
}

// Driver `index` among the devices: its source, the format chosen, the converter and the sink.
GstElement* DevicePipeline(int index) {
  TCaptureFormat format;
  GstElement* source = CreateDeviceSource(index, &format);
  if (source == nullptr)
    return nullptr;
  auto* pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("ccdlab-capture")));
  gst_bin_add(GST_BIN(pipeline), source);
  std::vector<GstElement*> chain{source};
  bool complete = true;
  auto add = [&](const char* factory, const char* name = nullptr) {
    GstElement* element = gst_element_factory_make(factory, name);
    complete = complete && element != nullptr;
    if (element != nullptr) {
      gst_bin_add(GST_BIN(pipeline), element);
      chain.push_back(element);
    }
    return element;
  };
  if (GstElement* capsfilter = add("capsfilter")) {
    GstCaps* filter = FilterFor(format);
    g_object_set(capsfilter, "caps", filter, nullptr);
    gst_caps_unref(filter);
  }
  if (format.jpeg)
    add("jpegdec");
  add("videoconvert");
  add("appsink", kSinkName);
  for (std::size_t i = 1; complete && i < chain.size(); ++i)
    complete = gst_element_link(chain[i - 1], chain[i]) != FALSE;
  if (!complete) {
    gst_object_unref(pipeline);
    return nullptr;
  }
  return pipeline;
}

struct MappedFrame {
  GstSample* sample;
  GstVideoFrame frame;
};

void ReleaseFrame(void* info) {
  auto* mapped = static_cast<MappedFrame*>(info);
  gst_video_frame_unmap(&mapped->frame);
  gst_sample_unref(mapped->sample);
  delete mapped;
}

}  // namespace

QImage FrameFromSample(GstSample* sample) {
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstVideoInfo info;
  if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps) ||
      GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx) {
    gst_sample_unref(sample);
    return {};
  }
  auto* mapped = new MappedFrame{sample, {}};
  if (!gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ)) {
    gst_sample_unref(sample);
    delete mapped;
    return {};
  }
  // The buffer's own stride: a camera may pad its rows.
  const auto* pixels = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0));
  QImage image(
      pixels, GST_VIDEO_FRAME_WIDTH(&mapped->frame), GST_VIDEO_FRAME_HEIGHT(&mapped->frame),
      GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0), QImage::Format_RGB32, &ReleaseFrame, mapped);
  if (image.isNull())
    ReleaseFrame(mapped);
  return image;
}

struct TCaptureDriverCallbacks {
  static GstFlowReturn NewSample(GstAppSink* sink, gpointer self) {
    if (GstSample* sample = gst_app_sink_pull_sample(sink))
      static_cast<TCaptureDriver*>(self)->Deliver(sample);
    return GST_FLOW_OK;
  }

  // Runs on whichever thread posts. Only failures and the end of the stream concern the window;
  // everything else is dropped here so that nothing piles up on the bus.
  static GstBusSyncReply BusMessage(GstBus*, GstMessage* message, gpointer self) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR:
      case GST_MESSAGE_EOS:
        static_cast<TCaptureDriver*>(self)->Wake();
        return GST_BUS_PASS;
      default:
        return GST_BUS_DROP;
    }
  }
};

QString CaptureStateLine(TCaptureState state) {
  switch (state) {
    case TCaptureState::NoCamera:
      return QStringLiteral("無攝影機");
    case TCaptureState::Busy:
      return QStringLiteral("攝影機使用中");
    case TCaptureState::Lost:
      return QStringLiteral("攝影機已中斷");
    default:
      return {};
  }
}

TCaptureState StateAfterFailure(const GError* error, bool framesArrived) {
  if (error != nullptr && error->domain == GST_RESOURCE_ERROR &&
      error->code == GST_RESOURCE_ERROR_BUSY)
    return TCaptureState::Busy;
  return framesArrived ? TCaptureState::Lost : TCaptureState::NoCamera;
}

TCaptureFormat ChooseCaptureFormat(const QString& offeredCaps) {
  if (!GstreamerReady())
    return {};
  GstCaps* caps = gst_caps_from_string(offeredCaps.toUtf8().constData());
  const TCaptureFormat format = ChooseFormat(caps);
  if (caps != nullptr)
    gst_caps_unref(caps);
  return format;
}

TCaptureDriver::TCaptureDriver(QObject* receiver) : receiver_(receiver) {}

TCaptureDriver::~TCaptureDriver() {
  Stop();
}

QEvent::Type TCaptureDriver::WakeEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

int TCaptureDriver::LivePipelines() {
  return livePipelines;
}

bool TCaptureDriver::Connect(int index) {
  Disconnect();
  state_ = TCaptureState::NoCamera;
  if (!GstreamerReady())
    return false;

  const QByteArray standIn = qgetenv("CCDLAB_CAPTURE_SOURCE").trimmed();
  GstElement* pipeline = nullptr;
  if (standIn.isEmpty())
    pipeline = DevicePipeline(index);
  else if (index == 0)
    pipeline = ParsePipeline(standIn);
  if (pipeline == nullptr)
    return false;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), kSinkName);
  if (sink == nullptr || !GST_IS_APP_SINK(sink)) {
    if (sink != nullptr)
      gst_object_unref(sink);
    gst_object_unref(pipeline);
    return false;
  }

  GstCaps* bgrx = gst_caps_from_string("video/x-raw,format=BGRx");
  // One buffer at most waits in the sink; the newest frame is all the window wants.
  g_object_set(sink, "caps", bgrx, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
               nullptr);
  gst_caps_unref(bgrx);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &TCaptureDriverCallbacks::NewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
  gst_object_unref(sink);
  GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline));
  gst_bus_set_sync_handler(bus, &TCaptureDriverCallbacks::BusMessage, this, nullptr);
  gst_object_unref(bus);

  pipeline_ = pipeline;
  ++livePipelines;
  framesArrived_ = false;
  state_ = TCaptureState::Starting;
  if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    ReadBus();
    if (pipeline_ != nullptr) {
      state_ = TCaptureState::NoCamera;
      Stop();
    }
    return false;
  }
  return true;
}

void TCaptureDriver::Disconnect() {
  Stop();
  state_ = TCaptureState::Disconnected;
}

void TCaptureDriver::Stop() {
  if (pipeline_ == nullptr)
    return;
  // Joins the streaming thread: no frame or wake comes from this pipeline afterwards.
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  gst_object_unref(pipeline_);
  pipeline_ = nullptr;
  --livePipelines;
  if (GstSample* sample = newest_.exchange(nullptr))
    gst_sample_unref(sample);
}

void TCaptureDriver::Deliver(GstSample* sample) {
  framesArrived_ = true;
  if (GstSample* stale = newest_.exchange(sample))
    gst_sample_unref(stale);
  Wake();
}

void TCaptureDriver::Wake() {
  if (!wakePending_.exchange(true))
    QCoreApplication::postEvent(receiver_, new QEvent(WakeEvent()));
}

QImage TCaptureDriver::TakeFrame() {
  wakePending_ = false;
  GstSample* sample = newest_.exchange(nullptr);
  if (sample == nullptr)
    return {};
  QImage frame = FrameFromSample(sample);
  if (!frame.isNull() && state_ == TCaptureState::Starting)
    state_ = TCaptureState::Streaming;
  return frame;
}

void TCaptureDriver::ReadBus() {
  if (pipeline_ == nullptr)
    return;
  GstBus* bus = gst_element_get_bus(pipeline_);
  bool ended = false;
  while (GstMessage* message = gst_bus_pop_filtered(
             bus, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS))) {
    if (!ended) {
      GError* error = nullptr;
      if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        gst_message_parse_error(message, &error, nullptr);
      state_ = StateAfterFailure(error, framesArrived_);
      if (error != nullptr)
        g_error_free(error);
      ended = true;
    }
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  if (ended)
    Stop();
}
