<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: GPL-3.0-or-later -->
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>Options</name>
    <message>
        <source>usage: ccdlab [OPTION]

Opens the ccdlab window: a live camera preview or a picture file, turned into grey
levels, into black and white by a threshold picked on a slider with a live preview or
by one of ImageJ&apos;s automatic methods, or into edges by a 3 x 3 Laplacian, the
operations chained at will. Viewers show any picture zoomed, with its pixel values
and its histogram. The window speaks Traditional Chinese. It needs an X server or a
Wayland compositor; without one it says so and ends. ccdlab-cli runs the same
operations on picture files without a display.

Options:
  --help     print this text
  --version  print the version and the licence

Environment:
  CCDLAB_CAPTURE_SOURCE  a GStreamer source in gst-launch-1.0 syntax standing in for
                         every camera, such as &apos;videotestsrc pattern=smpte&apos;
  CCDLAB_SIMD            the widest instruction set the pixel operations may use,
                         by Highway&apos;s name for it, such as AVX2
  DISPLAY, WAYLAND_DISPLAY
                         the X server or the Wayland compositor the window opens on;
                         QT_QPA_PLATFORM (xcb or wayland) chooses between them

Exit status:
  0  the window was closed
  1  no display could be reached
  2  a usage error
</source>
        <translation>用法：ccdlab [選項]

開啟 ccdlab 視窗：即時的攝影機畫面或圖檔，可轉成灰階；以滑桿（即時預覽）或
ImageJ 的自動門檻方法選定門檻，轉成黑白；或以 3 x 3 拉普拉斯運算轉成邊緣影像，
各項操作可任意串接。檢視視窗可縮放顯示任何圖片，並顯示像素值與直方圖。
視窗介面為繁體中文。需要 X 伺服器或 Wayland 合成器；沒有的話會說明原因後結束。
ccdlab-cli 不需顯示器，就能在圖檔上執行同樣的操作。

選項：
  --help     印出這段說明
  --version  印出版本與授權條款

環境變數：
  CCDLAB_CAPTURE_SOURCE  以 gst-launch-1.0 語法寫的 GStreamer 來源，取代所有攝影機，
                         例如 &apos;videotestsrc pattern=smpte&apos;
  CCDLAB_SIMD            像素運算可使用的最寬指令集，以 Highway 的名稱指定，例如 AVX2
  DISPLAY, WAYLAND_DISPLAY
                         視窗所開在的 X 伺服器或 Wayland 合成器；
                         QT_QPA_PLATFORM（xcb 或 wayland）決定用哪一個

結束狀態：
  0  視窗已關閉
  1  找不到可用的顯示器
  2  用法錯誤
</translation>
    </message>
    <message>
        <source>camera picture and image-operation workbench</source>
        <translation>攝影機影像與影像處理工具</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>不明的選項 %1</translation>
    </message>
    <message>
        <source>unexpected argument %1: pictures are opened in the window</source>
        <translation>多餘的參數 %1：圖檔請在視窗中開啟</translation>
    </message>
    <message>
        <source>Try &apos;ccdlab --help&apos; for more information.</source>
        <translation>執行 'ccdlab --help' 可看到更多說明。</translation>
    </message>
</context>
</TS>
