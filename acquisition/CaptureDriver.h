#pragma once

#include <QEvent>
#include <QImage>
#include <QString>
#include <atomic>

class QObject;
typedef struct _GError GError;
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

// The camera format a connection asks for among those a device offers.
struct TCaptureFormat {
  bool usable = false;  // the device offers raw video or JPEG at all
  bool jpeg = false;    // only JPEG: a decoder goes in front of the converter
  int width = 0;        // 0: the device picks
  int height = 0;
  friend bool operator==(const TCaptureFormat&, const TCaptureFormat&) = default;
};

// Picks from caps in GStreamer's text form: raw video before JPEG, and 640 × 480 or 1280 × 720
// when offered, which keep a live preview smooth and a grabbed frame useful.
TCaptureFormat ChooseCaptureFormat(const QString& offeredCaps);

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

  // Driver `index` in the order GstDeviceMonitor reports cameras; CCDLAB_CAPTURE_SOURCE, a
  // source in gst-launch syntax, stands in for driver 0. False when it could not be started;
  // State() then tells why. A connection already made is closed first.
  bool Connect(int index);
  // Stops the pipeline and releases the device.
  void Disconnect();
  bool Connected() const { return pipeline_ != nullptr; }
  TCaptureState State() const { return state_; }

  // On a WakeEvent: the newest frame not taken yet (null when none), sharing the buffer's memory,
  // and the pipeline's errors. A failed or ended stream is stopped, releasing the device.
  QImage TakeFrame();
  void ReadBus();

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
};
