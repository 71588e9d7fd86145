#pragma once

class QTranslator;

// Runs the catalogue search both programs share: zh_CN first, then the system locale, each in
// ":/translations", "./translations" and "/usr/share/glintor/translations". Installs the first
// catalogue found on the application and returns true; returns false and installs nothing otherwise.
bool installGlintorTranslation(QTranslator &translator);

