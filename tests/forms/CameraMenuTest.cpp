// SPDX-License-Identifier: GPL-3.0-or-later
// The camera panel's menu over the real device monitor, fed by a device provider of the tests' own
// whose cameras are videotestsrc elements; every other provider on the machine is hidden.

#include <gst/gst.h>

#include "Unit1.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <map>
#include <string>

#include "CameraFixture.h"
#include "CaptureWindow.h"
#include "Modal.h"

namespace {

using namespace capture;

// The cameras' source made last, while it exists.
GstElement* lastSource = nullptr;

struct TestCamera {
  GstDevice parent;
};
struct TestCameraClass {
  GstDeviceClass parent_class;
};
G_DEFINE_TYPE(TestCamera, test_camera, GST_TYPE_DEVICE)
GstElement* CreateSource(GstDevice*, const gchar* name) {
  if (lastSource != nullptr)
    g_object_remove_weak_pointer(G_OBJECT(lastSource), reinterpret_cast<gpointer*>(&lastSource));
  lastSource = gst_element_factory_make("videotestsrc", name);
  g_object_set(lastSource, "is-live", TRUE, nullptr);
  g_object_add_weak_pointer(G_OBJECT(lastSource), reinterpret_cast<gpointer*>(&lastSource));
  return lastSource;
}
void test_camera_class_init(TestCameraClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = CreateSource;
}
void test_camera_init(TestCamera*) {}

// Its list of devices is the one the plugging below keeps; it watches by being told.
struct TestProvider {
  GstDeviceProvider parent;
};
struct TestProviderClass {
  GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(TestProvider, test_provider, GST_TYPE_DEVICE_PROVIDER)
void test_provider_class_init(TestProviderClass* klass) {
  GST_DEVICE_PROVIDER_CLASS(klass)->start = [](GstDeviceProvider*) -> gboolean { return TRUE; };
  gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass),
                                                "ccdlab test cameras", "Video/Source",
                                                "Cameras for the tests", "ccdlab");
}
void test_provider_init(TestProvider*) {}

constexpr char kProvider[] = "ccdlabtestcameras";
constexpr char kLaptop[] = "Laptop Camera";
constexpr char kMicroscope[] = "USB Microscope";
constexpr char kLaptopCaps[] =
    "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1; "
    "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1";
constexpr char kMicroscopeCaps[] =
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1; "
    "video/x-raw,format=YUY2,width=800,height=600,framerate=25/1; "
    "video/x-raw,format=YUY2,width=1600,height=1200,framerate=5/1";

std::map<std::string, GstDevice*> plugged;

GstDeviceProvider* Provider() {
  return gst_device_provider_factory_get_by_name(kProvider);
}

void Plug(const char* name, const char* caps) {
  GstCaps* offered = gst_caps_from_string(caps);
  auto* device = GST_DEVICE(g_object_new(test_camera_get_type(), "display-name", name, "caps",
                                         offered, "device-class", "Video/Source", nullptr));
  gst_caps_unref(offered);
  plugged[name] = device;
  GstDeviceProvider* provider = Provider();
  gst_device_provider_device_add(provider, device);
  gst_object_unref(provider);
}

// Takes the camera off the list and fails the stream in use, as a pulled cable does.
void Unplug(const std::string name) {
  GstDeviceProvider* provider = Provider();
  gst_device_provider_device_remove(provider, plugged.at(name));
  gst_object_unref(provider);
  plugged.erase(name);
  if (lastSource != nullptr)
    GST_ELEMENT_ERROR(lastSource, RESOURCE, READ, ("unplugged"), (nullptr));
}

class CameraMenu : public CameraFormTest {
 protected:
  CameraMenu() : CameraFormTest("") {}

  static void SetUpTestSuite() {
    gst_init(nullptr, nullptr);
    ASSERT_TRUE(gst_device_provider_register(nullptr, kProvider, GST_RANK_PRIMARY * 2,
                                             test_provider_get_type()));
    GstDeviceProvider* provider = Provider();
    GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE);
    for (GList* item = factories; item != nullptr; item = item->next) {
      if (g_strcmp0(GST_OBJECT_NAME(item->data), kProvider) != 0)
        gst_device_provider_hide_provider(provider, GST_OBJECT_NAME(item->data));
    }
    gst_plugin_feature_list_free(factories);
    gst_object_unref(provider);
    Plug(kLaptop, kLaptopCaps);
    Plug(kMicroscope, kMicroscopeCaps);
  }
  void SetUp() override {
    CameraFormTest::SetUp();
    TCameras::Instance()->Choose({});
  }

  // Right-clicks the camera panel where the capture window may cover it, as the mouse does.
  QMenu* RightClickPanel() {
    const QPoint at = form_->Panel1->mapTo(form_.get(), form_->Panel1->rect().center());
    QTest::mouseClick(form_->windowHandle(), Qt::RightButton, {}, at);
    auto* menu = form_->findChild<QMenu*>(QStringLiteral("CameraMenu"));
    return menu != nullptr && QTest::qWaitFor([menu] { return menu->isVisible(); }, 10000)
               ? menu
               : nullptr;
  }
  // The entries as they read below "檢視…" (which always heads the menu), "*" before the checked
  // ones, "-" before the disabled ones.
  static QStringList Entries(QMenu* menu) {
    const QList<QAction*> actions = menu->actions();
    if (actions.size() < 2 || actions[0]->text() != "檢視…" || !actions[1]->isSeparator())
      return {"no 檢視… on top"};
    QStringList entries;
    for (QAction* action : actions.mid(2)) {
      if (action->isSeparator())
        entries << "[" + action->text() + "]";
      else
        entries << (action->isChecked() ? "*" : action->isEnabled() ? "" : "-") + action->text();
    }
    return entries;
  }
  // Picks an entry with the mouse.
  static void Pick(QMenu* menu, const QString& text) {
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) {
      if (action->text() == text) {
        // A menu that grew while open takes its new size once the window system has answered,
        // which a busy machine may not have done yet; a click beyond the old size closes it.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return menu->rect().contains(menu->actionGeometry(action)); }, 10000));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        return;
      }
    }
    ADD_FAILURE() << "no entry " << text.toStdString();
    menu->close();
  }
  void Open() {
    OnNextModal([](QWidget* modal) { modal->close(); });
    form_->Button1->click();
  }
  TCaptureWindow* Window() const { return CaptureWindowFromHandle(CaptureWnd); }
  // The size of the frame a grab takes once the preview shows `size`.
  QSize GrabbedOnceShowing(QSize size) {
    if (!QTest::qWaitFor(
            [&] { return Window() != nullptr && Window()->ShownFrame().size() == size; }, 10000))
      return {};
    form_->Button2Click();
    const TBitmap* main = form_->Image1->Picture()->Bitmap();
    return {main->Width(), main->Height()};
  }
};

// Each choice reconnects the preview: the grab takes a frame of the size chosen, and the menu,
// over the capture window now, checks what is in use.
TEST_F(CameraMenu, ListsTheCamerasAndTheSizesOfTheOneInUseAndAChoiceReachesTheGrabbedFrame) {
  QMenu* menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Entries(menu),
            QStringList({"[攝影機]", "*Laptop Camera", "USB Microscope", "[影像大小]",
                         "1280 × 720 @ 10 fps", "*640 × 480 @ 30 fps"}));
  menu->close();
  Open();
  EXPECT_EQ(GrabbedOnceShowing({640, 480}), QSize(640, 480));
  const struct {
    const char* entry;
    QSize size;
    QStringList checked;
  } choices[] = {
      {"1280 × 720 @ 10 fps", {1280, 720}, {"*Laptop Camera", "*1280 × 720 @ 10 fps"}},
      // A camera starts at its own default size.
      {kMicroscope, {800, 600}, {"*USB Microscope", "*800 × 600 @ 25 fps"}},
      {"1600 × 1200 @ 5 fps", {1600, 1200}, {"*USB Microscope", "*1600 × 1200 @ 5 fps"}},
      {kLaptop, {640, 480}, {"*Laptop Camera", "*640 × 480 @ 30 fps"}},
  };
  for (const auto& choice : choices) {
    Pick(RightClickPanel(), QString::fromUtf8(choice.entry));
    EXPECT_EQ(GrabbedOnceShowing(choice.size), choice.size) << choice.entry;
    menu = RightClickPanel();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Entries(menu).filter(QRegularExpression("^\\*")), choice.checked) << choice.entry;
    menu->close();
  }
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 1);

  // Without a preview the choice waits for the next open.
  form_->Button3Click();
  Pick(RightClickPanel(), QString::fromUtf8(kMicroscope));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
  Open();
  EXPECT_EQ(GrabbedOnceShowing({800, 600}), QSize(800, 600));
}

TEST_F(CameraMenu, ACameraPluggedInShowsAndOneUnpluggedGoes) {
  constexpr char kDocument[] = "Document Camera";
  constexpr char kDocumentCaps[] = "video/x-raw,format=YUY2,width=1024,height=768,framerate=30/1";
  QMenu* menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  Plug(kDocument, kDocumentCaps);
  // The open menu takes it in.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Entries(menu).contains(kDocument); }, 5000))
      << Entries(menu).join(", ").toStdString();
  Pick(menu, kDocument);
  Open();
  EXPECT_EQ(GrabbedOnceShowing({1024, 768}), QSize(1024, 768));

  Unplug(kDocument);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window()->State() == TCaptureState::Lost; }, 5000));
  EXPECT_EQ(Window()->StateLine(), "攝影機已中斷");
  menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Entries(menu).mid(0, 3), QStringList({"[攝影機]", "*Laptop Camera", "USB Microscope"}));
  menu->close();
  // The next open finds the camera that is there, which stays in use when the other returns.
  Open();
  EXPECT_EQ(GrabbedOnceShowing({640, 480}), QSize(640, 480));
  Plug(kDocument, kDocumentCaps);
  menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Entries(menu).contains(kDocument); }, 5000));
  EXPECT_EQ(Entries(menu).mid(0, 2), QStringList({"[攝影機]", "*Laptop Camera"}));
  menu->close();
}

TEST_F(CameraMenu, SaysWhenThereIsNoCameraOrTheStandInOverridesThem) {
  while (!plugged.empty())
    Unplug(plugged.begin()->first);
  QMenu* menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Entries(menu) == QStringList({"-無攝影機"}); }, 5000))
      << Entries(menu).join(", ").toStdString();
  menu->close();
  Plug(kLaptop, kLaptopCaps);
  Plug(kMicroscope, kMicroscopeCaps);

  qputenv("CCDLAB_CAPTURE_SOURCE", "videotestsrc pattern=ball");
  menu = RightClickPanel();
  ASSERT_NE(menu, nullptr);
  const QStringList entries = Entries(menu);
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0], "*CCDLAB_CAPTURE_SOURCE：videotestsrc pattern=ball");
  EXPECT_FALSE(menu->actions()[2]->isEnabled());
  menu->close();
}

}  // namespace
