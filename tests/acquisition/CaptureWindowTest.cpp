// SPDX-License-Identifier: GPL-3.0-or-later
#include <gst/gst.h>
#include <gst/video/video.h>

#include "CaptureWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <memory>

namespace {

using namespace capture;

constexpr char kBars[] = "videotestsrc pattern=smpte ! video/x-raw,width=320,height=240";

// The seven bars of videotestsrc's SMPTE pattern, left to right, in its 100 % RGB colours.
const QRgb kBarColours[] = {qRgb(255, 255, 255), qRgb(255, 255, 0), qRgb(0, 255, 255),
                            qRgb(0, 255, 0),     qRgb(255, 0, 255), qRgb(255, 0, 0),
                            qRgb(0, 0, 255)};

void ExpectBars(const QImage& frame) {
  for (int bar = 0; bar < 7; ++bar) {
    const int x = (2 * bar + 1) * frame.width() / 14;
    for (int y : {0, frame.height() / 3})
      EXPECT_EQ(frame.pixel(x, y) | 0xff000000u, kBarColours[bar]) << "bar " << bar << " row " << y;
  }
}

class CaptureWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    panel_ = std::make_unique<QWidget>();
    panel_->resize(249, 185);
    panel_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel_.get()));
    qputenv("CCDLAB_CAPTURE_SOURCE", kBars);
  }
  void TearDown() override {
    DestroyWindow(handle_);
    EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
  }

  TCaptureWindow* Create(DWORD style = WS_CHILD | WS_VISIBLE) {
    handle_ = capCreateCaptureWindowA("Capture Window", style, 0, 0, 249, 185, panel_.get(), 0);
    return CaptureWindowFromHandle(handle_);
  }
  // What open does after its notice.
  TCaptureWindow* Open(const char* source) {
    qputenv("CCDLAB_CAPTURE_SOURCE", source);
    TCaptureWindow* window = Create();
    for (auto [message, wParam] : {std::pair{WM_CAP_DRIVER_CONNECT, 0},
                                   {WM_CAP_SET_OVERLAY, 1},
                                   {WM_CAP_SET_PREVIEW, 1},
                                   {WM_CAP_SET_SCALE, 1},
                                   {WM_CAP_SET_PREVIEWRATE, 33}})
      SendMessageA(handle_, message, wParam, 0);
    return window;
  }
  static bool ShowsAFrame(TCaptureWindow* window) {
    return QTest::qWaitFor([&] { return !window->ShownFrame().isNull(); }, 10000);
  }

  std::unique_ptr<QWidget> panel_;
  HWND handle_ = 0;
};

TEST(CaptureMessages, KeepTheNumbersOfTheCaptureService) {
  EXPECT_EQ(WM_CAP_DRIVER_CONNECT, 0x40Au);
  EXPECT_EQ(WM_CAP_DRIVER_DISCONNECT, 0x40Bu);
  EXPECT_EQ(WM_CAP_EDIT_COPY, 0x41Eu);
  EXPECT_EQ(WM_CAP_SET_PREVIEW, 0x432u);
  EXPECT_EQ(WM_CAP_SET_OVERLAY, 0x433u);
  EXPECT_EQ(WM_CAP_SET_PREVIEWRATE, 0x434u);
  EXPECT_EQ(WM_CAP_SET_SCALE, 0x435u);
  EXPECT_EQ(WS_CHILD | WS_VISIBLE, 0x50000000u);
}

TEST_F(CaptureWindow, HandlesOfGoneWindowsNameNothing) {
  EXPECT_EQ(
      capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, 1, 1, nullptr, 0), 0u);
  EXPECT_FALSE(IsWindow(0));
  EXPECT_FALSE(DestroyWindow(0));

  const HWND hidden = capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 10, 10, panel_.get(), 0);
  EXPECT_FALSE(CaptureWindowFromHandle(hidden)->isVisible());
  EXPECT_TRUE(DestroyWindow(hidden));

  Create();
  EXPECT_NE(handle_, hidden);  // handles are never reused
  EXPECT_TRUE(DestroyWindow(handle_));
  EXPECT_FALSE(IsWindow(handle_));
  EXPECT_EQ(panel_->findChild<TCaptureWindow*>(), nullptr);
  EXPECT_FALSE(DestroyWindow(handle_));
  EXPECT_EQ(SendMessageA(handle_, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
}

TEST_F(CaptureWindow, GoesWithItsParentAndStopsItsPipeline) {
  ASSERT_TRUE(ShowsAFrame(Open(kBars)));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 1);
  panel_.reset();
  EXPECT_FALSE(IsWindow(handle_));
  EXPECT_EQ(SendMessageA(handle_, WM_CAP_EDIT_COPY, 0, 0), 0);
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
}

TEST_F(CaptureWindow, PreviewsTheSourceScaledToTheWindowWithPreviewInForce) {
  TCaptureWindow* window = Open(kBars);
  EXPECT_TRUE(window->Previewing());
  EXPECT_FALSE(window->Overlaying());
  EXPECT_TRUE(window->Scaling());
  EXPECT_EQ(window->PreviewRate(), 33);
  ASSERT_TRUE(ShowsAFrame(window));
  EXPECT_EQ(window->State(), TCaptureState::Streaming);
  EXPECT_EQ(window->StateLine(), "");
  EXPECT_EQ(window->ShownFrame().size(), QSize(320, 240));
  ExpectBars(window->ShownFrame());
  // Scaled: the seven bars span the window.
  ExpectBars(window->grab().toImage());

  // At its own size the frame is clipped to the window and nothing else is drawn.
  qputenv("CCDLAB_CAPTURE_SOURCE", "videotestsrc pattern=smpte ! video/x-raw,width=140,height=100");
  SendMessageA(handle_, WM_CAP_DRIVER_CONNECT, 0, 0);
  SendMessageA(handle_, WM_CAP_SET_SCALE, 0, 0);
  ASSERT_TRUE(ShowsAFrame(window));
  const QImage painted = window->grab().toImage();
  EXPECT_EQ(painted.pixel(5, 5), kBarColours[0]);
  EXPECT_EQ(painted.pixel(135, 5), kBarColours[6]);
  EXPECT_EQ(painted.pixel(200, 150), qRgb(0, 0, 0));
}

TEST_F(CaptureWindow, DisconnectReleasesTheSourceAndAConnectionCanFollow) {
  TCaptureWindow* window = Open(kBars);
  ASSERT_TRUE(ShowsAFrame(window));
  EXPECT_TRUE(SendMessageA(handle_, WM_CAP_DRIVER_DISCONNECT, 0, 0));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
  EXPECT_FALSE(window->Connected());
  EXPECT_TRUE(window->ShownFrame().isNull());
  EXPECT_TRUE(SendMessageA(handle_, WM_CAP_DRIVER_CONNECT, 0, 0));
  EXPECT_TRUE(ShowsAFrame(window));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 1);
}

struct Failure {
  const char* source;
  TCaptureState state;
  bool keepsAFrame;
};

class FailingSource : public CaptureWindow, public ::testing::WithParamInterface<Failure> {};

// Each leaves the window in the panel, with its state line and the device released.
TEST_P(FailingSource, LeavesTheWindowWithAStateLine) {
  const Failure& failure = GetParam();
  TCaptureWindow* window = Open(failure.source);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->State() == failure.state; }, 10000))
      << static_cast<int>(window->State());
  EXPECT_FALSE(window->Connected());
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
  EXPECT_TRUE(IsWindow(handle_));
  EXPECT_EQ(window->ShownFrame().isNull(), !failure.keepsAFrame);
  // The state line is drawn in white over the picture or the empty window.
  const QImage painted = window->grab().toImage();
  EXPECT_EQ(window->StateLine(), CaptureStateLine(failure.state));
  EXPECT_FALSE(window->StateLine().isEmpty());
  int white = 0;
  for (int y = painted.height() / 2 - 20; y < painted.height(); ++y)
    for (int x = 0; x < painted.width(); ++x)
      white += painted.pixel(x, y) == qRgb(255, 255, 255);
  EXPECT_GT(white, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FailingSource,
    ::testing::Values(Failure{"this is ( not a pipeline", TCaptureState::NoCamera, false},
                      Failure{"v4l2src device=/dev/ccdlab-no-such-camera", TCaptureState::NoCamera,
                              false},
                      Failure{"fakesrc", TCaptureState::NoCamera, false},
                      Failure{"videotestsrc num-buffers=3 ! video/x-raw,width=160,height=120",
                              TCaptureState::Lost, true},
                      Failure{"videotestsrc pattern=black ! video/x-raw,width=160,height=120 ! "
                              "identity error-after=5",
                              TCaptureState::Lost, true}));

TEST(CaptureFailures, BusyStaysBusyOtherwiseLostOnceFramesCame) {
  struct Case {
    GQuark domain;
    int code;
    bool frames;
    TCaptureState state;
  };
  const Case cases[] = {
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, false, TCaptureState::Busy},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, true, TCaptureState::Busy},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, false, TCaptureState::NoCamera},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, true, TCaptureState::Lost},
      {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, false, TCaptureState::NoCamera},
  };
  for (const Case& c : cases) {
    GError* error = g_error_new_literal(c.domain, c.code, "x");
    EXPECT_EQ(StateAfterFailure(error, c.frames), c.state) << c.code << " " << c.frames;
    g_error_free(error);
  }
  EXPECT_EQ(StateAfterFailure(nullptr, true), TCaptureState::Lost);
  EXPECT_EQ(StateAfterFailure(nullptr, false), TCaptureState::NoCamera);
  EXPECT_EQ(CaptureStateLine(TCaptureState::NoCamera), "無攝影機");
  EXPECT_EQ(CaptureStateLine(TCaptureState::Busy), "攝影機使用中");
  EXPECT_EQ(CaptureStateLine(TCaptureState::Lost), "攝影機已中斷");
  EXPECT_EQ(CaptureStateLine(TCaptureState::Streaming), "");
}

// A camera starts at its largest size at 25 frames per second or more, else at its largest.
TEST(CaptureFormat, StartsAtTheLargestSizeThatKeepsThePreviewSmooth) {
  struct Case {
    const char* offered;
    TCaptureFormat chosen;
    const char* label;
  };
  const Case cases[] = {
      {"video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1; video/x-raw,format=YUY2,"
       "width=1280,height=720,framerate=10/1; video/x-raw,format=YUY2,width=640,height=480,"
       "framerate=30/1",
       {true, false, 640, 480, 30, 1},
       "640 × 480 @ 30 fps"},
      {"video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1; "
       "image/jpeg,width=1920,height=1080,framerate={15/1,30/1}; "
       "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
       {true, true, 1920, 1080, 30, 1},
       "1920 × 1080 @ 30 fps"},
      {"video/x-raw,width=2592,height=1944,framerate=2/1; video/x-raw,width=1920,height=1080,"
       "framerate=5/1",
       {true, false, 2592, 1944, 2, 1},
       "2592 × 1944 @ 2 fps"},
      {"video/x-raw,width=1920,height=1080,framerate=24/1; video/x-raw,width=1280,height=720,"
       "framerate=30000/1001",
       {true, false, 1280, 720, 30000, 1001},
       "1280 × 720 @ 29.97 fps"},
      {"image/jpeg,width=1280,height=720,framerate=30/1; video/x-raw,format=YUY2,width=1280,"
       "height=720,framerate=30/1",
       {true, false, 1280, 720, 30, 1},
       "1280 × 720 @ 30 fps"},
      {"video/x-raw,format=NV12,width=[16,4096],height=[16,2160],framerate=[1/1,60/1]",
       {true, false, 4096, 2160, 60, 1},
       "4096 × 2160 @ 60 fps"},
      {"image/jpeg,width=1920,height=1080; image/jpeg,width=1280,height=720; "
       "video/x-raw,format=YUY2,width=320,height=240",
       {true, true, 1920, 1080, 0, 1},
       "1920 × 1080"},
      {"video/x-raw,width=320,height=240,framerate=[0/1,2147483647/1]",
       {true, false, 320, 240, 0, 1},
       "320 × 240"},
      {"video/x-raw,format=YUY2", {true, false, 0, 0, 0, 1}, "攝影機預設大小"},
      {"video/x-raw(memory:DMABuf),format=NV12,width=640,height=480", {}, nullptr},
      {"audio/x-raw,rate=48000", {}, nullptr},
      {"video/x-bayer,width=640,height=480", {}, nullptr},
  };
  for (const Case& c : cases) {
    const TCaptureFormat chosen = ChooseCaptureFormat(QString::fromLatin1(c.offered));
    EXPECT_EQ(chosen, c.chosen) << c.offered << ": " << chosen.width << "x" << chosen.height;
    if (c.label != nullptr) {
      EXPECT_EQ(CaptureFormatLabel(chosen), QString::fromUtf8(c.label)) << c.offered;
    }
  }
}

TEST(CaptureFormat, ListsEachSizeOnceLargestFirst) {
  auto labels = [](const char* offered) {
    QStringList list;
    for (const TCaptureFormat& format : CaptureFormats(QString::fromLatin1(offered)))
      list << CaptureFormatLabel(format);
    return list.join(" | ").toStdString();
  };
  EXPECT_EQ(labels("video/x-raw,width=640,height=480,framerate=30/1; video/x-raw,width=1280,"
                   "height=720,framerate=10/1; image/jpeg,width=640,height=480,framerate=60/1"),
            "1280 × 720 @ 10 fps | 640 × 480 @ 60 fps");
  EXPECT_EQ(labels("video/x-raw,width=[320,1280,2],height=[240,960]"),
            "1280 × 960 | 1280 × 720 | 1024 × 768 | 800 × 600 | 640 × 480 | 320 × 240");
}

// A camera may pad its rows: the frame is read at the buffer's own stride.
TEST(CaptureFrame, FollowsTheBuffersStride) {
  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  const int width = 5, height = 3, stride = 5 * 4 + 12;
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, stride * height, nullptr);
  GstMapInfo map;
  ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_WRITE));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < stride; ++x)
      map.data[y * stride + x] = x < width * 4 ? static_cast<guint8>(16 * y + x / 4) : 0xEE;
  gst_buffer_unmap(buffer, &map);
  gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
  gint strides[GST_VIDEO_MAX_PLANES] = {stride};
  gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_BGRx, width,
                                 height, 1, offsets, strides);
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx,width=5,height=3");
  GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
  gst_caps_unref(caps);
  gst_buffer_unref(buffer);

  const QImage frame = FrameFromSample(sample);
  ASSERT_EQ(frame.size(), QSize(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto v = static_cast<int>(16 * y + x);
      EXPECT_EQ(frame.pixel(x, y) & 0xffffffu, static_cast<QRgb>(qRgb(v, v, v)) & 0xffffffu)
          << x << "," << y;
    }
}

// The copy puts the frame on display on the clipboard, opaque, replacing what was there.
TEST_F(CaptureWindow, CopyPutsTheFrameShownOnTheClipboard) {
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->setText("before");
  Create();
  EXPECT_EQ(SendMessageA(handle_, WM_CAP_EDIT_COPY, 0, 0), 0);
  EXPECT_EQ(clipboard->text(), "before");

  TCaptureWindow* window = Open(kBars);
  ASSERT_TRUE(ShowsAFrame(window));
  EXPECT_EQ(SendMessageA(handle_, WM_CAP_EDIT_COPY, 0, 0), 1);
  const QImage copied = clipboard->image();
  EXPECT_FALSE(clipboard->mimeData()->hasText());
  ASSERT_EQ(copied.size(), QSize(320, 240));
  EXPECT_FALSE(copied.hasAlphaChannel());
  EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32),
            window->ShownFrame().convertToFormat(QImage::Format_RGB32));
  ExpectBars(copied);
  clipboard->clear();
}

}  // namespace
