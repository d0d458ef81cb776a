<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: GPL-3.0-or-later -->
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>PictureFault</name>
    <message>
        <source>no such file</source>
        <translation>找不到這個檔案。</translation>
    </message>
    <message>
        <source>not a regular file (a folder, pipe or device)</source>
        <translation>這不是一般檔案（可能是資料夾、具名管道或裝置），不能當作圖檔使用。</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>沒有存取這個檔案的權限。</translation>
    </message>
    <message>
        <source>not a picture format ccdlab reads</source>
        <translation>這不是本程式能讀取的圖檔格式。</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>檔案是空的。</translation>
    </message>
    <message>
        <source>the picture is damaged or incomplete</source>
        <translation>圖檔已損毀或不完整。</translation>
    </message>
    <message>
        <source>the picture is too large (%1 x %2 pixels; at most %3 x %3)</source>
        <translation>圖片太大，最大只能開啟 %3 × %3 像素的圖片。（這張圖片宣告為 %1 × %2 像素）</translation>
    </message>
    <message>
        <source>the picture is too large (at most %1 x %1 pixels)</source>
        <translation>圖片太大，最大只能開啟 %1 × %1 像素的圖片。</translation>
    </message>
    <message>
        <source>samples of %1 bits are not supported (1, 2, 4, 8 or 16 are)</source>
        <translation>圖片每個樣本 %1 位元，本程式只能讀取 1、2、4、8 或 16 位元的樣本。</translation>
    </message>
    <message>
        <source>floating-point or signed samples are not supported</source>
        <translation>圖片的樣本是浮點數或有號整數，本程式只能讀取無號整數的樣本。</translation>
    </message>
    <message>
        <source>the colour model is not supported</source>
        <translation>本程式無法轉換這張圖片的色彩模式。</translation>
    </message>
    <message>
        <source>the colour model %1 is not supported</source>
        <translation>本程式無法轉換這張圖片的色彩模式（%1）。</translation>
    </message>
    <message>
        <source>read error</source>
        <translation>讀取檔案時發生錯誤。</translation>
    </message>
    <message>
        <source>read error (%1)</source>
        <translation>讀取檔案時發生錯誤（%1）。</translation>
    </message>
    <message>
        <source>not enough memory</source>
        <translation>記憶體不足，無法處理這張圖片。</translation>
    </message>
    <message>
        <source>the progressive picture has more than %1 scans, too many to decode in reasonable time</source>
        <translation>這張漸進式圖片分成超過 %1 次掃描，解碼會耗費過多時間，因此不予開啟。</translation>
    </message>
    <message>
        <source>the folder &apos;%1&apos; does not exist</source>
        <translation>資料夾「%1」不存在。</translation>
    </message>
    <message>
        <source>write error</source>
        <translation>寫入失敗。</translation>
    </message>
    <message>
        <source>write error (%1)</source>
        <translation>寫入失敗（%1）。</translation>
    </message>
    <message>
        <source>the disk is full</source>
        <translation>磁碟已滿，寫入失敗。</translation>
    </message>
    <message>
        <source>the disk is full (%1)</source>
        <translation>磁碟已滿，寫入失敗（%1）。</translation>
    </message>
    <message>
        <source>not a format ccdlab writes; use %1</source>
        <translation>不支援這種檔案格式，請使用 %1。</translation>
    </message>
    <message>
        <source>, </source>
        <translation>、</translation>
    </message>
    <message>
        <source>there is no picture to write</source>
        <translation>沒有圖片可以儲存。</translation>
    </message>
</context>
</TS>
