<?xml version="1.0" encoding="utf-8"?>
<!-- SPDX-License-Identifier: GPL-3.0-or-later -->
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>ManualPage</name>
    <message>
        <source>User Commands</source>
        <translation>使用者命令</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名稱</translation>
    </message>
    <message>
        <source>Synopsis</source>
        <translation>用法</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>說明</translation>
    </message>
    <message>
        <source>Copyright</source>
        <translation>版權</translation>
    </message>
    <message>
        <source>See also</source>
        <translation>參見</translation>
    </message>
    <message>
        <source>Copyright (C) %1
License GPL-3.0-or-later: GNU GPL version 3 or later &lt;https://gnu.org/licenses/gpl.html&gt;.
This is free software: you are free to change and redistribute it.
There is NO WARRANTY, to the extent permitted by law.
</source>
        <translation>Copyright (C) %1
授權條款 GPL-3.0-or-later：GNU GPL 第 3 版或任何更新的版本 &lt;https://gnu.org/licenses/gpl.html&gt;。
這是自由軟體：您可以自由修改及再散布。
在法律允許的範圍內，本軟體不提供任何擔保。
</translation>
    </message>
</context>
</TS>
