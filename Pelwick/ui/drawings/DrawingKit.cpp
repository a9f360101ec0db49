#include "ui/drawings/DrawingKit.h"

#include "ui/Theme.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace pelwick::DrawingKit {

namespace {

// Physical colours: the same in both schemes, with outlines that stand out on either window.
const QColor boxTop("#4a4e55");
const QColor boxBottom("#30333a");
const QColor boxEdge("#767b85");
const QColor boxLabel("#f2f2f2");
const QColor markOnBox("#6aafff");
const QColor keyEdge("#6a6a70");
const QColor lcdSegment("#1c2118");
const QColor lcdGhost(40, 48, 34, 12);

constexpr double digitWidth = 0.6;  // of the cell height
constexpr double blankWidth = 0.32; // of the cell height
constexpr double cellGap = 0.16;    // of the cell height
constexpr double lcdPadding = 0.45; // of the cell height, each side

struct Cell {
    int segments = 0;
    bool point = false;
    bool blank = false;
};

std::vector<Cell> cellsOf(const QString& text) {
    std::vector<Cell> cells;
    for (const QChar character : text) {
        if (character == '.') {
            if (cells.empty() || cells.back().point) {
                cells.push_back({});
            }
            cells.back().point = true;
            continue;
        }
        Cell cell;
        cell.blank = character == ' ';
        cell.segments = segmentsFor(character);
        cells.push_back(cell);
    }
    return cells;
}

double unitsOf(const std::vector<Cell>& cells) {
    double units = 0;
    for (const Cell& cell : cells) {
        units += (cell.blank ? blankWidth : digitWidth) + cellGap;
    }
    return std::max(units - cellGap, digitWidth);
}

QPolygonF segment(QPointF from, QPointF to, double thickness) {
    const QPointF delta = to - from;
    const double length = std::hypot(delta.x(), delta.y());
    const QPointF along = delta / length;
    const QPointF across(-along.y(), along.x());
    const double gap = thickness * 0.18;
    const QPointF a = from + along * gap;
    const QPointF b = to - along * gap;
    const double half = thickness / 2;
    return QPolygonF({a, a + along * half + across * half, b - along * half + across * half, b,
                      b - along * half - across * half, a + along * half - across * half});
}

void paintCell(QPainter& painter, const QRectF& cell, const Cell& content) {
    const double t = cell.width() * 0.2;
    const double left = cell.left() + t / 2;
    const double right = cell.right() - t / 2;
    const double top = cell.top() + t / 2;
    const double middle = cell.center().y();
    const double bottom = cell.bottom() - t / 2;
    const std::array<QPolygonF, 7> shapes = {
        segment({left, top}, {right, top}, t),        // a: top
        segment({right, top}, {right, middle}, t),    // b: upper right
        segment({right, middle}, {right, bottom}, t), // c: lower right
        segment({left, bottom}, {right, bottom}, t),  // d: bottom
        segment({left, middle}, {left, bottom}, t),   // e: lower left
        segment({left, top}, {left, middle}, t),      // f: upper left
        segment({left, middle}, {right, middle}, t),  // g: middle
    };
    // Slanted like the calculator's digits: shear around the cell's baseline.
    QTransform slant;
    slant.translate(cell.left(), cell.bottom());
    slant.shear(-0.09, 0);
    slant.translate(-cell.left(), -cell.bottom());
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        const bool lit = (content.segments >> i) & 1;
        if (content.blank && !lit) {
            continue;
        }
        painter.setBrush(lit ? lcdSegment : lcdGhost);
        painter.drawPolygon(slant.map(shapes[std::size_t(i)]));
    }
    const QRectF point(cell.right() + t * 0.25, cell.bottom() - t, t, t);
    painter.setBrush(content.point ? lcdSegment : lcdGhost);
    if (!content.blank || content.point) {
        painter.drawRect(point);
    }
}

QColor markColor(const QPalette& palette) {
    return Theme::accent(palette);
}

void paintMarkRing(QPainter& painter, const QPainterPath& ring, const QColor& color,
                   ButtonMark mark) {
    if (mark == ButtonMark::none) {
        return;
    }
    QPen pen(color, mark == ButtonMark::hold ? 3.2 : 2.2);
    if (mark == ButtonMark::release) {
        pen.setStyle(Qt::DashLine);
    }
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(ring);
}

} // namespace

int segmentsFor(QChar character) {
    switch (character.unicode()) {
    case '0':
    case 'O':
        return 0x3F;
    case '1':
    case 'I':
        return 0x06;
    case '2':
        return 0x5B;
    case '3':
        return 0x4F;
    case '4':
        return 0x66;
    case '5':
    case 'S':
        return 0x6D;
    case '6':
        return 0x7D;
    case '7':
        return 0x07;
    case '8':
    case 'B':
        return 0x7F;
    case '9':
        return 0x6F;
    case 'A':
    case 'a':
        return 0x77;
    case 'b':
        return 0x7C;
    case 'C':
        return 0x39;
    case 'c':
        return 0x58;
    case 'd':
    case 'D':
        return 0x5E;
    case 'E':
    case 'e':
        return 0x79;
    case 'F':
    case 'f':
        return 0x71;
    case 'H':
        return 0x76;
    case 'h':
        return 0x74;
    case 'L':
    case 'l':
        return 0x38;
    case 'n':
    case 'N':
        return 0x54;
    case 'o':
        return 0x5C;
    case 'P':
    case 'p':
        return 0x73;
    case 'r':
    case 'R':
        return 0x50;
    case 't':
    case 'T':
        return 0x78;
    case 'U':
        return 0x3E;
    case 'u':
        return 0x1C;
    case 'y':
    case 'Y':
        return 0x6E;
    case '-':
        return 0x40;
    default:
        return 0;
    }
}

void paintLcd(QPainter& painter, const QRectF& area, const QString& text) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double bezel = area.height() * 0.12;
    painter.setPen(QPen(keyEdge, 1));
    painter.setBrush(QColor("#2a2a2c"));
    painter.drawRoundedRect(area, bezel * 0.9, bezel * 0.9);

    const QRectF window = area.adjusted(bezel, bezel, -bezel, -bezel);
    QLinearGradient glass(window.topLeft(), window.bottomLeft());
    glass.setColorAt(0, QColor("#c3cbad"));
    glass.setColorAt(1, QColor("#a8b293"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glass);
    painter.drawRoundedRect(window, bezel * 0.4, bezel * 0.4);

    const std::vector<Cell> cells = cellsOf(text);
    const double units = unitsOf(cells);
    const double height =
        std::min(window.height() * 0.72, window.width() / (units + 2 * lcdPadding));
    double x = window.center().x() - units * height / 2;
    const double y = window.center().y() - height / 2;
    for (const Cell& cell : cells) {
        const double width = (cell.blank ? blankWidth : digitWidth) * height;
        paintCell(painter, QRectF(x, y, width, height), cell);
        x += width + cellGap * height;
    }
    painter.restore();
}

double lcdAspect(const QString& text) {
    const double units = unitsOf(cellsOf(text));
    const double windowHeight = 0.76;
    const double cell = windowHeight * 0.72;
    return 0.24 + cell * (units + 2 * lcdPadding);
}

void paintSwitchBox(QPainter& painter, const QRectF& box, const QPalette& palette, ButtonMark reset,
                    ButtonMark erase) {
    Q_UNUSED(palette);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(box.topLeft(), box.bottomLeft());
    body.setColorAt(0, boxTop);
    body.setColorAt(1, boxBottom);
    painter.setPen(QPen(boxEdge, 1));
    painter.setBrush(body);
    const double radius = box.height() * 0.16;
    painter.drawRoundedRect(box, radius, radius);

    const double buttonRadius = std::min(box.height() * 0.2, box.width() * 0.12);
    const double labelSize = std::max(7.0, box.height() * 0.17);
    const std::array<std::pair<const char*, ButtonMark>, 2> buttons = {std::pair{"RESET", reset},
                                                                       std::pair{"ERASE", erase}};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const auto& [label, mark] = buttons[i];
        const QPointF centre(box.left() + box.width() * (i == 0 ? 0.28 : 0.72),
                             box.top() + box.height() * 0.64);
        QFont font = painter.font();
        font.setPixelSize(int(std::round(labelSize)));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(boxLabel);
        const QRectF labelArea(centre.x() - box.width() * 0.22, box.top() + box.height() * 0.06,
                               box.width() * 0.44,
                               centre.y() - buttonRadius - box.top() - box.height() * 0.1);
        painter.drawText(labelArea, Qt::AlignCenter, QString::fromLatin1(label));

        const bool down = mark == ButtonMark::press || mark == ButtonMark::hold;
        QRadialGradient cap(centre - QPointF(buttonRadius * 0.3, buttonRadius * 0.3),
                            buttonRadius * 1.4);
        cap.setColorAt(0, down ? QColor("#a9a9a9") : QColor("#f2f2f2"));
        cap.setColorAt(1, down ? QColor("#7d7d7d") : QColor("#b9b9b9"));
        painter.setPen(QPen(QColor("#1e1e20"), 1));
        painter.setBrush(cap);
        painter.drawEllipse(centre, buttonRadius, buttonRadius);
        QPainterPath ring;
        ring.addEllipse(centre, buttonRadius + 3.5, buttonRadius + 3.5);
        paintMarkRing(painter, ring, markOnBox, mark);
    }
    painter.restore();
}

void paintKeyCap(QPainter& painter, const QRectF& key, const QString& label,
                 const QPalette& palette, ButtonMark mark, bool gKey) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = std::min(key.width(), key.height()) * 0.14;
    painter.setPen(QPen(keyEdge, 1));
    painter.setBrush(gKey ? QColor("#285f96") : QColor("#161618"));
    painter.drawRoundedRect(key, radius, radius);
    const double skirt = std::min(key.width(), key.height()) * 0.16;
    const QRectF face = key.adjusted(2, 2, -2, -skirt);
    QLinearGradient top(face.topLeft(), face.bottomLeft());
    top.setColorAt(0, gKey ? QColor("#5b9ad8") : QColor("#48484c"));
    top.setColorAt(1, gKey ? QColor("#3f7fc0") : QColor("#303033"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(top);
    painter.drawRoundedRect(face, radius * 0.8, radius * 0.8);

    painter.setPen(gKey ? QColor("#0d0d0f") : QColor("#f4f4f4"));
    QFont font = painter.font();
    font.setBold(true);
    const bool tall = key.height() > key.width() * 1.6 && label.size() > 2;
    if (tall) {
        // The tall ENTER key carries its label letter above letter.
        const double step = face.height() / (label.size() + 1);
        font.setPixelSize(int(std::max(6.0, std::min(step * 0.95, face.width() * 0.5))));
        painter.setFont(font);
        for (int i = 0; i < label.size(); ++i) {
            painter.drawText(QRectF(face.left(), face.top() + step * (i + 0.5), face.width(), step),
                             Qt::AlignCenter, label.mid(i, 1));
        }
    } else {
        const double byWidth = face.width() / std::max<qsizetype>(label.size(), 1) * 1.2;
        font.setPixelSize(int(std::max(6.0, std::min(face.height() * 0.55, byWidth))));
        painter.setFont(font);
        painter.drawText(face, Qt::AlignCenter, label);
    }
    QPainterPath ring;
    ring.addRoundedRect(key.adjusted(-4, -4, 4, 4), radius + 3, radius + 3);
    paintMarkRing(painter, ring, markColor(palette), mark);
    painter.restore();
}

void paintArrow(QPainter& painter, QPointF from, QPointF to, const QColor& color, double width) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF delta = to - from;
    const double length = std::hypot(delta.x(), delta.y());
    if (length < 1) {
        painter.restore();
        return;
    }
    const QPointF along = delta / length;
    const QPointF across(-along.y(), along.x());
    const double head = width * 4;
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(from, to - along * head * 0.8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPolygon(QPolygonF(
        {to, to - along * head + across * head * 0.55, to - along * head - across * head * 0.55}));
    painter.restore();
}

void paintCaption(QPainter& painter, const QRectF& area, const QString& text,
                  const QPalette& palette, double pixelSize, bool bold, Qt::Alignment alignment) {
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(int(std::round(pixelSize)));
    font.setBold(bold);
    painter.setFont(font);
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(area, alignment, text);
    painter.restore();
}

void paintCalculator(QPainter& painter, const QRectF& body, const QString& display,
                     const QPalette& palette, ButtonMark onMark) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = body.height() * 0.08;
    painter.setPen(QPen(keyEdge, 1));
    painter.setBrush(QColor("#29292b"));
    painter.drawRoundedRect(body, radius, radius);

    // Brushed top panel holding the display.
    const QRectF panel(body.left() + radius * 0.6, body.top() + radius * 0.6,
                       body.width() - radius * 1.2, body.height() * 0.34);
    QLinearGradient metal(panel.topLeft(), panel.bottomLeft());
    metal.setColorAt(0, QColor("#a59a83"));
    metal.setColorAt(1, QColor("#857a64"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(metal);
    painter.drawRoundedRect(panel, radius * 0.5, radius * 0.5);
    const double lcdHeight = panel.height() * 0.8;
    const double lcdWidth = std::min(panel.width() * 0.78, lcdHeight * lcdAspect(display));
    paintLcd(painter,
             QRectF(panel.left() + panel.width() * 0.06, panel.center().y() - lcdHeight / 2,
                    lcdWidth, lcdHeight),
             display);

    // Four rows of ten keys; ENTER spans the lower two rows in the sixth column.
    const QRectF keys(panel.left() + 2, panel.bottom() + body.height() * 0.07, panel.width() - 4,
                      body.bottom() - panel.bottom() - body.height() * 0.12);
    const double pitchX = keys.width() / 10;
    const double pitchY = keys.height() / 4;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 10; ++column) {
            if (column == 5 && row == 3) {
                continue;
            }
            QRectF key(keys.left() + column * pitchX + pitchX * 0.14,
                       keys.top() + row * pitchY + pitchY * 0.18, pitchX * 0.72, pitchY * 0.64);
            if (column == 5 && row == 2) {
                key.setBottom(keys.top() + 3 * pitchY + pitchY * 0.82);
            }
            QColor face("#3c3c3f");
            if (row == 3 && column == 1) {
                face = QColor("#d08a2e"); // f
            } else if (row == 3 && column == 2) {
                face = QColor("#3f7fc0"); // g
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor("#151517"));
            painter.drawRoundedRect(key, 2, 2);
            painter.setBrush(face);
            painter.drawRoundedRect(key.adjusted(1, 1, -1, -key.height() * 0.22), 1.5, 1.5);
            if (row == 3 && column == 0) {
                QPainterPath ring;
                ring.addRoundedRect(key.adjusted(-3.5, -3.5, 3.5, 3.5), 4, 4);
                paintMarkRing(painter, ring, markColor(palette), onMark);
            }
        }
    }
    painter.restore();
}

void fitDesign(QPainter& painter, const QRectF& target, QSizeF designSize) {
    const double scale =
        std::min(target.width() / designSize.width(), target.height() / designSize.height());
    painter.translate(target.center().x() - designSize.width() * scale / 2,
                      target.center().y() - designSize.height() * scale / 2);
    painter.scale(scale, scale);
}

} // namespace pelwick::DrawingKit
