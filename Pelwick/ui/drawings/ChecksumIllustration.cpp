#include "ui/drawings/ChecksumIllustration.h"

#include "ui/drawings/DrawingKit.h"

#include <QPainter>

namespace pelwick {

using namespace DrawingKit;

const char* const ChecksumIllustration::description =
    "Turn the calculator off with ON, hold g and ENTER, press ON, release g and ENTER. The display "
    "shows the test menu 1.L 2.C 3.H. Press 2 for the checksum";

ChecksumIllustration::ChecksumIllustration(QWidget* parent)
    : IllustrationWidget(QSizeF(600, 244), "Test menu and checksum", QString::fromUtf8(description),
                         parent) {}

void ChecksumIllustration::paintDesign(QPainter& painter) {
    const QPalette pal = palette();
    const char* const captions[] = {"1. Turn OFF",          "2. Hold g + ENTER", "3. Press ON",
                                    "4. Release g + ENTER", "5. Test menu",      "6. Press 2"};
    // g, ENTER and ON side by side, centred in a panel, each with its mark (ON optional).
    auto keys = [&](const QRectF& panel, ButtonMark shifted, ButtonMark on, bool showOn) {
        const double width = showOn ? 132 : 86;
        double x = panel.center().x() - width / 2;
        const double y = panel.top() + 4;
        paintKeyCap(painter, QRectF(x, y + 20, 38, 32), "g", pal, shifted, true);
        paintKeyCap(painter, QRectF(x + 48, y, 38, 74), "ENTER", pal, shifted);
        if (showOn) {
            paintKeyCap(painter, QRectF(x + 96, y + 20, 38, 32), "ON", pal, on);
        }
    };
    for (int i = 0; i < 6; ++i) {
        const QRectF panel(i % 3 * 200, i / 3 * 124 + 4, 200, 82);
        switch (i) {
        case 0:
            paintKeyCap(painter, QRectF(panel.center().x() - 20, panel.top() + 24, 40, 34), "ON",
                        pal, ButtonMark::press);
            break;
        case 1:
            keys(panel, ButtonMark::hold, ButtonMark::none, false);
            break;
        case 2:
            keys(panel, ButtonMark::hold, ButtonMark::press, true);
            break;
        case 3:
            keys(panel, ButtonMark::release, ButtonMark::none, false);
            break;
        case 4:
            paintLcd(painter, QRectF(panel.center().x() - 80, panel.top() + 18, 160, 46),
                     "1.L 2.C 3.H");
            break;
        case 5:
            paintKeyCap(painter, QRectF(panel.center().x() - 20, panel.top() + 24, 40, 34), "2",
                        pal, ButtonMark::press);
            break;
        }
        paintCaption(painter, QRectF(panel.left(), panel.bottom() + 6, 200, 22), captions[i], pal,
                     13, true);
    }
}

} // namespace pelwick
