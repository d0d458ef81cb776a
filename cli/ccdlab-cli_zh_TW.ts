<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: GPL-3.0-or-later -->
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>CommandLine</name>
    <message>
        <source>--format %1 contradicts the extension of %2</source>
        <translation>--format %1 與 %2 的副檔名不符</translation>
    </message>
    <message>
        <source>writing to standard output needs --format</source>
        <translation>寫到標準輸出時必須以 --format 指定格式</translation>
    </message>
    <message>
        <source>the extension of %1 names no format ccdlab-cli writes; use --format</source>
        <translation>%1 的副檔名不是 ccdlab-cli 能寫入的格式；請用 --format 指定</translation>
    </message>
    <message>
        <source>standard input</source>
        <translation>標準輸入</translation>
    </message>
    <message>
        <source>no such file</source>
        <translation>找不到這個檔案</translation>
    </message>
    <message>
        <source>not a regular file (a folder, pipe or device)</source>
        <translation>不是一般檔案（可能是資料夾、管道或裝置）</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>沒有存取權限</translation>
    </message>
    <message>
        <source>not a picture format ccdlab-cli reads</source>
        <translation>不是 ccdlab-cli 能讀取的圖檔格式</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>檔案是空的</translation>
    </message>
    <message>
        <source>the picture is damaged or incomplete</source>
        <translation>圖檔已損毀或不完整</translation>
    </message>
    <message>
        <source>the picture is too large (%1 x %2 pixels; at most %3 x %3)</source>
        <translation>圖片太大（%1 × %2 像素；最大 %3 × %3）</translation>
    </message>
    <message>
        <source>the picture is too large (at most %1 x %1 pixels)</source>
        <translation>圖片太大（最大 %1 × %1 像素）</translation>
    </message>
    <message>
        <source>samples of %1 bits are not supported (1, 2, 4, 8 or 16 are)</source>
        <translation>不支援每個樣本 %1 位元（只支援 1、2、4、8 或 16 位元）</translation>
    </message>
    <message>
        <source>floating-point or signed samples are not supported</source>
        <translation>不支援浮點數或有號整數的樣本</translation>
    </message>
    <message>
        <source>the colour model %1 is not supported</source>
        <translation>不支援 %1 色彩模式</translation>
    </message>
    <message>
        <source>read error (%1)</source>
        <translation>讀取錯誤（%1）</translation>
    </message>
    <message>
        <source>not enough memory</source>
        <translation>記憶體不足</translation>
    </message>
    <message>
        <source>a black-and-white picture is needed: binarize first</source>
        <translation>需要黑白影像：請先二值化</translation>
    </message>
    <message>
        <source>the progressive picture has more than %1 scans, too many to decode in reasonable time</source>
        <translation>這張漸進式圖片分成超過 %1 次掃描，解碼會耗費過多時間</translation>
    </message>
    <message>
        <source>the folder &apos;%1&apos; does not exist</source>
        <translation>資料夾「%1」不存在</translation>
    </message>
    <message>
        <source>write error (%1)</source>
        <translation>寫入錯誤（%1）</translation>
    </message>
    <message>
        <source>the disk is full (%1)</source>
        <translation>磁碟已滿（%1）</translation>
    </message>
    <message>
        <source>not a format ccdlab-cli writes</source>
        <translation>不是 ccdlab-cli 能寫入的格式</translation>
    </message>
    <message>
        <source>there is no picture to write</source>
        <translation>沒有圖片可以寫入</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>無法讀取 %1：%2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>無法寫入 %1：%2</translation>
    </message>
    <message>
        <source>standard output</source>
        <translation>標準輸出</translation>
    </message>
    <message>
        <source>usage: ccdlab-cli [OPTION ...] INPUT OUTPUT [STEP ...]

Loads INPUT, runs the steps in order on it and writes the result to OUTPUT.
INPUT or OUTPUT may be - for standard input or output.

Steps:
</source>
        <translation>用法：ccdlab-cli [選項 ...] INPUT OUTPUT [步驟 ...]

讀入 INPUT，依序執行各步驟，把結果寫到 OUTPUT。
INPUT 或 OUTPUT 為 - 時代表標準輸入或標準輸出。

步驟：
</translation>
    </message>
    <message>
        <source>T chosen by an automatic method, as ImageJ&apos;s:</source>
        <translation>以自動門檻方法（與 ImageJ 相同）決定 T：</translation>
    </message>
    <message>
        <source>The first step works on the input picture; colour pictures are thresholded and
edged per channel. Without steps the picture is only converted.

Options:
  --format F       output format where OUTPUT&apos;s extension names none:
                   png, bmp, jpg, tif, ppm or pgm
  --quality N      JPEG quality, 1 ... 100 (default 90)
  --compression N  PNG and TIFF deflate level, 0 ... 9 (default 2)
  --time           print each stage&apos;s wall time (and the thresholds chosen) on
                   standard error
  --help           print this text
  --version        print the version and the licence
Options may stand anywhere; -- ends them.

Exit status:
  0  success
  1  a picture could not be read or written (nothing is written then)
  2  a usage error
</source>
        <translation>第一個步驟作用在輸入的圖片上；彩色圖片的二值化與邊緣化逐一處理每個色版。
沒有步驟時只轉換檔案格式。

選項：
  --format F       OUTPUT 的副檔名沒有指明格式時的輸出格式：
                   png、bmp、jpg、tif、ppm 或 pgm
  --quality N      JPEG 品質，1 ... 100（預設 90）
  --compression N  PNG 與 TIFF 的壓縮等級，0 ... 9（預設 2）
  --time           在標準錯誤輸出印出每個階段花費的時間（以及選出的門檻）
  --help           印出這段說明
  --version        印出版本與授權條款
選項可放在任何位置；-- 之後不再是選項。

結束狀態：
  0  成功
  1  圖片無法讀取或寫入（此時不寫入任何東西）
  2  用法錯誤
</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>不明的選項 %1</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 需要一個值</translation>
    </message>
    <message>
        <source>unknown output format %1</source>
        <translation>不明的輸出格式 %1</translation>
    </message>
    <message>
        <source>--quality takes a number from 1 to 100, not %1</source>
        <translation>--quality 的值須為 1 到 100 的整數，不是 %1</translation>
    </message>
    <message>
        <source>--compression takes a number from 0 to 9, not %1</source>
        <translation>--compression 的值須為 0 到 9 的整數，不是 %1</translation>
    </message>
    <message>
        <source>INPUT and OUTPUT are needed</source>
        <translation>必須指定 INPUT 與 OUTPUT</translation>
    </message>
    <message>
        <source>unknown threshold in %1: a number from 0 to 255 or one of %2</source>
        <translation>%1 的門檻不明：須為 0 到 255 的整數，或 %2 之一</translation>
    </message>
    <message>
        <source>unknown step %1</source>
        <translation>不明的步驟 %1</translation>
    </message>
    <message>
        <source>Try &apos;ccdlab-cli --help&apos; for more information.</source>
        <translation>執行 'ccdlab-cli --help' 可看到更多說明。</translation>
    </message>
</context>
<context>
    <name>Operations</name>
    <message>
        <source>grey levels of the picture, 8 bits per pixel</source>
        <translation>轉成灰階，每個像素 8 位元</translation>
    </message>
    <message>
        <source>bytes below T (0 ... 255) become 0, the others 255</source>
        <translation>小於 T（0 ... 255）的位元組變成 0，其餘變成 255</translation>
    </message>
    <message>
        <source>3 x 3 Laplacian edge image, borders wrapping around</source>
        <translation>3 x 3 拉普拉斯邊緣影像，邊界環繞</translation>
    </message>
    <message>
        <source>touching black objects cut apart along the necks of their distance map</source>
        <translation>相連的黑色物體沿距離圖的頸部切開</translation>
    </message>
</context>
<context>
    <name>Manual</name>
    <message>
        <source>run ccdlab&apos;s image operations on picture files</source>
        <translation>在圖檔上執行 ccdlab 的影像處理</translation>
    </message>
</context>
</TS>
