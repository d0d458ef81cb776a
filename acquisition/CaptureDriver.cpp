// SPDX-License-Identifier: GPL-3.0-or-later
// GStreamer first: Qt's keyword macros (signals, slots) clash with names in GLib's headers.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "CaptureDriver.h"

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
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

// A size field of a caps structure: listed values, or a range.
struct Extent {
  bool present = false;
  std::vector<int> values;  // empty for a range
  int min = 0, max = 0, step = 1;

  bool Holds(int value) const {
    if (!values.empty())
      return std::find(values.begin(), values.end(), value) != values.end();
    return value >= min && value <= max && (value - min) % step == 0;
  }
  int Largest() const {
    return values.empty() ? min + (max - min) / step * step
                          : *std::max_element(values.begin(), values.end());
  }
};

Extent ReadExtent(const GstStructure* structure, const char* field) {
  Extent extent;
  const GValue* value = gst_structure_get_value(structure, field);
  if (value == nullptr) {
  } else if (G_VALUE_HOLDS_INT(value)) {
    extent.values = {g_value_get_int(value)};
  } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
    extent.min = gst_value_get_int_range_min(value);
    extent.max = gst_value_get_int_range_max(value);
    extent.step = std::max(1, gst_value_get_int_range_step(value));
  } else if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
      const GValue* item = gst_value_list_get_value(value, i);
      if (G_VALUE_HOLDS_INT(item))
        extent.values.push_back(g_value_get_int(item));
    }
  }
  extent.present = !extent.values.empty() || extent.max > 0;
  return extent;
}

bool Faster(const TCaptureFormat& a, const TCaptureFormat& b) {
  return std::int64_t{a.rateNumerator} * b.rateDenominator >
         std::int64_t{b.rateNumerator} * a.rateDenominator;
}

// The highest rate a structure offers; none where it names none, or any rate at all.
void ReadBestRate(const GstStructure* structure, TCaptureFormat* format) {
  const GValue* value = gst_structure_get_value(structure, "framerate");
  auto offer = [format](const GValue* rate) {
    if (!GST_VALUE_HOLDS_FRACTION(rate))
      return;
    const TCaptureFormat offered{.rateNumerator = gst_value_get_fraction_numerator(rate),
                                 .rateDenominator = gst_value_get_fraction_denominator(rate)};
    if (offered.rateNumerator > 0 && offered.rateDenominator > 0 &&
        offered.rateNumerator / offered.rateDenominator < 1000 && Faster(offered, *format)) {
      format->rateNumerator = offered.rateNumerator;
      format->rateDenominator = offered.rateDenominator;
    }
  };
  if (value == nullptr)
    return;
  if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
    offer(gst_value_get_fraction_range_max(value));
  } else if (GST_VALUE_HOLDS_LIST(value)) {
    for (guint i = 0; i < gst_value_list_get_size(value); ++i)
      offer(gst_value_list_get_value(value, i));
  } else {
    offer(value);
  }
}

// Sizes tried where a camera offers a range of them, besides its largest.
constexpr std::pair<int, int> kCommonSizes[] = {
    {320, 240},  {640, 480},   {800, 600},   {1024, 768},  {1280, 720},
    {1280, 960}, {1600, 1200}, {1920, 1080}, {2560, 1440}, {3840, 2160},
};

std::vector<TCaptureFormat> FormatsOf(const GstCaps* caps) {
  std::vector<TCaptureFormat> formats;
  if (caps == nullptr || gst_caps_is_any(caps) || gst_caps_is_empty(caps))
    return formats;
  auto offer = [&formats](const TCaptureFormat& format) {
    for (TCaptureFormat& known : formats) {
      if (known.width == format.width && known.height == format.height) {
        if (Faster(format, known) || (!Faster(known, format) && known.jpeg && !format.jpeg))
          known = format;
        return;
      }
    }
    formats.push_back(format);
  };
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* structure = gst_caps_get_structure(caps, i);
    const bool jpeg = gst_structure_has_name(structure, "image/jpeg");
    if (!InSystemMemory(caps, i) || (!jpeg && !gst_structure_has_name(structure, "video/x-raw")))
      continue;
    TCaptureFormat format{.usable = true, .jpeg = jpeg};
    ReadBestRate(structure, &format);
    const Extent width = ReadExtent(structure, "width");
    const Extent height = ReadExtent(structure, "height");
    if (!width.present || !height.present) {
      offer(format);
      continue;
    }
    std::vector<std::pair<int, int>> sizes;
    if (!width.values.empty() && !height.values.empty()) {
      for (int w : width.values)
        for (int h : height.values)
          sizes.emplace_back(w, h);
    } else {
      sizes.assign(std::begin(kCommonSizes), std::end(kCommonSizes));
      sizes.emplace_back(width.Largest(), height.Largest());
    }
    for (const auto& [w, h] : sizes) {
      if (w > 0 && h > 0 && width.Holds(w) && height.Holds(h)) {
        format.width = w;
        format.height = h;
        offer(format);
      }
    }
  }
  std::sort(formats.begin(), formats.end(), [](const TCaptureFormat& a, const TCaptureFormat& b) {
    return std::pair{std::int64_t{a.width} * a.height, a.width} >
           std::pair{std::int64_t{b.width} * b.height, b.width};
  });
  return formats;
}

GstCaps* FilterFor(const TCaptureFormat& format) {
  GstCaps* caps = gst_caps_new_empty_simple(format.jpeg ? "image/jpeg" : "video/x-raw");
  if (format.width > 0)
    gst_caps_set_simple(caps, "width", G_TYPE_INT, format.width, "height", G_TYPE_INT,
                        format.height, nullptr);
  if (format.rateNumerator > 0)
    gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, format.rateNumerator,
                        format.rateDenominator, nullptr);
  return caps;
}

void Discard(GstElement* floating) {
  if (floating != nullptr) {
    gst_object_ref_sink(floating);
    gst_object_unref(floating);
  }
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

// Driver `index` among the cameras: its source, the format chosen, the converter and the sink.
GstElement* DevicePipeline(int index) {
  TCameras* cameras = TCameras::Instance();
  TCaptureFormat format;
  GstElement* source = cameras != nullptr ? cameras->CreateSource(index, &format) : nullptr;
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

std::vector<TCaptureFormat> CaptureFormats(const QString& offeredCaps) {
  if (!GstreamerReady())
    return {};
  GstCaps* caps = gst_caps_from_string(offeredCaps.toUtf8().constData());
  std::vector<TCaptureFormat> formats = FormatsOf(caps);
  if (caps != nullptr)
    gst_caps_unref(caps);
  return formats;
}

TCaptureFormat DefaultCaptureFormat(const std::vector<TCaptureFormat>& formats) {
  for (const TCaptureFormat& format : formats) {
    if (!Faster(TCaptureFormat{.rateNumerator = 25}, format))
      return format;
  }
  return formats.empty() ? TCaptureFormat{} : formats.front();
}

TCaptureFormat ChooseCaptureFormat(const QString& offeredCaps) {
  return DefaultCaptureFormat(CaptureFormats(offeredCaps));
}

QString CaptureFormatLabel(const TCaptureFormat& format) {
  QString label = format.width > 0 ? QStringLiteral("%1 × %2").arg(format.width).arg(format.height)
                                   : QStringLiteral("攝影機預設大小");
  if (format.rateNumerator > 0)
    label += QStringLiteral(" @ %1 fps")
                 .arg(double(format.rateNumerator) / format.rateDenominator, 0, 'g', 4);
  return label;
}

namespace {

// The one list of cameras; the mutex keeps the monitor's threads from posting to it while it goes.
std::mutex camerasMutex;
TCameras* theCameras = nullptr;

QEvent::Type RefreshEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

struct TCamerasCallbacks {
  // Runs on the device providers' threads: only asks the user-interface thread to look again.
  static GstBusSyncReply MonitorMessage(GstBus*, GstMessage* message, gpointer) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_DEVICE_ADDED:
      case GST_MESSAGE_DEVICE_REMOVED:
      case GST_MESSAGE_DEVICE_CHANGED: {
        const std::lock_guard lock(camerasMutex);
        if (theCameras != nullptr && !theCameras->refreshPending_.exchange(true))
          QCoreApplication::postEvent(theCameras, new QEvent(RefreshEvent()));
        break;
      }
      default:
        break;
    }
    return GST_BUS_DROP;
  }
};

TCameras* TCameras::Instance() {
  if (theCameras == nullptr && GstreamerReady())
    new TCameras;
  return theCameras;
}

QByteArray TCameras::StandIn() {
  return qgetenv("CCDLAB_CAPTURE_SOURCE").trimmed();
}

// Goes with the application object.
TCameras::TCameras() : QObject(QCoreApplication::instance()) {
  {
    const std::lock_guard lock(camerasMutex);
    theCameras = this;
  }
  monitor_ = gst_device_monitor_new();
  gst_device_monitor_add_filter(monitor_, "Video/Source", nullptr);
  GstBus* bus = gst_device_monitor_get_bus(monitor_);
  gst_bus_set_sync_handler(bus, &TCamerasCallbacks::MonitorMessage, nullptr, nullptr);
  gst_object_unref(bus);
  // Without a provider that watches, the devices are probed afresh on every look.
  watching_ = gst_device_monitor_start(monitor_) != FALSE;
  Reload();
}

TCameras::~TCameras() {
  {
    const std::lock_guard lock(camerasMutex);
    theCameras = nullptr;
  }
  gst_device_monitor_stop(monitor_);
  gst_object_unref(monitor_);
  for (GstDevice* device : devices_)
    gst_object_unref(device);
}

void TCameras::customEvent(QEvent* event) {
  if (event->type() == RefreshEvent())
    Reload();
  else
    QObject::customEvent(event);
}

void TCameras::Refresh() {
  // A device unplugged a moment ago may not have been taken off the list yet.
  if (refreshPending_ || !watching_)
    Reload();
}

void TCameras::Reload() {
  refreshPending_ = false;
  std::vector<TCamera> found;
  std::vector<GstDevice*> devices;
  GList* listed = gst_device_monitor_get_devices(monitor_);
  for (GList* item = listed; item != nullptr; item = item->next) {
    GstDevice* device = GST_DEVICE(item->data);
    // Nodes without a video format (metadata nodes, outputs) are no cameras.
    if (!gst_device_has_classes(device, "Video/Source"))
      continue;
    GstCaps* caps = gst_device_get_caps(device);
    std::vector<TCaptureFormat> formats = FormatsOf(caps);
    if (caps != nullptr)
      gst_caps_unref(caps);
    if (formats.empty())
      continue;
    gchar* display = gst_device_get_display_name(device);
    const QString name = display != nullptr && *display != '\0' ? QString::fromUtf8(display)
                                                                : QStringLiteral("攝影機");
    g_free(display);
    QString numbered = name;
    for (int n = 2; std::any_of(found.begin(), found.end(),
                                [&](const TCamera& camera) { return camera.name == numbered; });
         ++n)
      numbered = QStringLiteral("%1 (%2)").arg(name).arg(n);
    found.push_back({numbered, std::move(formats)});
    devices.push_back(GST_DEVICE(gst_object_ref(device)));
  }
  g_list_free_full(listed, gst_object_unref);
  for (GstDevice* device : devices_)
    gst_object_unref(device);
  devices_ = std::move(devices);
  const bool changed = cameras_ != found;
  cameras_ = std::move(found);
  if (changed)
    emit Changed();
}

int TCameras::Current() const {
  for (std::size_t i = 0; i < cameras_.size(); ++i) {
    if (cameras_[i].name == chosen_)
      return static_cast<int>(i);
  }
  return cameras_.empty() ? -1 : 0;
}

TCaptureFormat TCameras::CurrentFormat() const {
  const int current = Current();
  if (current < 0)
    return {};
  const std::vector<TCaptureFormat>& formats = cameras_[current].formats;
  if (cameras_[current].name == chosen_ &&
      std::find(formats.begin(), formats.end(), chosenFormat_) != formats.end())
    return chosenFormat_;
  return DefaultCaptureFormat(formats);
}

void TCameras::Choose(const QString& name, const TCaptureFormat& format) {
  chosen_ = name;
  chosenFormat_ = format;
}

GstElement* TCameras::CreateSource(int index, TCaptureFormat* format) {
  Refresh();
  const int camera = index == 0 ? Current() : index;
  if (camera < 0 || camera >= static_cast<int>(cameras_.size()))
    return nullptr;
  *format = index == 0 ? CurrentFormat() : DefaultCaptureFormat(cameras_[camera].formats);
  // The camera taken in place of one chosen and gone stays the one in use, should that one return.
  if (index == 0)
    Choose(cameras_[camera].name, *format);
  return gst_device_create_element(devices_[camera], nullptr);
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

  const QByteArray standIn = TCameras::StandIn();
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
  ++delivered_;
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
