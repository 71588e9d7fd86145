<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- A test catalogue for a system language that Glintor does not ship. -->
<TS version="2.1" language="fr_FR" sourcelanguage="zh_CN">
<context>
    <name>GlintorGUI</name>
    <message>
        <source>设置</source>
        <translation>Réglages</translation>
    </message>
    <message>
        <source>关于Glintor</source>
        <translation>À propos de Glintor</translation>
    </message>
</context>
</TS>
