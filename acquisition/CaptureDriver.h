// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

typedef struct _GError GError;
typedef struct _GstDevice GstDevice;
typedef struct _GstDeviceMonitor GstDeviceMonitor;
typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;

// What a capture window's connection is doing, as the window tells the operator.
enum class TCaptureState {
  Disconnected,
  Starting,   // pipeline started, no frame yet
  Streaming,  // frames arrive
  NoCamera,   // nothing to connect to, or it would not start
  Busy,       // another program holds the camera
  Lost,       // the stream stopped: unplugged, failing or ended
};

// The short line a capture window draws for a state; empty where the picture says it all.
QString CaptureStateLine(TCaptureState state);

// The state a connection ends in after a pipeline error (nullptr for the end of the stream).
TCaptureState StateAfterFailure(const GError* error, bool framesArrived);

// One size a camera offers, at the best rate it offers it there, and the stream that gives it.
struct TCaptureFormat {
  bool usable = false;  // the device offers raw video or JPEG at all
  bool jpeg = false;    // JPEG: a decoder goes in front of the converter
  int width = 0;        // 0: the device picks
  int height = 0;
  int rateNumerator = 0;  // frames per second as a fraction; 0: the device does not say
  int rateDenominator = 1;
  friend bool operator==(const TCaptureFormat&, const TCaptureFormat&) = default;
};

// The sizes offered by caps in GStreamer's text form, largest first: raw video or JPEG in system
// memory, each size once, at the higher rate it comes at, raw video where the rates are even.
std::vector<TCaptureFormat> CaptureFormats(const QString& offeredCaps);
// The format a camera starts in: its largest size at 25 frames per second or more, else its
// largest. Not usable when nothing is.
TCaptureFormat DefaultCaptureFormat(const std::vector<TCaptureFormat>& formats);
TCaptureFormat ChooseCaptureFormat(const QString& offeredCaps);
// "1280 × 720 @ 30 fps", as the camera menu lists it.
QString CaptureFormatLabel(const TCaptureFormat& format);

// A camera the device monitor knows.
struct TCamera {
  QString name;                         // its display name, numbered when two cameras share one
  std::vector<TCaptureFormat> formats;  // largest first
  friend bool operator==(const TCamera&, const TCamera&) = default;
};

// The cameras on the machine, kept current by the device monitor's messages while the program
// runs, and the operator's choice among them, which lasts for the run. Driver 0 is the camera
// chosen, else the first one. Lives on the user-interface thread; CCDLAB_CAPTURE_SOURCE, when
// set, stands in for every camera and no monitor runs.
class TCameras : public QObject {
  Q_OBJECT

 public:
  // The one list, made on first use; nullptr when GStreamer cannot start.
  static TCameras* Instance();
  // The stand-in source description, or empty.
  static QByteArray StandIn();

  // Takes in what the monitor has reported since; probes again where no provider watches.
  void Refresh();
  const std::vector<TCamera>& List() const { return cameras_; }
  // The camera driver 0 connects to (-1 without cameras), and the format it asks for.
  int Current() const;
  TCaptureFormat CurrentFormat() const;
  // Chooses a camera by its name, at `format`, or at its default format when it offers no such.
  void Choose(const QString& name, const TCaptureFormat& format = {});

  // The source element of driver `index` and the format to ask of it; nullptr without one.
  GstElement* CreateSource(int index, TCaptureFormat* format);

 signals:
  void Changed();

 protected:
  void customEvent(QEvent* event) override;

 private:
  friend struct TCamerasCallbacks;
  TCameras();
  ~TCameras() override;
  void Reload();

  GstDeviceMonitor* monitor_ = nullptr;
  bool watching_ = false;
  std::vector<TCamera> cameras_;
  std::vector<GstDevice*> devices_;  // beside cameras_, one reference each
  QString chosen_;
  TCaptureFormat chosenFormat_;
  std::atomic<bool> refreshPending_{false};
};

// A BGRx sample's pixels as an image sharing the buffer's memory, read at the buffer's own row
// stride; the buffer stays mapped until the image's last copy goes. Takes the sample's reference.
// A null image for any other format.
QImage FrameFromSample(GstSample* sample);

// One connection to a capture driver: a GStreamer pipeline from the driver's source through
// videoconvert to an appsink delivering BGRx frames.
//
// Frames arrive on GStreamer's streaming thread. That thread only swaps the newest frame into a
// one-place slot (a frame the user interface has not taken yet is dropped) and, when none is
// pending, posts one WakeEvent to the receiver. It never waits for the user-interface thread.
// Everything else runs on the user-interface thread.
class TCaptureDriver {
 public:
  explicit TCaptureDriver(QObject* receiver);
  ~TCaptureDriver();
  TCaptureDriver(const TCaptureDriver&) = delete;
  TCaptureDriver& operator=(const TCaptureDriver&) = delete;

  static QEvent::Type WakeEvent();

  // Driver `index` of TCameras: 0 the camera chosen, else in the order the device monitor
  // reports cameras; CCDLAB_CAPTURE_SOURCE, a source in gst-launch syntax, stands in for driver 0.
  // False when it could not be started; State() then tells why. A connection already made is
  // closed first.
  bool Connect(int index);
  // Stops the pipeline and releases the device.
  void Disconnect();
  bool Connected() const { return pipeline_ != nullptr; }
  TCaptureState State() const { return state_; }

  // On a WakeEvent: the newest frame not taken yet (null when none), sharing the buffer's memory,
  // and the pipeline's errors. A failed or ended stream is stopped, releasing the device.
  QImage TakeFrame();
  void ReadBus();
  // Frames the camera has delivered so far, taken or dropped: its rate, counted.
  std::uint64_t FramesDelivered() const { return delivered_; }

  // Pipelines of all drivers that are not stopped.
  static int LivePipelines();

 private:
  friend struct TCaptureDriverCallbacks;
  void Deliver(GstSample* sample);
  void Wake();
  void Stop();

  QObject* receiver_;
  GstElement* pipeline_ = nullptr;
  TCaptureState state_ = TCaptureState::Disconnected;
  std::atomic<GstSample*> newest_{nullptr};
  std::atomic<bool> wakePending_{false};
  std::atomic<bool> framesArrived_{false};
  std::atomic<std::uint64_t> delivered_{0};
};
