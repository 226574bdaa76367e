#pragma once

#include "form/inventory.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace qmr {

// The icons and button pictures of the window, drawn by the program itself.
class Pictures
{
public:
    // The faces the window uses: a narrow sans-serif face first (the longest messages and the
    // serial number with its two-digit suffix must fit their panels), then the Chinese face of
    // the script in use before the other one, so Traditional captions keep their own glyph
    // shapes.
    static QFont windowFont(int pixelSize, bool bold, Script script = Script::Latin);

    static QIcon magnifier();   // btnScan
    static QIcon idCard();      // btnID
    static QIcon lineSetting(); // btnBaudRate
    static QIcon modeSwitch();  // btnMode
    static QIcon progressBar(); // btnProcess
    static QIcon closeCross();  // btnExit

    // The tall quick-setting buttons: a headline in blue over two lines in red.
    static QPixmap quickSetting(const QString &headline, const QString &line1,
                                const QString &line2);
    // The language buttons: two characters in red.
    static QPixmap languageMark(const QString &characters);
};

} // namespace qmr
