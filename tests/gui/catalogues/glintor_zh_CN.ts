<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- A test catalogue for zh_CN, marked so that a test can tell it was installed. -->
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
<context>
    <name>GlintorGUI</name>
    <message>
        <source>设置</source>
        <translation>[zh_CN test catalogue] 设置</translation>
    </message>
    <message>
        <source>关于Glintor</source>
        <translation>[zh_CN test catalogue] 关于Glintor</translation>
    </message>
</context>
</TS>
