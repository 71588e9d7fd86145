<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>GlintorGUI</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
</context>
</TS>
